#include "app/command_line.h"

#include <QCryptographicHash>
#include <QFile>
#include <stdexcept>

#include "app/console.h"
#include "engine/defaults.h"
#include "engine/user_text.h"
#include "platform/output_file.h"

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

// The SHA-256 of the file's bytes in lower-case hex; none when it cannot
// be read.
std::optional<std::string> FileSha256(const std::string& path) {
  QFile file(QString::fromStdString(path));
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) return std::nullopt;
  return hash.result().toHex().toStdString();
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine result;
  try {
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (!IsSwitch(arg)) {
        result.HexFile = arg;
        continue;
      }
      const std::string lower = Lower(arg);
      // The one switch of a whole word, its file the next argument or
      // after "=".
      const std::string word = lower.substr(lower.rfind("--", 0) == 0 ? 2 : 1);
      if (word == "report" || word.rfind("report=", 0) == 0) {
        const bool joined = word.size() > 6;
        const std::string file = joined                ? arg.substr(arg.find('=') + 1)
                                 : i + 1 < args.size() ? args[++i]
                                                       : "";
        if (file.empty()) throw std::runtime_error("no report file specified: " + arg);
        result.Report = file;
        continue;
      }
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
  std::string usage =
      "Usage: vantlebld [-a] [-x] [-b<baud>] [-com<n> | -p<port>] [--report FILE] [file.hex]\n";
  for (const auto& line : ConsoleHelpLines()) {
    if (line.rfind("command line", 0) == 0 || line.rfind("  ...", 0) == 0) usage += line + "\n";
  }
  return usage +
         "  ...--report FILE: after the automatic write, what it came to as JSON;\n"
         "     exit code 4 when the write succeeded but FILE could not be written\n";
}

std::string TAutomaticReport::Problem(const std::string& hexFile) const {
  if (!path_) return {};
  if (SameFile(*path_, hexFile)) {
    return "--report " + *path_ + " is the HEX file the write reads; name another file for it";
  }
  if (const std::string why = WhyNotWritable(*path_); !why.empty()) {
    return "cannot write the --report file " + *path_ + ": " + why +
           "; name a file in an existing folder you may write to";
  }
  return {};
}

void TAutomaticReport::Start(const std::string& port, const std::string& hexFile) {
  if (path_) board_.emplace(port, hexFile, FileSha256(hexFile));
}

void TAutomaticReport::Follow(const TJobEvent& event) {
  if (board_) board_->Follow(event);
}

int TAutomaticReport::Finish(bool stopRequested, int code,
                             const std::function<void(const std::string&)>& problem) {
  if (!board_) return code;
  const TBoardReport board = board_->Finish(code == kExitOk, stopRequested);
  board_.reset();
  try {
    WriteFileAtomically(*path_, ReportJson("vantlebld", "write", {board}));
  } catch (const std::exception& e) {
    problem(e.what());
    return code == kExitOk ? kExitReportNotWritten : code;
  }
  return code;
}

}  // namespace vantlebld
