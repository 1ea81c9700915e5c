// The user program's stream: its content as a function of the offset, and
// how it is paced on a clock the tests set by hand.
#include "sim/user_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace vantlebld {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// Lines are numbered text tracing one wave period, and any cut of the stream
// gives the same bytes.
TEST(StreamBytes, IsNumberedLinesTracingOneWavePeriodWhereverItIsCut) {
  const std::string text = StreamBytes(41 * kStreamLineLength, 2 * kStreamLineLength);
  EXPECT_EQ(text.substr(0, 7), "000041 ");
  EXPECT_EQ(text.substr(kStreamLineLength - 2, 9), "\r\n000042 ");
  const std::string wave = text.substr(7, kStreamWaveLength);
  EXPECT_EQ(text.substr(kStreamLineLength + 7, kStreamWaveLength), wave);
  EXPECT_EQ(*std::min_element(wave.begin(), wave.end()), static_cast<char>(kStreamWaveLow));
  EXPECT_EQ(*std::max_element(wave.begin(), wave.end()), static_cast<char>(kStreamWaveHigh));
  // From the middle up: the top a quarter period in, the bottom at three.
  EXPECT_EQ(wave[12], static_cast<char>(kStreamWaveHigh));
  EXPECT_EQ(wave[36], static_cast<char>(kStreamWaveLow));
  // The numbers wrap after 999999.
  const uint64_t wrap = 1'000'000 * kStreamLineLength;
  EXPECT_EQ(StreamBytes(wrap - kStreamLineLength, 7), "999999 ");
  EXPECT_EQ(StreamBytes(wrap, 100), StreamBytes(0, 100));
  const uint64_t cuts[][3] = {
      {0, 0, 10}, {0, 57, 57}, {3, 200, 1}, {wrap - 30, 20, 100}, {uint64_t{1} << 40, 7, 500}};
  for (const auto& [at, n, m] : cuts)
    EXPECT_EQ(StreamBytes(at, n) + StreamBytes(at + n, m), StreamBytes(at, n + m)) << at;
}

TEST(UserStream, TakesWhatIsDueSkipsWhatIsDroppedAndCatchesUpOnlyALittle) {
  const TUserStream::TClock::time_point t0{std::chrono::seconds(1000)};
  TUserStream stream(10'000);  // ten bytes a millisecond
  stream.Start(t0);
  EXPECT_EQ(stream.Take(t0 + milliseconds(25), 1000), StreamBytes(0, 250));
  EXPECT_EQ(stream.Take(t0 + milliseconds(25), 1000), "");
  EXPECT_EQ(stream.NextDue(), t0 + microseconds(25'100));
  EXPECT_EQ(stream.Take(t0 + milliseconds(30), 20), StreamBytes(250, 20));
  EXPECT_EQ(stream.Take(t0 + milliseconds(30), 1000), StreamBytes(270, 30));
  stream.Drop(t0 + milliseconds(90));
  EXPECT_EQ(stream.Take(t0 + milliseconds(91), 1000), StreamBytes(900, 10));
  // After a long stall the stream stays behind the clock, keeping its rate.
  const auto late = t0 + std::chrono::seconds(10);
  const auto catchUp = static_cast<size_t>(TUserStream::kMaxCatchUp.count()) * 10;
  EXPECT_EQ(stream.Take(late, 100'000), StreamBytes(910, catchUp));
  EXPECT_EQ(stream.Take(late + milliseconds(4), 100'000), StreamBytes(910 + catchUp, 40));
}

TEST(UserStream, TheClockArithmeticHoldsForFastAndLongStreams) {
  // 10^7 bytes a second for a week: rate times nanoseconds would overflow.
  const TUserStream::TClock::time_point t0{};
  const auto week = t0 + std::chrono::hours(24 * 7);
  TUserStream stream(10'000'000);
  stream.Start(t0);
  stream.Drop(week);
  EXPECT_EQ(stream.Offset(), uint64_t{10'000'000} * 3600 * 24 * 7);
  EXPECT_EQ(stream.NextDue(), week + std::chrono::nanoseconds(100));
  EXPECT_EQ(stream.Take(week + microseconds(1), 100).size(), 10u);
}

}  // namespace
}  // namespace vantlebld
