#include "app/command_line.h"

#include "app/console.h"
#include "engine/defaults.h"
#include "engine/user_text.h"

#include <stdexcept>

namespace vantlebld {

namespace {

constexpr size_t kBaudDigits = 7;
constexpr size_t kComDigits = 2;
constexpr size_t kComNameLength = 5;  // "COM" and at most two digits

// "-" starts a switch; so does "/" as on other systems ("/a", "/b9600"),
// but only without a further "/": an absolute path such as
// /home/me/prog.hex is a file name.
bool IsSwitch(const std::string& arg) {
  if (arg.empty()) return false;
  if (arg[0] == '-') return true;
  return arg[0] == '/' && arg.find('/', 1) == std::string::npos;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine result;
  try {
    for (const std::string& arg : args) {
      if (!IsSwitch(arg)) {
        result.HexFile = arg;
        continue;
      }
      const std::string lower = Lower(arg);
      if (lower == "-h" || lower == "--help" || lower == "/?") {
        result.Help = true;
        continue;
      }
      const char kind = lower.size() > 1 ? lower[1] : '\0';
      switch (kind) {
        case 'a':
          result.AutoWrite = true;
          break;
        case 'x':
          result.AutoClose = true;
          break;
        case 'b': {
          const auto baud = ParseNumber(lower.substr(2, kBaudDigits), TNumberForms::Decimal);
          // -1 is what a failed reading gives, so it counts as no number.
          if (!baud || *baud == -1) throw std::runtime_error("incorrect baud: " + arg);
          result.Baud = std::to_string(*baud);
          break;
        }
        case 'c': {
          const bool com = lower.size() > 3 && lower[2] == 'o' && lower[3] == 'm';
          if (!com || !ParseNumber(lower.substr(4, kComDigits), TNumberForms::Decimal))
            throw std::runtime_error("no com specified: " + arg);
          result.Port = Upper(arg.substr(1, kComNameLength));
          break;
        }
        case 'p': {
          // Linux port names: -p/dev/ttyUSB0, -pttyACM0, taken as given.
          if (arg.size() <= 2) throw std::runtime_error("no port specified: " + arg);
          result.Port = arg.substr(2);
          break;
        }
        default:
          if (result.ExitCode == 0) result.Error = "unknown switch " + arg;
          result.ExitCode = kExitBadCommandLine;
          break;
      }
    }
  } catch (const std::exception& e) {
    if (result.ExitCode == 0) result.Error = e.what();
    result.ExitCode = kExitBadCommandLine;
  }
  return result;
}

std::string CommandLineUsage() {
  std::string usage = "Usage: vantlebld [-a] [-x] [-b<baud>] [-com<n> | -p<port>] [file.hex]\n";
  for (const auto& line : ConsoleHelpLines()) {
    if (line.rfind("command line", 0) == 0 || line.rfind("  ...", 0) == 0) usage += line + "\n";
  }
  return usage;
}

}  // namespace vantlebld
