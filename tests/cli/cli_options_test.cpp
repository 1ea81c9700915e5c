// The command line of vantlebld-cli.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cli/cli_options.h"

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
      {{"--verbose", "analyze", "a.hex"}, "analyze", {"a.hex"}, {}, true},
      {{"analyze", "a.hex", "--piccodes", "t.ini"},
       "analyze",
       {"a.hex"},
       {{"piccodes", "t.ini"}},
       false},
      {{"--piccodes=t.ini", "devices", "--verbose"}, "devices", {}, {{"piccodes", "t.ini"}}, true},
      {{"devices", "--piccodes=a=b.ini"}, "devices", {}, {{"piccodes", "a=b.ini"}}, false},
      {{"--piccodes=", "devices"}, "devices", {}, {{"piccodes", ""}}, false},
      {{"analyze", "--", "--odd.hex"}, "analyze", {"--odd.hex"}, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const CliOptions o = ParseCli(c.args);
    EXPECT_EQ(o.Command, c.command);
    EXPECT_EQ(o.Arguments, c.arguments);
    EXPECT_EQ(o.Values, c.values);
    EXPECT_EQ(o.Verbose, c.verbose);
    EXPECT_FALSE(o.Help || o.Version);
    EXPECT_EQ(o.Value("piccodes", "fallback"),
              c.values.empty() ? "fallback" : c.values.at("piccodes"));
  }
}

TEST(ParseCli, HelpAndVersionNeedNoCommand) {
  const CliOptions help = ParseCli({"--help"});
  EXPECT_TRUE(help.Help);
  EXPECT_TRUE(help.Command.empty());
  const CliOptions version = ParseCli({"--version"});
  EXPECT_TRUE(version.Version);
  EXPECT_FALSE(version.Help);
}

TEST(ParseCli, BadCommandLinesAreUsageErrors) {
  const std::vector<std::string> cases[] = {
      {},                         // no command
      {"--verbose"},              // still no command
      {"frobnicate"},             // unknown command
      {"-v", "devices"},          // a single dash is no option
      {"--bogus", "devices"},     // unknown option
      {"devices", "--piccodes"},  // option without its value
      {"--verbose=yes", "devices"},
      {"--help=1"},
      {"analyze"},  // missing file
      {"analyze", "a.hex", "b.hex"},
      {"devices", "extra"},
  };
  for (const auto& args : cases) {
    EXPECT_THROW(ParseCli(args), CliUsageError) << testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace vantlebld
