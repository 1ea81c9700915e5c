#include "app/console.h"

#include "terminal/notations.h"

namespace vantlebld {

namespace {
constexpr size_t kWriteCommandLength = 11;   // "writeeeprom", "writeconfig"
constexpr size_t kWriteArgumentsStart = 12;  // after the command word and one separator
}  // namespace

TConsoleLine ParseConsoleLine(const std::string& line) {
  TConsoleLine result;
  if (line == "help" || line == "?") {
    result.Command = TConsoleCommand::Help;
  } else if (line == "ontop") {
    result.Command = TConsoleCommand::OnTop;
  } else if (line == "logdetailson" || line == "logdetails") {
    result.Command = TConsoleCommand::LogDetails;
  } else if (line == "clearallflash") {
    result.Command = TConsoleCommand::ClearAllFlash;
  } else if (line.compare(0, kWriteCommandLength, "writeeeprom") == 0 ||
             line.compare(0, kWriteCommandLength, "writeconfig") == 0) {
    result.Command = line[5] == 'e' ? TConsoleCommand::WriteEEPROM : TConsoleCommand::WriteConfig;
    if (line.size() > kWriteArgumentsStart) result.Arguments = line.substr(kWriteArgumentsStart);
  } else if (line.rfind("offline_code", 0) == 0) {
    result.Command = TConsoleCommand::OfflineCode;
    const size_t blank = line.find(' ');
    // Without a blank there is no argument; the command then reports an
    // error, as for a bad one.
    result.HasArguments = blank != std::string::npos;
    if (result.HasArguments) result.Arguments = line.substr(blank + 1);
  }
  return result;
}

void ReadAddressAndData(const std::string& arguments, const char* command, int32_t& address,
                        int32_t& data) {
  const auto refuse = [command](const std::string& what) {
    throw ENotationError(std::string(command) + ": " + what + "; eg: " + command + " 0 b6h");
  };
  size_t pos = 1;
  bool both = false;
  try {
    both = ReadNextInt(arguments, pos, address, true) && ReadNextInt(arguments, pos, data, true);
  } catch (const ENotationError& e) {
    refuse(e.what());
  }
  if (!both) refuse("needs an address and a value");
  if (address < 0) refuse("the address " + std::to_string(address) + " is below 0");
  if (data < 0 || data > 0xFF)
    refuse(std::to_string(data) + " is not a byte value (0..255, 00h..FFh)");
}

const std::vector<std::string>& ConsoleHelpLines() {
  static const std::vector<std::string> lines = {
      "...warning: many are experimental; may no longer work...",
      "ontop  - keep the window on top of the others",
      "logdetails  - debug purposes; detailed info about communication with PIC",
      "offline_code <id> - debug purpose: Simulate a PIC with specified ID - eg. offline_code 41h  "
      "(simulates an 18F252)",
      "clearallflash  - fill all flash (except bootloader) with FFh",
      "writeeeprom <fullAddr> <dat>  - eg: writeeeprom 0 b6h - writes B6h in the first eeprom "
      "location(for 18f)",
      "writeconfig <fullAddr> <dat>  - only for 18F&dsPIC eg: writeconfig 300003h FFh - activates "
      "WDT",
      "command line parameters example(autowrite+autoclose+baud9600+useCOM1):  -a -x -b9600 -com1 "
      "abc.hex",
      "  ...any serial port: -p<name>, eg: -p/dev/ttyUSB0 or -pttyACM0",
      "  ...exit code(errolevel): 0=ok,  1=bad_com, 3=error_writing_flash",
  };
  return lines;
}

}  // namespace vantlebld
