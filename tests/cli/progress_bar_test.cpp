// The write's progress bar: the line's text, the wire-time model behind the
// first estimate, and what the bar sends to the terminal.
#include "cli/progress_bar.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace vantlebld {
namespace {

struct LineCase {
  int32_t percent, written, total;
  int64_t elapsedMs, etaMs;
  const char* line;
};

TEST(ProgressLineTest, BarPercentCountsAndRoundedTimes) {
  const LineCase cases[] = {
      {0, 0, 10, 0, 0, "[------------------------]   0%  0/10 blocks  0:00 elapsed  ETA 0:00"},
      {4, 1, 25, 499, 1499, "[------------------------]   4%  1/25 blocks  0:00 elapsed  ETA 0:01"},
      {5, 1, 20, 500, 1500, "[#-----------------------]   5%  1/20 blocks  0:01 elapsed  ETA 0:02"},
      {45, 123, 273, 2000, 3000,
       "[##########--------------]  45%  123/273 blocks  0:02 elapsed  ETA 0:03"},
      {100, 273, 273, 59500, 3599499,
       "[########################] 100%  273/273 blocks  1:00 elapsed  ETA 59:59"},
      {150, 3, 2, 3600000, 0,
       "[########################] 100%  3/2 blocks  60:00 elapsed  ETA 0:00"},
      {-5, 0, 0, 0, 0, "[------------------------]   0%  0/0 blocks  0:00 elapsed  ETA 0:00"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatProgressLine(c.percent, c.written, c.total, c.elapsedMs, c.etaMs), c.line);
}

TEST(ProgressLineTest, ModelIsWireTimeOfBlockAndAnswerPlusPause) {
  EXPECT_EQ(ModelBlockMicros(68, 115200), 69 * 10 * 1000000 / 115200 + 5500);  // 11489
  EXPECT_EQ(ModelBlockMicros(5, 9600), 11750);
  EXPECT_EQ(ModelBlockMicros(0, 300), 38833);
  EXPECT_EQ(ModelBlockMicros(250, 1), 2510005500);  // no 32-bit overflow
  EXPECT_EQ(ModelBlockMicros(68, 0), 5500);
  EXPECT_EQ(ModelBlockMicros(68, -9600), 5500);
}

class ProgressBarTest : public ::testing::Test {
 protected:
  // 10 blocks of 2443 bytes at 100000 baud: 10 x (2444 x 100 us + 5.5 ms)
  // = 2499 ms, shown as 0:02 for the first second of the test.
  static constexpr int32_t kBaud = 100000, kBytes = 2443, kBlocks = 10;

  // The sink's texts; each drawn line must be "\r" + line + erase to end.
  std::vector<std::string> texts;
  TProgressBar bar{[this](const std::string& t) { texts.push_back(t); }, kBaud};

  static bool Drawn(const std::string& text, const std::string& head, const std::string& eta) {
    const std::regex line("\r" + std::regex_replace(head, std::regex(R"([\[\]])"), R"(\$&)") +
                          R"(  \d+:\d\d elapsed  ETA )" + eta + "\x1b\\[K");
    return std::regex_match(text, line);
  }
};

TEST_F(ProgressBarTest, EstimateComesFromTheModelUntilBlocksAreDone) {
  bar.BlockStarting(kBytes, kBlocks);
  bar.BlockStarting(68, 500);  // only the first block sets the estimate
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_TRUE(Drawn(texts[0], "[------------------------]   0%  0/10 blocks", "0:02")) << texts[0];
  // Once every block is done the pace says nothing is left, whatever the model said.
  bar.BlockDone(100, 10, 10);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_TRUE(Drawn(texts[1], "[########################] 100%  10/10 blocks", "0:00")) << texts[1];
}

TEST_F(ProgressBarTest, ClearAndFinishLeaveTheTerminalTidy) {
  bar.Clear();
  bar.Finish();
  EXPECT_TRUE(texts.empty());  // nothing shown yet, nothing to remove
  bar.BlockStarting(kBytes, kBlocks);
  bar.Clear();
  bar.Clear();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], "\r\x1b[K");
  bar.BlockDone(30, 3, 10);
  bar.Finish();
  bar.Clear();
  bar.Finish();
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_TRUE(Drawn(texts[3], "[#######-----------------]  30%  3/10 blocks", R"(\d+:\d\d)"));
  EXPECT_EQ(texts[4], "\n");
}

}  // namespace
}  // namespace vantlebld
