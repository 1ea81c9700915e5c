#include "sim/sim_options.h"

#include <climits>
#include <set>

#include "engine/user_text.h"

namespace vantlebld {

namespace {

const std::set<std::string> kValueOptions = {
    "code",       "piccodes",     "link",      "export-hex",   "baud-pace",
    "write-ms",   "listen-after", "id",        "nak",          "drop",
    "rubbish-at", "silent-from",  "hangup-at", "answer-delay", "garbage-before-id",
    "stream",     "reset-codes",
};
const std::set<std::string> kFlagOptions = {"echo", "no-answer", "run-after-write", "run-program",
                                            "help"};

constexpr int64_t kMaxMs = 3'600'000;
constexpr int64_t kMaxBaud = 10'000'000;
constexpr int64_t kMaxStreamRate = 10'000'000;
constexpr size_t kMaxResetCodes = 10;

int64_t Number(const std::string& name, const std::string& text, int64_t min, int64_t max) {
  const auto value = ParseNumber(text);
  if (!value || *value < min || *value > max) {
    throw TSimUsageError("--" + name + " needs a number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not \"" + text + "\"");
  }
  return *value;
}

int BlockNumber(const std::string& name, const std::string& text) {
  return static_cast<int>(Number(name, text, 1, INT_MAX));
}

int32_t Millis(const std::string& name, const std::string& text) {
  return static_cast<int32_t>(Number(name, text, 0, kMaxMs));
}

void Apply(TSimCommandLine& c, const std::string& name, const std::string& value) {
  TSimFaults& f = c.Options.Faults;
  if (name == "code") {
    c.Code = static_cast<uint8_t>(Number(name, value, 1, 255));
  } else if (name == "piccodes") {
    c.PicCodes = value;
  } else if (name == "link") {
    c.Link = value;
  } else if (name == "export-hex") {
    c.ExportHex = value;
  } else if (name == "baud-pace") {
    c.BaudPace = static_cast<int32_t>(Number(name, value, 0, kMaxBaud));
  } else if (name == "write-ms") {
    c.Options.WriteMs = Millis(name, value);
  } else if (name == "listen-after") {
    c.Options.ListenAfterMs = Millis(name, value);
  } else if (name == "id") {
    c.Options.ActivationByte = static_cast<uint8_t>(Number(name, value, 0, 255));
  } else if (name == "nak") {
    f.NakFirst = static_cast<int>(Number(name, value, 0, INT_MAX));
  } else if (name == "drop") {
    const size_t at = value.find('@');
    if (at == std::string::npos) throw TSimUsageError("--drop needs K@M, not \"" + value + "\"");
    f.DropBytes = static_cast<int>(Number(name, value.substr(0, at), 1, 65535));
    f.DropBlock = BlockNumber(name, value.substr(at + 1));
  } else if (name == "rubbish-at") {
    f.RubbishAt = BlockNumber(name, value);
  } else if (name == "silent-from") {
    f.SilentFrom = BlockNumber(name, value);
  } else if (name == "hangup-at") {
    f.HangupAt = BlockNumber(name, value);
  } else if (name == "answer-delay") {
    f.AnswerDelayMs = Millis(name, value);
  } else if (name == "garbage-before-id") {
    f.GarbageBeforeId = value;
  } else if (name == "echo") {
    f.Echo = true;
  } else if (name == "no-answer") {
    f.NoAnswer = true;
  } else if (name == "run-after-write") {
    c.Options.RunAfterWrite = true;
  } else if (name == "run-program") {
    c.Options.RunProgramAtStart = true;
  } else if (name == "stream") {
    c.Options.StreamRate = static_cast<int32_t>(Number(name, value, 1, kMaxStreamRate));
  } else if (name == "reset-codes") {
    // The bytes as the host's pre-codes are written: numbers between
    // blanks, commas or semicolons, at most ten, up to the first word that
    // is no number.
    c.Options.ResetCodes.clear();
    size_t pos = 0;
    int32_t code = 0;
    while (ReadNextInt(value, pos, code, false)) {
      if (code < 0 || code > 255 || c.Options.ResetCodes.size() == kMaxResetCodes)
        throw TSimUsageError("--reset-codes needs one to ten bytes, not \"" + value + "\"");
      c.Options.ResetCodes += static_cast<char>(code);
    }
    if (c.Options.ResetCodes.empty())
      throw TSimUsageError("--reset-codes needs one to ten bytes, not \"" + value + "\"");
  } else if (name == "help") {
    c.Help = true;
  }
}

}  // namespace

TSimCommandLine ParseSimCommandLine(const std::vector<std::string>& args) {
  TSimCommandLine c;
  bool hasCode = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0) throw TSimUsageError("unexpected argument \"" + a + "\"");
    std::string name = a.substr(2);
    std::string value;
    const size_t eq = name.find('=');
    const bool hasValue = eq != std::string::npos;
    if (hasValue) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (kFlagOptions.count(name) != 0) {
      if (hasValue) throw TSimUsageError("--" + name + " takes no value");
    } else if (kValueOptions.count(name) != 0) {
      if (!hasValue) {
        if (i + 1 >= args.size()) throw TSimUsageError("--" + name + " needs a value");
        value = args[++i];
      }
    } else {
      throw TSimUsageError("unknown option --" + name);
    }
    Apply(c, name, value);
    hasCode = hasCode || name == "code";
  }
  if (!hasCode && !c.Help) throw TSimUsageError("--code is missing");
  if (c.Options.StreamRate > 0 && !RunsProgram(c.Options))
    throw TSimUsageError("--stream needs --run-after-write or --run-program");
  if (!c.Options.ResetCodes.empty() && !RunsProgram(c.Options))
    throw TSimUsageError("--reset-codes needs --run-after-write or --run-program");
  return c;
}

std::string SimUsage() {
  return "Usage: vantlebld-sim --code CODE [options]\n"
         "\n"
         "Plays the bootloader firmware of a PIC on a pseudo-terminal. The first line\n"
         "on stdout is \"PTY <slave path>\"; the host opens that path as its serial port.\n"
         "Serving ends when the host closes the port after a job, or on SIGINT/SIGTERM.\n"
         "With a user program (--run-after-write, --run-program) it ends only on a signal.\n"
         "\n"
         "Options:\n"
         "  --code CODE               type code to answer with (41h)\n"
         "  --piccodes FILE           device table (default: the piccodes.ini found)\n"
         "  --link PATH               make PATH a symlink to the slave while serving\n"
         "  --export-hex FILE         write flash, EEPROM and configuration at the end\n"
         "  --baud-pace BAUD          let each byte take as long as on a line at BAUD\n"
         "  --write-ms MS             time to write a block before its K\n"
         "  --listen-after MS         deaf to everything for MS after the reset\n"
         "  --id BYTE                 activation byte to answer (C1h)\n"
         "\n"
         "Faults (blocks are numbered from 1 as they arrive, resends included):\n"
         "  --nak N                   answer N to the first N blocks\n"
         "  --drop K@M                lose the last K bytes of block M on the line\n"
         "  --rubbish-at M            answer block M with \"AXY\"\n"
         "  --silent-from M           never answer block M or any later one\n"
         "  --hangup-at M             hang up the line when block M is complete\n"
         "  --garbage-before-id TEXT  send TEXT before the type code\n"
         "  --echo                    send every byte received straight back\n"
         "  --no-answer               never answer the activation byte\n"
         "  --answer-delay MS         send every answer MS later\n"
         "\n"
         "User program (to try the terminal without hardware):\n"
         "  --run-after-write         once a job has ended (the activation byte answered, then\n"
         "                            the port closed, or blocks and 300 ms without a byte),\n"
         "                            run the written program: it echoes every byte received.\n"
         "                            The host may close and open the port at will; what the\n"
         "                            program sends while the port is closed is lost\n"
         "  --run-program             run the program from the start, without a bootloader job\n"
         "  --stream RATE             the program also sends RATE bytes per second (1 to\n"
         "                            10000000): lines \"NNNNNN \" + 48 characters tracing a\n"
         "                            sine from 20h to 7Eh + CR LF, numbered from 000000\n"
         "  --reset-codes CODES       the program's remote reset: on these bytes in a row\n"
         "                            (\"128 80h\", as the host's pre-codes) it restarts\n"
         "                            into the bootloader, which answers the activation\n"
         "                            byte again\n"
         "\n"
         "Numbers: decimal, or hexadecimal as 41h, $41 or 0x41.\n"
         "Exit codes: 0 done, 1 bad command line or unknown code, 2 the host made errors\n"
         "(a block it should not have sent, or a write after which the PIC does not start\n"
         "through its bootloader).\n";
}

}  // namespace vantlebld
