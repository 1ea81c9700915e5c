// The console of the message pane: a line typed there and ended with Enter
// is also read as a command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantlebld {

enum class TConsoleCommand {
  None,           // no command: the line stays plain text
  Help,           // "help" or "?"
  OnTop,          // "ontop"
  LogDetails,     // "logdetailson" or "logdetails"
  ClearAllFlash,  // "clearallflash"
  WriteEEPROM,    // "writeeeprom <fullAddr> <dat>"
  WriteConfig,    // "writeconfig <fullAddr> <dat>"
  OfflineCode,    // "offline_code <id>"
};

struct TConsoleLine {
  TConsoleCommand Command = TConsoleCommand::None;
  // The line's arguments as typed, from where the command reads them.
  std::string Arguments;
  // False for an "offline_code" line without a blank.
  bool HasArguments = true;
};

// Which command a line is. Whole-line commands must match exactly (case
// and every character); "writeeeprom" and "writeconfig" by their first 11
// characters, their arguments from the 13th; "offline_code" by the start
// of the line, its argument after the first blank.
TConsoleLine ParseConsoleLine(const std::string& line);

// The two numbers of "writeeeprom"/"writeconfig" (decimal, b6h, $b6,
// 0xb6). A token that is not a number, a line that ends before both
// numbers, a negative address or a value past a byte throw a message that
// names the command, the fault and an example.
void ReadAddressAndData(const std::string& arguments, const char* command, int32_t& address,
                        int32_t& data);

// The lines "help" prints.
const std::vector<std::string>& ConsoleHelpLines();

}  // namespace vantlebld
