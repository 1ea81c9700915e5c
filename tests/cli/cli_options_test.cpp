// The command line of vantlebld-cli, and the job options it gives every board.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/link_job.h"

namespace vantlebld {
namespace {

// What was read, in one line: the command, its arguments, the options with
// their values, the flags.
std::string Summary(const CliOptions& o) {
  std::string s = o.Command;
  for (const auto& a : o.Arguments)
    s += " " + a;
  for (const auto& [name, value] : o.Values)
    s += " " + name + "=" + value;
  for (const auto& [flag, name] :
       {std::pair{o.Verbose, " verbose"}, {o.Help, " help"}, {o.Version, " version"}})
    if (flag) s += name;
  return s;
}

TEST(ParseCli, OptionsStandBeforeOrAfterTheCommand) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"analyze", "a.hex", "--piccodes", "t.ini", "--verbose"},
       "analyze a.hex piccodes=t.ini verbose"},
      {{"--piccodes=a=b.ini", "--no-eeprom", "devices"}, "devices no-eeprom= piccodes=a=b.ini"},
      {{"--piccodes=", "--piccodes", "u.ini", "devices"}, "devices piccodes=u.ini"},
      {{"analyze", "--", "--odd.hex"}, "analyze --odd.hex"},
      {{"--help"}, " help"},
      {{"write", "--help"}, "write help"},  // that command's usage, its FILE not needed
      {{"help", "map", "--pic", "41h"}, "map pic=41h help"},
  };
  for (const auto& [args, summary] : cases)
    EXPECT_EQ(Summary(ParseCli(args)), summary) << testing::PrintToString(args);
}

TEST(ParseCli, BadCommandLinesAreUsageErrors) {
  const std::vector<std::string> cases[] = {
      {"--verbose"},                 // no command
      {"frobnicate"},                // unknown command
      {"--bogus", "devices"},        // unknown option
      {"devices", "--piccodes"},     // option without its value
      {"--verbose=yes", "devices"},  // a flag with a value
      {"analyze"},                   // missing file
      {"help", "frobnicate"},        // the usage of no command
  };
  for (const auto& args : cases)
    EXPECT_THROW(ParseCli(args), CliUsageError) << testing::PrintToString(args);
}

TEST(ParseCli, NumbersAreCheckedAgainstTheirRange) {
  const CliOptions o = ParseCli({"devices", "--baud", "0x10", "--id", "300", "--port", "x"});
  EXPECT_EQ(o.Number("baud", 7, 1, 100), 16);
  EXPECT_EQ(o.Number("stop-bits", 7, 1, 2), 7);  // absent: the fallback, unchecked
  EXPECT_THROW(o.Number("id", 0, 0, 255), CliUsageError);
  EXPECT_THROW(o.Number("port", 0, 0, 255), CliUsageError);
  EXPECT_EQ(o.Value("port", "none"), "x");
}

TEST(JobOptions, EveryLinkAndJobOptionReachesTheJob) {
  const TJobOptions j =
      JobOptionsFrom(ParseCli({"check", "--baud", "57600", "--search-seconds", "2", "--timeout-ms",
                               "50", "--id", "155h", "--precodes", "1 2", "--reset-signals", "dR",
                               "--ignore-until-k", "--no-eeprom", "--force"}));
  EXPECT_EQ(j.Baud, 57600);
  EXPECT_EQ(j.SearchSeconds, 2);
  EXPECT_EQ(j.WaitMs, 50);
  EXPECT_EQ(j.IDCode, 0x55);  // the low eight bits
  EXPECT_EQ(j.PreCodes + "|" + j.ResetSignals, "1 2|dR");
  EXPECT_TRUE(j.IgnoreUntilK && !j.WriteEEPROM && j.WriteForeignHex("other family"));
  // Without them: the defaults, and a file of another family refused.
  const TJobOptions d = JobOptionsFrom(ParseCli({"check"}));
  EXPECT_EQ(std::tuple(d.Baud, d.SearchSeconds, d.WaitMs, d.IDCode),
            std::tuple(kDefaultBaudRate, kDefaultSearchSeconds, kDefaultTimeoutMs, kDefaultIDCode));
  EXPECT_TRUE(!d.IgnoreUntilK && d.WriteEEPROM && !d.WriteForeignHex("other family"));
}

}  // namespace
}  // namespace vantlebld
