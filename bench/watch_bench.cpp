// vantlebld-cli write --watch against vantlebld-sim: how long from the
// moment a build has rewritten the HEX file to the first byte of the new
// program on the monitor, next to what the protocol itself costs for it.
//
// The virtual PIC is paced like a PIC18F252 on a 115200-baud line (each
// byte's line time, W ms to write each block from the datasheet), runs the
// written program after 300 ms of quiet and restarts into its bootloader
// on the reset codes. The program is 1 KB.
//
// The model of one turnaround is what nobody can shorten: the file must
// stand still for 300 ms, the pre-codes and their 100 ms, one probe
// interval of the search, every block's time on the line with the
// host's pause and the firmware's write, the firmware's 300 ms of quiet
// before it runs the program, and the first stream byte. The ratio
// measured / model says what the host adds (goal: at most 1.3).
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "engine/defaults.h"
#include "engine/file_watch.h"
#include "engine/memory_map.h"
#include "engine/remote_reset.h"
#include "sim/virtual_pic.h"

#ifndef VANTLEBLD_CLI_PATH
#error VANTLEBLD_CLI_PATH names the vantlebld-cli program
#endif

namespace {

using namespace vantlebld;
using namespace vantlebld::bench;
using TClock = std::chrono::steady_clock;

constexpr int32_t kProgramBytes = 1024;
constexpr int kRewrites = 5;
constexpr const char* kResetCodes = "80h 12h";
constexpr int32_t kResetCodeCount = 2;
constexpr int32_t kStreamRate = 1000;  // bytes per second: the first one 1 ms after the start
constexpr auto kGuard = std::chrono::seconds(30);
constexpr const char* kStatus = "last write ";

// vantlebld-cli with stdout and stderr in one pipe, stdin empty.
struct TCli {
  pid_t Pid = -1;
  int Out = -1;
  std::string Text;  // everything it printed so far

  // Reads until ready(Text) holds; returns when the last piece arrived.
  template <class F>
  TClock::time_point ReadUntil(F&& ready) {
    const auto limit = TClock::now() + kGuard;
    TClock::time_point arrived = TClock::now();
    while (!ready(Text)) {
      if (TClock::now() > limit) throw std::runtime_error("vantlebld-cli went quiet:\n" + Text);
      pollfd p{Out, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(Out, buf, sizeof buf);
      if (n <= 0) throw std::runtime_error("vantlebld-cli ended:\n" + Text);
      arrived = TClock::now();
      Text.append(buf, static_cast<size_t>(n));
    }
    return arrived;
  }
};

TCli StartCli(std::vector<std::string> args) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  TCli cli;
  cli.Pid = fork();
  if (cli.Pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    if (freopen("/dev/null", "r", stdin) == nullptr) _exit(127);
    close(fds[0]);
    Exec(args);
  }
  close(fds[1]);
  cli.Out = fds[0];
  return cli;
}

// True once the status line of write number n (from 1) is out and a byte
// of the monitor follows it.
bool MonitorAfterWrite(const std::string& text, int n) {
  size_t at = 0;
  for (int i = 0; i < n; ++i) {
    at = text.find(kStatus, at);
    if (at == std::string::npos) return false;
    at += 1;
  }
  const size_t end = text.find('\n', at);
  if (end == std::string::npos) return false;
  if (text.compare(at - 1 + std::char_traits<char>::length(kStatus) + 9, 2, "OK") != 0)
    throw std::runtime_error("a write failed:\n" + text.substr(at - 1));
  return text.size() > end + 1;
}

}  // namespace

int main() {
  const std::string piccodes = std::string(VANTLEBLD_SOURCE_DIR) + "/data/piccodes.ini";
  const auto dir = std::filesystem::temp_directory_path() / "vantlebld_bench";
  std::filesystem::create_directories(dir);
  const std::string hex = (dir / "watch.hex").string();
  try {
    WriteFullImage(hex, kProgramBytes);
    TVantleBootloader table;
    table.LoadPicCodesFile(piccodes);
    const TWritePlan plan = MapHexFile(kPic18F252, hex, kBaud, true).Plan;
    const double blocksMs =
        static_cast<double>(plan.ModelMs) + static_cast<double>(plan.Blocks) * kWriteMs;
    const double resetMs = kResetCodeCount * kPreCodePauseMs + kPreCodesSettleMs;
    const double firstByteMs = 1000.0 / kStreamRate;
    const double modelMs = THexFileWatch::kSettleMs + resetMs + kDefaultTimeoutMs + blocksMs +
                           TVirtualPic::kRunAfterIdleMs + firstByteMs;

    const TChild sim = StartSim(VANTLEBLD_SIM_PATH, piccodes,
                                {"--baud-pace", std::to_string(kBaud), "--write-ms",
                                 std::to_string(kWriteMs), "--run-after-write", "--stream",
                                 std::to_string(kStreamRate), "--reset-codes", kResetCodes});
    TCli cli = StartCli({VANTLEBLD_CLI_PATH, "write", hex, "--piccodes", piccodes, "--port",
                         sim.FirstLine, "--watch", "--precodes", kResetCodes});
    cli.ReadUntil([](const std::string& t) { return MonitorAfterWrite(t, 1); });
    std::vector<double> turnarounds;
    for (int i = 1; i <= kRewrites; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));       // the program runs a while
      WriteFullImage(hex, kProgramBytes, 7 + static_cast<uint32_t>(i));  // the build's new file
      const auto changed = TClock::now();
      const auto first =
          cli.ReadUntil([i](const std::string& t) { return MonitorAfterWrite(t, i + 1); });
      turnarounds.push_back(std::chrono::duration<double, std::milli>(first - changed).count());
    }
    kill(cli.Pid, SIGTERM);
    const int cliCode = WaitChild(cli.Pid);
    kill(sim.Pid, SIGTERM);
    const int simCode = WaitChild(sim.Pid);
    if (cliCode != 0 || simCode != 0)
      throw std::runtime_error(
          Format("exit codes: vantlebld-cli %d, vantlebld-sim %d", cliCode, simCode));
    std::sort(turnarounds.begin(), turnarounds.end());
    const double median = turnarounds[turnarounds.size() / 2];
    std::printf("watch: %d-byte program, %d blocks, PIC18F252 at %d baud, %d rewrites\n",
                kProgramBytes, plan.Blocks, kBaud, kRewrites);
    std::printf(
        "write model: %.0f ms = settle %lld + reset %.0f + probe %d + blocks %.0f + program "
        "start %lld + first byte %.0f\n",
        modelMs, static_cast<long long>(THexFileWatch::kSettleMs), resetMs, kDefaultTimeoutMs,
        blocksMs, static_cast<long long>(TVirtualPic::kRunAfterIdleMs), firstByteMs);
    std::printf("watch turnaround: %.2f s (median; fastest %.2f s, slowest %.2f s)\n",
                median / 1000.0, turnarounds.front() / 1000.0, turnarounds.back() / 1000.0);
    std::printf("watch turnaround vs write model: %.2f\n", median / modelMs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_watch: %s\n", e.what());
    return 1;
  }
  std::filesystem::remove(hex);
  return 0;
}
