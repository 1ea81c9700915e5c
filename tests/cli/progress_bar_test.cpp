// The write's progress bar: the line's text, the wire-time model behind the
// first estimate, and what the bar sends to the terminal.
#include "cli/progress_bar.h"
#include "cli/search_notice.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace vantlebld {
namespace {

TEST(ProgressBar, LineShowsBarPercentCountsAndRoundedTimes) {
  const struct {
    int32_t percent, written, total;
    int64_t elapsedMs, etaMs;
    const char* line;
  } cases[] = {
      {4, 1, 25, 499, 1499, "[------------------------]   4%  1/25 blocks  0:00 elapsed  ETA 0:01"},
      {5, 1, 20, 500, 1500, "[#-----------------------]   5%  1/20 blocks  0:01 elapsed  ETA 0:02"},
      {100, 273, 273, 59500, 3599499,
       "[########################] 100%  273/273 blocks  1:00 elapsed  ETA 59:59"},
      {150, 3, 2, 3600000, 0,
       "[########################] 100%  3/2 blocks  60:00 elapsed  ETA 0:00"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatProgressLine(c.percent, c.written, c.total, c.elapsedMs, c.etaMs), c.line);
}

TEST(ProgressBar, ModelIsWireTimeOfBlockAndAnswerPlusPause) {
  EXPECT_EQ(ModelBlockMicros(68, 115200), 69 * 10 * 1000000 / 115200 + 5100);  // 11089
  EXPECT_EQ(ModelBlockMicros(250, 1), 2510005100);                             // no 32-bit overflow
  EXPECT_EQ(ModelBlockMicros(68, -9600), 5100);
}

// Whatever time passes, the first line's elapsed time and estimate add up
// to the model's total (rounding aside): 10 blocks of 2443 bytes at 100
// baud are 2444 s. Once every block is done nothing is left.
TEST(ProgressBar, EstimateComesFromTheModelUntilBlocksAreDone) {
  std::vector<std::string> texts;
  TProgressBar bar([&](const std::string& t) { texts.push_back(t); }, 100);
  bar.Finish();  // nothing shown yet, nothing to remove
  bar.BlockStarting(2443, 10);
  bar.BlockStarting(68, 500);  // only the first block sets the estimate
  bar.Clear();
  bar.Clear();
  bar.BlockDone(90, 9, 10);
  bar.Follow({TDoneEvent{}});  // the write's end finishes the bar by itself
  bar.Finish();
  ASSERT_EQ(texts.size(), 6u);
  const std::regex drawn(R"(\r\[(.{24})\] +(\d+)%  (\d+/\d+) blocks  )"
                         R"((\d+):(\d\d) elapsed  ETA (\d+):(\d\d)\x1b\[K)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(texts[0], m, drawn)) << texts[0];
  EXPECT_EQ(m[1].str() + m[2].str() + m[3].str(), std::string(24, '-') + "00/10");
  const int total = std::stoi(m[4]) * 60 + std::stoi(m[5]) + std::stoi(m[6]) * 60 + std::stoi(m[7]);
  EXPECT_NEAR(total, 2444, 1) << texts[0];
  EXPECT_EQ(texts[1], "\r\x1b[K");
  // The end draws 100% (twice: the last state again) and leaves it on its
  // own line, before the log says WRITE OK.
  for (size_t i : {3, 4}) {
    ASSERT_TRUE(std::regex_match(texts[i], m, drawn)) << texts[i];
    EXPECT_EQ(m[1].str() + m[2].str() + m[3].str() + m[6].str() + m[7].str(),
              std::string(24, '#') + "10010/10000");
  }
  EXPECT_EQ(texts[5], "\n");
}

// The search's line comes once per search (detail lines do not end it),
// the probe count only on a terminal, and finding the PIC removes it.
TEST(SearchNotice, OneLinePerSearchAndACountOnlyOnATerminal) {
  const std::string line = "Searching for the PIC on /dev/ttyUSB0 at 57600 baud: reset the board";
  for (const bool live : {false, true}) {
    std::string all;
    TSearchNotice notice([&](const std::string& t) { all += t; }, live);
    notice.SetLink("/dev/ttyUSB0", 57600);
    for (const TJobEvent& e : {TJobEvent{TProbeEvent{3, 3, 300}}, TJobEvent{TDetailEvent{}},
                               TJobEvent{TProbeEvent{2, 3, 300}}, TJobEvent{TFoundEvent{}}})
      notice.Follow(e);
    EXPECT_EQ(all.find(line), all.rfind(line)) << all;
    EXPECT_EQ(all.find("probe 2 of 4, 1 s left") != std::string::npos, live) << all;
    EXPECT_EQ(all.ends_with("\r\x1b[K"), live) << all;
    notice.Follow({TProbeEvent{3, 3, 300}});  // the next write's search
    EXPECT_NE(all.find(line), all.rfind(line)) << all;
  }
}

}  // namespace
}  // namespace vantlebld
