#include "cli/watch.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "cli/monitor.h"
#include "engine/file_watch.h"
#include "engine/format.h"
#include "engine/jobs.h"

namespace vantlebld {

namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A note between the program's bytes: on a line of its own.
void Say(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "\r\nvantlebld-cli: %s\n", text.c_str());
}

}  // namespace

std::string WatchStatusLine(const std::string& file, const TWriteOutcome& last) {
  char clock[16] = "--:--:--";
  std::tm local{};
  if (localtime_r(&last.Finished, &local) != nullptr)
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  std::string line = Format("watching %s \xE2\x80\x94 last write %s %s (%.1f s)", file.c_str(),
                            clock, last.Ok ? "OK" : "FAILED", last.Seconds);
  if (!last.Ok) line += ": " + last.Error;
  return line;
}

int RunWatch(TVantleBootloader& engine, const CliOptions& o,
             const std::function<TWriteOutcome()>& write, const std::function<void()>& flushLog) {
  const std::string file = o.Arguments.at(0);
  // Made before the first write, so a build that finishes during it is
  // written next.
  THexFileWatch watch(file);
  std::ofstream dump;
  TMonitorOptions m = MonitorOptionsFrom(o, &dump);
  m.Release = [&watch, &file] {
    switch (watch.Poll(SteadyMs())) {
      case THexFileWatch::TEvent::Ready:
        return true;
      case THexFileWatch::TEvent::Incomplete:
        Say(file + " is not complete HEX yet; waiting for the build to finish it");
        return false;
      case THexFileWatch::TEvent::Corrupt:
        Say(CorruptText(file, watch.LastCheck()) + "; waiting for the next build");
        return false;
      default:
        return false;
    }
  };
  TWriteOutcome last = write();
  for (bool first = true;; first = false) {
    flushLog();
    Say(WatchStatusLine(file, last));
    if (first) SayQuitKey(STDIN_FILENO);
    TLink* link = nullptr;
    try {
      OpenMonitorLink(engine, o);
      link = engine.Link.get();
    } catch (const CliUsageError&) {
      throw;
    } catch (const std::exception& e) {
      // The port is gone for now: the next change tries again.
      Say(std::string("no monitor: ") + e.what());
      DisconnectQuietly(engine);
    }
    std::fflush(stdout);
    const TMonitorEnd end = RunMonitor(link, m, STDIN_FILENO, STDOUT_FILENO);
    if (end == TMonitorEnd::Quit) break;
    if (end == TMonitorEnd::LinkFailed) {
      // Watched on without a link until the next change.
      DisconnectQuietly(engine);
      const TMonitorEnd next = RunMonitor(nullptr, m, STDIN_FILENO, STDOUT_FILENO);
      if (next == TMonitorEnd::Quit) break;
    }
    // The monitor lets go of the port: the write opens it again and resets
    // the program with the pre-codes and the control lines.
    Say(file + " changed: writing it");
    DisconnectQuietly(engine);
    last = write();
  }
  DisconnectQuietly(engine);
  return kExitOk;
}

}  // namespace vantlebld
