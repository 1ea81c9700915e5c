#include "cli/monitor.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iterator>

#include "cli/link_job.h"
#include "engine/defaults.h"
#include "engine/jobs.h"
#include "terminal/receive.h"

namespace vantlebld {

namespace {

// How long one wait for the PIC's bytes lasts before the keyboard is
// looked at again.
constexpr int32_t kMonitorPollMs = 10;

// The signal that ended the monitor; 0 while none has.
volatile std::sig_atomic_t gStop = 0;
void OnStopSignal(int sig) {
  gStop = sig;
}

// The signals that end the monitor. SIGINT and SIGTERM end it as Ctrl+]
// does; SIGHUP and SIGQUIT end the program as they would have, once the
// terminal is put back (and not at all where they were ignored: nohup).
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

bool EndsTheProgram(int sig) {
  return sig == SIGHUP || sig == SIGQUIT;
}

// The input terminal in raw mode while the monitor runs, as it was after.
class TRawInput {
 public:
  explicit TRawInput(int fd) : fd_(fd) {
    if (!isatty(fd_) || tcgetattr(fd_, &saved_) != 0) return;
    termios raw = saved_;
    cfmakeraw(&raw);
    raw.c_oflag = saved_.c_oflag;  // the output keeps its line ends
    raw_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
  }
  ~TRawInput() {
    if (raw_) tcsetattr(fd_, TCSANOW, &saved_);
  }
  TRawInput(const TRawInput&) = delete;
  TRawInput& operator=(const TRawInput&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool raw_ = false;
};

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void SayQuitKey(int inFd) {
  if (isatty(inFd)) std::fprintf(stderr, "vantlebld-cli: Ctrl+] to quit\n");
}

std::string LineEndOf(const std::string& name) {
  if (name == "cr") return "\r";
  if (name == "lf") return "\n";
  if (name == "crlf") return "\r\n";
  return {};
}

TMonitorEnd RunMonitor(TLink* link, const TMonitorOptions& options, int inFd, int outFd) {
  gStop = 0;
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  struct sigaction old[std::size(kStopSignals)] = {};
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], nullptr, &old[i]);
    if (!EndsTheProgram(kStopSignals[i]) || old[i].sa_handler != SIG_IGN)
      sigaction(kStopSignals[i], &stop, nullptr);
  }
  TMonitorEnd end = TMonitorEnd::Quit;
  {
    TRawInput raw(inFd);
    // The last byte shown, so a terminal is left on a fresh line.
    char last = '\n';
    bool typing = true;
    bool afterCr = false;
    bool dumping = options.Dump != nullptr;
    while (!gStop) {
      if (options.Release && options.Release()) {
        end = TMonitorEnd::Released;
        break;
      }
      std::string bytes;
      pollfd in{inFd, POLLIN, 0};
      if (link != nullptr) {
        const TReceiveResult r = link->ReceiveWaiting(kMonitorPollMs);
        if (r.Broken()) {
          std::fprintf(stderr, "\r\nvantlebld-cli: %s\n", r.Reason.c_str());
          end = TMonitorEnd::LinkFailed;
          break;
        }
        bytes = r.Bytes;
      } else if (!typing || poll(&in, 1, kMonitorPollMs) <= 0) {
        if (!typing) poll(nullptr, 0, kMonitorPollMs);
        continue;
      }
      if (!bytes.empty()) {
        if (dumping &&
            !options.Dump->write(bytes.data(), static_cast<std::streamsize>(bytes.size()))
                 .flush()) {
          std::fprintf(stderr, "\r\nvantlebld-cli: could not write the dump file; dumping stops\n");
          dumping = false;
        }
        const std::string shown =
            options.HexView ? FormatReceived(bytes, int(TReceiveView::Hex)) : bytes;
        if (!WriteAll(outFd, shown)) break;
        last = shown.back();
      }
      if (!typing || poll(&in, 1, 0) <= 0) continue;
      char typed[256];
      const ssize_t n = read(inFd, typed, sizeof typed);
      if (n <= 0) {
        typing = false;  // the input ended: the monitor goes on listening
        continue;
      }
      std::string out;
      bool quit = false;
      for (ssize_t i = 0; i < n && !quit; ++i) {
        const char c = typed[i];
        // Enter: CR from a terminal, LF from a pipe, CR LF from a file.
        if (c == '\n' && afterCr) {
          afterCr = false;
          continue;
        }
        afterCr = c == '\r';
        if (c == kMonitorQuit) {
          quit = true;
        } else if (c == '\r' || c == '\n') {
          out += options.LineEnd;
        } else {
          out += c;
        }
      }
      try {
        if (!out.empty() && link != nullptr) link->Send(out);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "\r\nvantlebld-cli: %s\n", e.what());
        end = TMonitorEnd::LinkFailed;
        break;
      }
      if (quit) break;
    }
    // What comes after the monitor starts on a line of its own.
    if (end == TMonitorEnd::Quit && last != '\n' && isatty(outFd)) WriteAll(outFd, "\n");
  }
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    sigaction(kStopSignals[i], &old[i], nullptr);
  if (EndsTheProgram(gStop)) raise(gStop);
  return end;
}

TMonitorOptions MonitorOptionsFrom(const CliOptions& o, std::ofstream* dump) {
  TMonitorOptions m;
  if (o.Has("eol")) m.LineEnd = LineEndOf(o.Value("eol"));
  if (m.LineEnd.empty()) throw CliUsageError("--eol takes cr, lf or crlf");
  const std::string view = o.Value("monitor-view", "raw");
  if (view != "raw" && view != "hex") throw CliUsageError("--monitor-view takes raw or hex");
  m.HexView = view == "hex";
  if (dump != nullptr && o.Has("dump")) {
    dump->open(o.Value("dump"), std::ios::binary | std::ios::trunc);
    if (!*dump) throw EVantleError("Could not open " + o.Value("dump"));
    m.Dump = dump;
  }
  return m;
}

void OpenMonitorLink(TVantleBootloader& engine, const CliOptions& o) {
  if (!engine.Link->IsOpen()) {
    const std::vector<TBoardPlan> boards = PlanBoards(o);
    if (boards.size() != 1 || boards.front().Port.empty() || boards.front().Simulation)
      throw CliUsageError("monitor needs one --port");
    InstallLink(engine, o);
    engine.Connect(boards.front().Port,
                   static_cast<int32_t>(o.Number("baud", kDefaultBaudRate, 1, kMaxBaudRate)));
  }
  if (o.Has("monitor-baud"))
    engine.Configure(static_cast<int32_t>(o.Number("monitor-baud", 0, 1, kMaxBaudRate)));
}

int MonitorFromOptions(TVantleBootloader& engine, const CliOptions& o,
                       const std::function<void()>& flushLog) {
  std::ofstream dump;
  const TMonitorOptions m = MonitorOptionsFrom(o, &dump);
  OpenMonitorLink(engine, o);
  flushLog();
  std::fflush(stdout);
  SayQuitKey(STDIN_FILENO);
  const TMonitorEnd end = RunMonitor(engine.Link.get(), m, STDIN_FILENO, STDOUT_FILENO);
  DisconnectQuietly(engine);
  return end == TMonitorEnd::LinkFailed ? kExitJobFailed : kExitOk;
}

}  // namespace vantlebld
