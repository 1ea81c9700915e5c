// The command line of vantlebld-cli.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace vantlebld {
namespace {

TEST(ParseCli, OptionsStandBeforeOrAfterTheCommand) {
  const struct {
    std::vector<std::string> args;
    std::string command;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> values;
    bool verbose;
  } cases[] = {
      {{"analyze", "a.hex"}, "analyze", {"a.hex"}, {}, false},
      {{"analyze", "a.hex", "--piccodes", "t.ini", "--verbose"},
       "analyze",
       {"a.hex"},
       {{"piccodes", "t.ini"}},
       true},
      {{"--piccodes=a=b.ini", "--no-eeprom", "devices"},
       "devices",
       {},
       {{"piccodes", "a=b.ini"}, {"no-eeprom", ""}},
       false},
      {{"--piccodes=", "--piccodes", "u.ini", "devices"},
       "devices",
       {},
       {{"piccodes", "u.ini"}},
       false},
      {{"analyze", "--", "--odd.hex"}, "analyze", {"--odd.hex"}, {}, false},
      {{"analyze", "-a.hex"}, "analyze", {"-a.hex"}, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CliOptions o = ParseCli(c.args);
    EXPECT_EQ(o.Command, c.command);
    EXPECT_EQ(o.Arguments, c.arguments);
    EXPECT_EQ(o.Values, c.values);
    EXPECT_EQ(o.Verbose, c.verbose);
    EXPECT_FALSE(o.Help || o.Version);
  }
  const CliOptions help = ParseCli({"--help"});
  EXPECT_TRUE(help.Help && !help.Version && help.Command.empty());
  EXPECT_TRUE(ParseCli({"--version"}).Version);
}

TEST(ParseCli, BadCommandLinesAreUsageErrors) {
  const std::vector<std::string> cases[] = {
      {},                            // no command
      {"--verbose"},                 // still no command
      {"frobnicate"},                // unknown command
      {"-v", "devices"},             // a single dash is no option
      {"--bogus", "devices"},        // unknown option
      {"devices", "--piccodes"},     // option without its value
      {"--verbose=yes", "devices"},  // a flag with a value
      {"--no-eeprom=1", "write", "a"},
      {"--help=1"},
      {"analyze"},  // missing file
      {"analyze", "a.hex", "b.hex"},
      {"devices", "extra"},
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
  EXPECT_EQ(o.Value("udp", "none"), "none");
}

}  // namespace
}  // namespace vantlebld
