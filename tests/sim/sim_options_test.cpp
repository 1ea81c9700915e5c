// vantlebld-sim's command line. The options the faults and the user program
// take are read in virtual_pic_test's cases, the program's own ones in
// pty_server_test; here: both value forms, the number notations and what
// is refused.
#include "sim/sim_options.h"

#include <gtest/gtest.h>

namespace vantlebld {
namespace {

TEST(SimCommandLine, ReadsValuesAfterASpaceOrAnEqualsSignInAnyNumberNotation) {
  const TSimCommandLine c = ParseSimCommandLine(
      {"--code", "41h", "--piccodes=t.ini", "--baud-pace", "0x1C200", "--write-ms", "$14", "--drop",
       "3@0Ah", "--garbage-before-id", "ab c", "--run-after-write", "--stream=10000000"});
  EXPECT_EQ(c.Code, 0x41);
  EXPECT_EQ(c.PicCodes, "t.ini");
  EXPECT_EQ(c.BaudPace, 115200);
  EXPECT_EQ(c.Options.WriteMs, 20);
  EXPECT_EQ(c.Options.Faults.DropBytes, 3);
  EXPECT_EQ(c.Options.Faults.DropBlock, 10);
  EXPECT_EQ(c.Options.Faults.GarbageBeforeId, "ab c");
  EXPECT_TRUE(c.Options.RunAfterWrite && !c.Options.RunProgramAtStart);
  EXPECT_EQ(c.Options.StreamRate, 10'000'000);
  EXPECT_EQ(ParseSimCommandLine({"--code", "41"}).Code, 41);  // plain digits are decimal
  EXPECT_TRUE(ParseSimCommandLine({"--help"}).Help);
}

TEST(SimCommandLine, RefusesWhatCannotBeRun) {
  const std::vector<std::string> alone[] = {
      {},
      {"--code", "0"},
      {"--code", "100h"},
      {"--code", "41", "--stream", "100"},  // nothing runs the stream
      {"--code", "41", "--run-program", "--stream", "0"},
      {"--code", "41", "--run-after-write", "--stream", "10000001"},
  };
  for (const auto& args : alone)
    EXPECT_THROW(ParseSimCommandLine(args), TSimUsageError);
  const std::vector<std::string> extras[] = {
      {"--drop", "3"}, {"--drop", "0@1"},     {"--nak", "-1"}, {"--hangup-at", "0"},
      {"--id", "256"}, {"--echo=1"},          {"--bogus"},     {"--link"},
      {"stray"},       {"--write-ms", "1.5"},
  };
  for (const auto& extra : extras) {
    std::vector<std::string> args = {"--code", "41"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_THROW(ParseSimCommandLine(args), TSimUsageError) << extra[0];
  }
}

}  // namespace
}  // namespace vantlebld
