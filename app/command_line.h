// The program's command line: a HEX file to write at start, the baud rate
// and the port, whether to end afterwards with an exit code, and the
// report of that automatic write.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/job_report.h"

namespace vantlebld {

struct TCommandLine {
  std::optional<std::string> HexFile;  // the last file argument, letters unchanged
  bool AutoWrite = false;              // -a
  bool AutoClose = false;              // -x
  std::optional<std::string> Baud;     // -b9600: the number in decimal
  std::optional<std::string> Port;     // -com1 gives "COM1"; -p/dev/ttyUSB0 the name as given
  int ExitCode = 0;                    // 1 when a switch could not be understood
  std::string Error;                   // why, for the first such switch
  bool Help = false;                   // -h, --help or /?: print the usage and end
  // --report FILE (also --report=FILE, -report FILE): the automatic
  // write's report.
  std::optional<std::string> Report;
};

// What --help prints: the syntax and the console help's lines about the
// command line.
std::string CommandLineUsage();

// Reads the arguments after the program name. An argument is a switch when
// it starts with "-", or with "/" and holds no other "/" (so absolute paths
// are file names); its second character alone decides which.
// An unknown switch sets exit code 1 and parsing goes on; a bad -b, -com or
// -p stops parsing with exit code 1. Error says why in either case.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The report of the automatic write (engine/job_report.h), when the
// command line asks for one: its board followed from the write's start to
// its end, then written.
class TAutomaticReport {
 public:
  TAutomaticReport() = default;
  explicit TAutomaticReport(std::optional<std::string> path) : path_(std::move(path)) {}
  // Why the report could not be written after a write of hexFile (it is
  // that file, or its folder cannot be written); empty when it can. Asked
  // before the write, which is then refused.
  std::string Problem(const std::string& hexFile) const;
  // The automatic write starts on port with hexFile, hashed as it stands.
  void Start(const std::string& port, const std::string& hexFile);
  void Follow(const TJobEvent& event);
  // The automatic write has ended with exit code code: the report written.
  // Returns code, or kExitReportNotWritten when the file could not be
  // written (why on problem) and code was 0. Nothing without Start.
  int Finish(bool stopRequested, int code, const std::function<void(const std::string&)>& problem);

 private:
  std::optional<std::string> path_;
  std::optional<TBoardRecorder> board_;
};

}  // namespace vantlebld
