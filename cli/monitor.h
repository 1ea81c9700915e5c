// vantlebld-cli monitor: the CLI as a plain terminal on the link to the
// running program. Bytes from the PIC go to the output as they arrive;
// bytes typed go to the PIC, Enter as the chosen line end (CR, as the
// window's Type mode sends it). Ctrl+] ends it, and so do SIGINT and
// SIGTERM; a terminal on the input is put back as it was.
#pragma once

#include <functional>
#include <string>

#include "cli/cli_options.h"
#include "engine/link.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

// Ends the monitor when typed.
constexpr char kMonitorQuit = 0x1D;  // Ctrl+]

struct TMonitorOptions {
  std::string LineEnd = "\r";  // what Enter sends
};

// Runs until Ctrl+], a signal, or a link that fails; the input's end only
// stops the typing. Returns 0, or 3 when the link failed (its reason on
// stderr).
int RunMonitor(TLink& link, const TMonitorOptions& options, int inFd, int outFd);

// The line end --eol names: "cr", "lf" or "crlf"; empty when unknown.
std::string LineEndOf(const std::string& name);

// The monitor the options ask for, on the engine's link: the one --port is
// opened unless a write left the link open; --monitor-baud switches the
// rate first. The link is closed at the end.
// flushLog runs once the link is open, before the first byte is shown.
int MonitorFromOptions(TVantleBootloader& engine, const CliOptions& o,
                       const std::function<void()>& flushLog);

}  // namespace vantlebld
