// The window's plain logic without a window: how a job's lines reach the
// message pane and the full log, the command line, the console commands,
// the texts of the offline code and ID code boxes, and where the settings
// file lives.
#include <gtest/gtest.h>

#include <tuple>

#include "app/command_line.h"
#include "app/console.h"
#include "app/message_log.h"
#include "app/settings.h"
#include "app/window_text.h"
#include "engine/vantlebld_comm.h"
#include "terminal/notations.h"

namespace vantlebld {
namespace {

using Lines = std::vector<std::string>;

struct TFakePane : TLogPane {
  Lines lines;
  void RemoveLastLine() override {
    if (!lines.empty()) lines.pop_back();
  }
  void AddLine(const std::string& line) override { lines.push_back(line); }
};

TEST(WindowLog, HidesDetailsAndJoinsToThePanesLastLine) {
  // Details hidden from the pane, as they are unless asked for.
  using R = TLineRole;
  const struct {
    std::vector<TDetailEvent> lines;
    Lines pane, log;
  } cases[] = {
      {{{R::Plain, false, "a"}, {R::Reason, false, "d"}, {R::Problem, true, "e"}},
       {"a", "         d"},
       {"a", "         d", "      e"}},
      // The joined line replaces the pane's last line; the full log keeps
      // both. A hidden joined line must not take the pane's last line away.
      {{{R::Plain, false, "S"},
        {R::Problem, false, "P"},
        {R::Continued, true, "d"},
        {R::Continued, false, "N"}},
       {"S", "      P, N"},
       {"S", "      P", "      P, d", "      P, N"}},
  };
  for (const auto& c : cases) {
    TFakePane pane;
    TWindowLog log(pane);
    for (const auto& line : c.lines)
      log.Add({line});
    EXPECT_EQ(pane.lines, c.pane);
    EXPECT_EQ(log.LogList(), c.log);
  }
}

TEST(CommandLine, EverySwitch) {
  // clang-format off
  const std::pair<Lines, TCommandLine> cases[] = {
      {{"a.hex", "Dir/B.HEX"}, {.HexFile = "Dir/B.HEX"}}, {{"/?"}, {.Help = true}},
      {{"-A", "/xyz"}, {.AutoWrite = true, .AutoClose = true}},
      {{"/b19200", "-B4800"}, {.Baud = "4800"}}, {{"-b-1"}, {.ExitCode = 1}},
      {{"f.hex", "-bx", "-a", "g.hex"}, {.HexFile = "f.hex", .ExitCode = 1}},
      {{"-com123"}, {.Port = "COM12"}}, {{"-comx", "-a"}, {.ExitCode = 1}},
      {{"-p/dev/ttyUSB0"}, {.Port = "/dev/ttyUSB0"}}, {{"-p", "-a"}, {.ExitCode = 1}},
      // The report's file: the next argument, or after "=", letters unchanged.
      {{"--report", "r.json", "a.hex"}, {.HexFile = "a.hex", .Report = "r.json"}},
      {{"-REPORT=/tmp/R.json"}, {.Report = "/tmp/R.json"}}, {{"/report", "-a"}, {.Report = "-a"}},
      {{"-a", "--report"}, {.AutoWrite = true, .ExitCode = 1}}, {{"--report="}, {.ExitCode = 1}}};
  // clang-format on
  const auto fields = [](const TCommandLine& c) {
    return std::tuple(c.HexFile, c.AutoWrite, c.AutoClose, c.Baud, c.Port, c.Help, c.ExitCode,
                      c.Report);
  };
  for (const auto& [args, want] : cases)
    EXPECT_EQ(fields(ParseCommandLine(args)), fields(want)) << testing::PrintToString(args);
}

TEST(WindowText, OfflineCodeFromTheFirstThreeCharactersIDCodeFromAnyNotation) {
  for (const auto& [text, code] :
       {std::pair<std::string, int>{"$41  PIC18F252", 0x41}, {"abc", 0}, {"12345", 123}})
    EXPECT_EQ(OfflineCodeFromText(text), code) << text;
  // The fallback only for an empty box.
  for (const auto& [text, code] :
       {std::pair<std::string, int>{"C1h", 0xC1}, {"300", 0x2C}, {"", 0x5A}})
    EXPECT_EQ(IDCodeFromText(text, 0x5A), code) << text;
  EXPECT_THROW(IDCodeFromText("zz", 0x5A), ENotationError);
}

TEST(Console, CommandsMatchExactlyAndWriteCommandsByTheirFirstElevenCharacters) {
  using C = TConsoleCommand;
  // clang-format off
  const struct { const char* line; C command; const char* arguments; } cases[] = {
      {"?", C::Help, ""}, {"logdetailson", C::LogDetails, ""}, {"OFFLINE_CODE 41h", C::None, ""},
      {"writeeepromX5 7", C::WriteEEPROM, "5 7"}, {"offline_code  $41 x", C::OfflineCode, " $41 x"},
      {"writeconfig 300003h FFh", C::WriteConfig, "300003h FFh"}};
  // clang-format on
  for (const auto& c : cases) {
    const TConsoleLine got = ParseConsoleLine(c.line);
    EXPECT_EQ(got.Command, c.command) << c.line;
    if (c.command != C::None) EXPECT_EQ(got.Arguments, c.arguments) << c.line;
  }
  EXPECT_FALSE(ParseConsoleLine("offline_code").HasArguments);

  // The write commands need two numbers.
  int32_t address = 0, data = 0;
  ReadAddressAndData("300003h, FFh", "writeconfig", address, data);
  EXPECT_EQ(std::pair(address, data), std::pair(0x300003, 0xFF));
  for (const char* bad : {"5", "zz 1"})
    EXPECT_THROW(ReadAddressAndData(bad, "writeeeprom", address, data), ENotationError) << bad;
}

// Nothing is written under /usr or /opt, even by root who may; a copy of
// the program's own keeps its settings beside it while it can write there.
TEST(SettingsPlace, BesideAPortableProgramOnlyWhereTheUserCanWrite) {
  using enum TSettingsPlace;
  // clang-format off
  const std::tuple<const char*, bool, TSettingsPlace> cases[] = {
      {"/usr/bin", true, UserConfig}, {"/usr/local/bin", true, UserConfig},
      {"/opt/vantlebld/bin", true, UserConfig}, {"/opt", true, UserConfig},
      {"/usrlocal/bin", true, BesideProgram}, {"/optical/bin", true, BesideProgram},
      {"/home/u/vantlebld", true, BesideProgram}, {"/home/u/vantlebld", false, UserConfig}};
  // clang-format on
  for (const auto& [dir, writable, place] : cases)
    EXPECT_EQ(SettingsPlace(dir, writable), place) << dir << " " << writable;
}

}  // namespace
}  // namespace vantlebld
