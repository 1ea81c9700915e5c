// The program's command line: a HEX file to write at start, the baud rate
// and the port, and whether to end afterwards with an exit code.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

}  // namespace vantlebld
