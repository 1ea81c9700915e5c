// The window's plain logic without a window: how log lines reach the
// message pane and the full log, the command line, and the texts of the
// offline code and ID code boxes.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/console.h"
#include "app/message_log.h"
#include "app/window_text.h"
#include "engine/vantlebld_comm.h"
#include "terminal/notations.h"

namespace vantlebld {
namespace {

using Lines = std::vector<std::string>;

struct TFakePane : TLogPane {
  Lines lines;
  std::string LastLine() const override { return lines.empty() ? "" : lines.back(); }
  void RemoveLastLine() override {
    if (!lines.empty()) lines.pop_back();
  }
  void AddLine(const std::string& line) override { lines.push_back(line); }
};

struct TFlagCase {
  uint8_t flags;
  bool details;
  std::string line;  // as LogList keeps it
  bool shown;        // also in the pane
};

TEST(MessageLog, FlagsIndentAndHideDetails) {
  const TFlagCase cases[] = {
      {0, false, "text", true},
      {LogIndent3, false, "   text", true},
      {LogIndent6, false, "      text", true},
      {LogIndent3 | LogIndent6, false, "         text", true},
      {LogDetail, false, "text", false},
      {LogDetail | LogIndent6, false, "      text", false},
      {LogDetail | LogIndent3, true, "   text", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << int{c.flags} << " details " << c.details);
    TMessageLog log;
    TFakePane pane;
    log.LogDetails = c.details;
    log.AddLog(c.flags, "text", pane);
    EXPECT_EQ(log.LogList(), Lines{c.line});
    EXPECT_EQ(pane.lines, c.shown ? Lines{c.line} : Lines{});
  }
}

TEST(MessageLog, AppendJoinsThePanesLastLineAndTheFullLogKeepsBoth) {
  TMessageLog log;
  TFakePane pane;
  log.AddLog(0, "first", pane);
  log.AddLog(LogIndent6, "PreCodes: ", pane);
  log.AddLog(LogAppend, " Wait 1ms ", pane);
  log.AddLog(LogAppend | LogIndent3, "x", pane);
  EXPECT_EQ(pane.lines, (Lines{"first", "      PreCodes: ,  Wait 1ms ,    x"}));
  EXPECT_EQ(log.LogList(), (Lines{"first", "      PreCodes: ", "      PreCodes: ,  Wait 1ms ",
                                  "      PreCodes: ,  Wait 1ms ,    x"}));
}

TEST(MessageLog, HiddenAppendedLineLeavesThePaneAlone) {
  TMessageLog log;
  TFakePane pane;
  log.AddLog(0, "Searching", pane);
  log.AddLog(LogAppend | LogDetail, "detail", pane);
  EXPECT_EQ(pane.lines, Lines{"Searching"});
  EXPECT_EQ(log.LogList().back(), "Searching, detail");
  log.AddLog(LogAppend, "Not found", pane);
  EXPECT_EQ(pane.lines, Lines{"Searching, Not found"});
}

struct TArgsCase {
  Lines args;
  TCommandLine want;
};

TEST(CommandLine, EverySwitch) {
  const TArgsCase cases[] = {
      {{}, {}},
      {{"prog.hex"}, {.HexFile = "prog.hex"}},
      {{"a.hex", "Dir/B.HEX"}, {.HexFile = "Dir/B.HEX"}},
      {{"/home/x/y.hex"}, {.HexFile = "/home/x/y.hex"}},
      {{"-a", "-x"}, {.AutoWrite = true, .AutoClose = true}},
      {{"-A", "/X"}, {.AutoWrite = true, .AutoClose = true}},
      {{"/a", "-xyz"}, {.AutoWrite = true, .AutoClose = true}},
      {{"-abc"}, {.AutoWrite = true}},
      {{"-b9600"}, {.Baud = "9600"}},
      {{"/b19200", "-B4800"}, {.Baud = "4800"}},
      {{"-b12345678"}, {.Baud = "1234567"}},
      {{"-b"}, {.ExitCode = 1}},
      {{"-b-1"}, {.ExitCode = 1}},
      {{"f.hex", "-bx", "-a", "g.hex"}, {.HexFile = "f.hex", .ExitCode = 1}},
      {{"-com1"}, {.Port = "COM1"}},
      {{"-COM12"}, {.Port = "COM12"}},
      {{"-com123"}, {.Port = "COM12"}},
      {{"/com3"}, {.Port = "COM3"}},
      {{"-comx", "-a"}, {.ExitCode = 1}},
      {{"-c", "-a"}, {.ExitCode = 1}},
      {{"-com"}, {.ExitCode = 1}},
      {{"-q", "-a", "f.hex"}, {.HexFile = "f.hex", .AutoWrite = true, .ExitCode = 1}},
      {{"-"}, {.ExitCode = 1}},
      {{"/"}, {.ExitCode = 1}},
      {{"-p/dev/ttyUSB0"}, {.Port = "/dev/ttyUSB0"}},
      {{"-PttyACM0"}, {.Port = "ttyACM0"}},
      {{"-p", "-a"}, {.ExitCode = 1}},
      {{"-com2", "-p/dev/ttyS0"}, {.Port = "/dev/ttyS0"}},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args)
      shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    const TCommandLine got = ParseCommandLine(c.args);
    EXPECT_EQ(got.HexFile, c.want.HexFile);
    EXPECT_EQ(got.AutoWrite, c.want.AutoWrite);
    EXPECT_EQ(got.AutoClose, c.want.AutoClose);
    EXPECT_EQ(got.Baud, c.want.Baud);
    EXPECT_EQ(got.Port, c.want.Port);
    EXPECT_EQ(got.ExitCode, c.want.ExitCode);
  }
}

TEST(WindowText, OfflineCodeReadsTheFirstThreeCharacters) {
  const std::pair<std::string, int> cases[] = {
      {"$41  PIC18F252", 0x41}, {"$FF", 0xFF}, {"$00", 0}, {"abc", 0}, {"", 0}, {"12345", 123},
  };
  for (const auto& [text, code] : cases)
    EXPECT_EQ(OfflineCodeFromText(text), code) << text;
}

TEST(WindowText, IDCodeTakesAnyNotationAndFallsBackOnlyWhenEmpty) {
  const std::pair<std::string, int> cases[] = {
      {"C1h", 0xC1}, {"0x41", 0x41}, {"$41", 0x41}, {"65", 65}, {"300", 0x2C}, {"", 0x5A},
  };
  for (const auto& [text, code] : cases)
    EXPECT_EQ(IDCodeFromText(text, 0x5A), code) << text;
  EXPECT_THROW(IDCodeFromText("zz", 0x5A), ENotationError);
}

TEST(Console, CommandsMatchExactlyAndWriteCommandsByTheirFirstElevenCharacters) {
  using C = TConsoleCommand;
  const struct {
    const char* line;
    C command;
    const char* arguments;
  } cases[] = {
      {"help", C::Help, ""},
      {"?", C::Help, ""},
      {"Help", C::None, ""},
      {"help ", C::None, ""},
      {"ontop", C::OnTop, ""},
      {"logdetails", C::LogDetails, ""},
      {"logdetailson", C::LogDetails, ""},
      {"clearallflash", C::ClearAllFlash, ""},
      {"clearallflash ", C::None, ""},
      {"writeeeprom 0 b6h", C::WriteEEPROM, "0 b6h"},
      {"writeeepromX5 7", C::WriteEEPROM, "5 7"},
      {"writeconfig 300003h FFh", C::WriteConfig, "300003h FFh"},
      {"writeeeprom", C::WriteEEPROM, ""},
      {"offline_code 41h", C::OfflineCode, "41h"},
      {"offline_code  $41 x", C::OfflineCode, " $41 x"},
      {"OFFLINE_CODE 41h", C::None, ""},
      {"write eeprom", C::None, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const TConsoleLine got = ParseConsoleLine(c.line);
    EXPECT_EQ(got.Command, c.command);
    if (c.command != C::None) EXPECT_EQ(got.Arguments, c.arguments);
  }
  EXPECT_FALSE(ParseConsoleLine("offline_code").HasArguments);
}

TEST(Console, WriteArgumentsNeedTwoNumbers) {
  int32_t address = 0, data = 0;
  ReadAddressAndData("300003h, FFh", "writeconfig", address, data);
  EXPECT_EQ(std::pair(address, data), std::pair(0x300003, 0xFF));
  EXPECT_THROW(ReadAddressAndData("5", "writeeeprom", address, data), ENotationError);
  EXPECT_THROW(ReadAddressAndData("", "writeeeprom", address, data), ENotationError);
  try {
    ReadAddressAndData("zz 1", "writeeeprom", address, data);
    ADD_FAILURE() << "a word is not a number";
  } catch (const ENotationError& e) {
    EXPECT_STREQ(e.what(), "not an int");
  }
}

}  // namespace
}  // namespace vantlebld
