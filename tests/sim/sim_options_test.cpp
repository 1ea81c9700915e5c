#include "sim/sim_options.h"

#include <gtest/gtest.h>

namespace vantlebld {
namespace {

TEST(SimCommandLine, ReadsTheNumberNotationsAndTheFaultForms) {
  const TSimCommandLine c =
      ParseSimCommandLine({"--code", "41h", "--piccodes=t.ini", "--baud-pace", "0x1C200",
                           "--write-ms", "$14", "--listen-after", "250", "--drop", "3@0Ah",
                           "--rubbish-at", "5", "--garbage-before-id", "ab c", "--echo"});
  EXPECT_EQ(c.Code, 0x41);
  EXPECT_EQ(c.PicCodes, "t.ini");
  EXPECT_EQ(c.BaudPace, 115200);
  EXPECT_EQ(c.Options.WriteMs, 20);
  EXPECT_EQ(c.Options.ListenAfterMs, 250);
  EXPECT_EQ(c.Options.Faults.DropBytes, 3);
  EXPECT_EQ(c.Options.Faults.DropBlock, 10);
  EXPECT_EQ(c.Options.Faults.RubbishAt, 5);
  EXPECT_EQ(c.Options.Faults.GarbageBeforeId, "ab c");
  EXPECT_TRUE(c.Options.Faults.Echo);
  EXPECT_FALSE(c.Options.Faults.NoAnswer);
  EXPECT_FALSE(RunsProgram(c.Options));
  const TSimOptions run =
      ParseSimCommandLine({"--code", "41", "--run-after-write", "--stream=10000000"}).Options;
  EXPECT_TRUE(run.RunAfterWrite && !run.RunProgramAtStart);
  EXPECT_EQ(run.StreamRate, 10'000'000);
  EXPECT_TRUE(ParseSimCommandLine({"--code", "41", "--run-program"}).Options.RunProgramAtStart);
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
  EXPECT_EQ(ParseSimCommandLine({"--code", "41"}).Code, 41);  // plain digits are decimal
  EXPECT_TRUE(ParseSimCommandLine({"--help"}).Help);
}

}  // namespace
}  // namespace vantlebld
