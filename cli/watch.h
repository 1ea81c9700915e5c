// vantlebld-cli write --watch: the edit-build-write-run loop in one
// command. After each write the monitor has the link; once the HEX file
// has been rebuilt (changed, stood still for 300 ms, complete HEX) the
// monitor lets go, the write runs again with its remote reset, and the
// monitor resumes. A finished file with a bad record is reported once and
// not written; a failed write is reported; either way the watch goes on.
// Ctrl+] or a stop signal ends it.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "cli/cli_options.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

// What one write came to.
struct TWriteOutcome {
  bool Ok = false;
  std::string Error;       // why it failed
  std::time_t Finished{};  // wall clock, for the status line
  double Seconds = 0;
};

// "watching prog.hex — last write 12:04:31 OK (3.2 s)", or with
// "FAILED (0.8 s): Not found!" for a failed one.
std::string WatchStatusLine(const std::string& file, const TWriteOutcome& last);

// Runs the first write and the loop. write runs one write job with the
// options' link and logs it; flushLog empties the log before the monitor
// shows bytes. Returns 0 when the user ended it.
int RunWatch(TVantleBootloader& engine, const CliOptions& o,
             const std::function<TWriteOutcome()>& write, const std::function<void()>& flushLog);

}  // namespace vantlebld
