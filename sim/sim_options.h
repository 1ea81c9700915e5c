// The command line of vantlebld-sim: which PIC to be, where to put the
// line, and which faults to show the host.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/virtual_pic.h"

namespace vantlebld {

// A command line that cannot be run as given; exit code 1.
class TSimUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TSimCommandLine {
  uint8_t Code = 0;       // the type code to answer with
  std::string PicCodes;   // device table; empty: the one FindPicCodes finds
  std::string Link;       // symlink to the slave, empty for none
  std::string ExportHex;  // where to write the memories at the end, empty for nowhere
  int32_t BaudPace = 0;   // 0: bytes pass as fast as the pseudo-terminal takes them
  TSimOptions Options;
  bool Help = false;
};

// Parses argv[1..]: "--name value" or "--name=value". Numbers are decimal,
// or hexadecimal with a trailing "h" or a leading "$" or "0x".
TSimCommandLine ParseSimCommandLine(const std::vector<std::string>& args);

// The text printed by --help and after a usage error.
std::string SimUsage();

}  // namespace vantlebld
