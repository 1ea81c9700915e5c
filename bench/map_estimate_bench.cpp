// The map's write estimate against a real write: for an example of each
// family, the time the map's write plan gives and the "time:" of the write
// into vantlebld-sim paced at the same baud rate over a pseudo-terminal.
// Prints each pair and, last, the largest deviation (goal: at most 0.05).
#include <cmath>
#include <cstdio>
#include <memory>
#include <regex>

#include "bench/bench_support.h"
#include "engine/memory_map.h"

using namespace vantlebld;
using namespace vantlebld::bench;

namespace {

// The seconds of the "WRITE OK ... time:S sec" line of a CLI write.
double WriteSeconds(const std::string& example, const std::string& port) {
  const std::string command = std::string(VANTLEBLD_CLI_PATH) + " write " + example + " --port " +
                              port + " --baud " + std::to_string(kBaud);
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run vantlebld-cli");
  std::string out;
  char buffer[4096];
  while (const size_t n = fread(buffer, 1, sizeof buffer, pipe.get()))
    out.append(buffer, n);
  std::smatch m;
  if (!std::regex_search(out, m, std::regex(R"(WRITE OK .*time:(\d+\.\d+) sec)")))
    throw std::runtime_error("no WRITE OK from " + command + ":\n" + out);
  return std::stod(m[1]);
}

}  // namespace

int main() {
  const std::string source = VANTLEBLD_SOURCE_DIR;
  const std::string piccodes = source + "/data/piccodes.ini";
  TVantleBootloader table;
  table.LoadPicCodesFile(piccodes);
  const struct {
    const char* code;
    const char* example;
  } cases[] = {{"32", "pic16f877a_blink"},
               {"41", "pic18f252_blink"},
               {"73", "dspic30f4013_blink"},
               {"81", "dspic33fj128gp706_blink"}};
  double worst = 0;
  try {
    for (const auto& c : cases) {
      const std::string example = source + "/examples/" + c.example + ".hex";
      const TMemoryMap map =
          MapHexFile(static_cast<uint8_t>(std::stoi(c.code, nullptr, 16)), example, kBaud, true);
      TChild sim = StartChild({VANTLEBLD_SIM_PATH, "--code", std::string(c.code) + "h",
                               "--piccodes", piccodes, "--baud-pace", std::to_string(kBaud)});
      if (sim.FirstLine.rfind("PTY ", 0) != 0) throw std::runtime_error(sim.FirstLine);
      const double written = WriteSeconds(example, sim.FirstLine.substr(4));
      WaitChild(sim.Pid);
      const double estimate = static_cast<double>(map.Plan.ModelMs) / 1000;
      const double deviation = std::abs(estimate - written) / written;
      worst = std::max(worst, deviation);
      std::printf("%-26s %3d blocks: map %.3f s, write %.3f s\n", c.example, map.Plan.Blocks,
                  estimate, written);
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_map_estimate: %s\n", e.what());
    return 1;
  }
  std::printf("map estimate vs write, largest deviation: %.3f\n", worst);
  return 0;
}
