// vantlebld-cli monitor: the CLI as a plain terminal on the link to the
// running program. Bytes from the PIC go to the output as they arrive (or
// as the terminal's Hex view shows them) and to the dump file; bytes typed
// go to the PIC, Enter as the chosen line end (CR, as the window's Type
// mode sends it). Ctrl+] ends it, and so do SIGINT and SIGTERM; a terminal
// on the input is put back as it was, also before SIGHUP and SIGQUIT end
// the program.
#pragma once

#include <fstream>
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
  bool HexView = false;        // "41 0D " for each byte instead of the byte
  // Every byte received, as it came; null: no dump.
  std::ofstream* Dump = nullptr;
  // Asked between polls; true hands the link back (the watch has a new
  // file to write).
  std::function<bool()> Release;
};

enum class TMonitorEnd {
  Quit,        // Ctrl+] or a stop signal
  LinkFailed,  // the link broke; the reason is on stderr
  Released,    // Release said so
};

// Runs until one of TMonitorEnd. Without a link it only waits for the
// keyboard and Release. The input's end only stops the typing. Quit
// leaves a terminal on the output on a fresh line.
TMonitorEnd RunMonitor(TLink* link, const TMonitorOptions& options, int inFd, int outFd);

// On a terminal input: "Ctrl+] to quit" on stderr, as the monitor starts
// (in raw mode Ctrl+C reaches the PIC as a byte).
void SayQuitKey(int inFd);

// The line end --eol names: "cr", "lf" or "crlf"; empty when unknown.
std::string LineEndOf(const std::string& name);

// --eol and --monitor-view of the options, and --dump opened (emptied)
// into dump when one is given. Throws CliUsageError for values it does not
// know, EVantleError when the dump file cannot be opened.
TMonitorOptions MonitorOptionsFrom(const CliOptions& o, std::ofstream* dump = nullptr);

// Opens the one --port of the options unless the engine's link is open
// (a write left it so), then switches it to --monitor-baud.
void OpenMonitorLink(TVantleBootloader& engine, const CliOptions& o);

// The monitor the options ask for, on the engine's link (OpenMonitorLink),
// closed at the end. flushLog runs once the link is open, before the
// first byte is shown. Exit code 0, or 3 when the link failed.
int MonitorFromOptions(TVantleBootloader& engine, const CliOptions& o,
                       const std::function<void()>& flushLog);

}  // namespace vantlebld
