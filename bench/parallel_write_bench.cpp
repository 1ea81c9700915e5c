// Four boards at once against one board alone: four virtual PIC18F252s on
// four pseudo-terminals, each paced like a 115200-baud line and taking a
// PIC18F252's block write time, written by one vantlebld-cli call with
// four --port; then one board alone the same way. Each board has its own
// engine, link and thread, so the four should take about as long as one:
// goal parallel / one board at most 1.10.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/vantlebld_comm.h"

#ifndef VANTLEBLD_SIM_PATH
#error VANTLEBLD_SIM_PATH names the vantlebld-sim program
#endif
#ifndef VANTLEBLD_CLI_PATH
#error VANTLEBLD_CLI_PATH names the vantlebld-cli program
#endif

namespace {

using namespace vantlebld;
using namespace vantlebld::bench;
using TClock = std::chrono::steady_clock;

constexpr int kBoards = 4;

// Starts `boards` paced virtual PICs, writes them with one CLI call and
// returns the call's wall time in ms.
double WriteBoards(int boards, const std::string& piccodes, const std::string& hex) {
  std::vector<TChild> sims;
  std::vector<std::string> args = {
      VANTLEBLD_CLI_PATH, "write", hex, "--piccodes", piccodes, "--baud", std::to_string(kBaud)};
  for (int i = 0; i < boards; ++i) {
    sims.push_back(
        StartSim(VANTLEBLD_SIM_PATH, piccodes,
                 {"--baud-pace", std::to_string(kBaud), "--write-ms", std::to_string(kWriteMs)}));
    args.push_back("--port");
    args.push_back(sims.back().FirstLine);
  }
  const auto t0 = TClock::now();
  const TChild cli = StartChild(args, false);
  const int code = WaitChild(cli.Pid);
  const double ms = std::chrono::duration<double, std::milli>(TClock::now() - t0).count();
  bool simsOk = true;
  for (const auto& sim : sims)
    simsOk = WaitChild(sim.Pid) == 0 && simsOk;
  if (code != 0)
    throw std::runtime_error("vantlebld-cli failed, exit code " + std::to_string(code));
  if (!simsOk) throw std::runtime_error("a virtual PIC reported errors");
  return ms;
}

}  // namespace

int main() {
  const std::string piccodes = std::string(VANTLEBLD_SOURCE_DIR) + "/data/piccodes.ini";
  const std::string hex = FullImageFile(piccodes, "pic18f252_parallel.hex");
  try {
    const double parallel = WriteBoards(kBoards, piccodes, hex);
    const double one = WriteBoards(1, piccodes, hex);
    std::printf("%d boards at once: %.0f ms, one board: %.0f ms\n", kBoards, parallel, one);
    std::printf("parallel write time vs one board: %.2f\n", parallel / one);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_parallel_write: %s\n", e.what());
    return 1;
  }
  std::filesystem::remove(hex);
  return 0;
}
