// The report's two parts of its own: JSON strings for any bytes a path or
// message holds, and a board's record followed from its job's events.
#include <gtest/gtest.h>

#include "engine/job_report.h"

namespace vantlebld {
namespace {

// Valid UTF-8 passes as it is; each byte of a broken sequence becomes
// U+FFFD (the sequences by the ranges of RFC 3629).
TEST(JobReportTest, JsonStringEscapesAndKeepsValidUtf8Only) {
  const struct {
    std::string text, json;
  } cases[] = {
      {"C:\\prog \"a\".hex", R"("C:\\prog \"a\".hex")"},
      {"a\nb\tc\r\x01\x1f\x7f", R"("a\nb\tc\r\u0001\u001f\u007f")"},
      {std::string("\0", 1), R"("\u0000")"},
      {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"\x80", R"("\ufffd")"},                                // a lone continuation byte
      {"\xC0\xAF", R"("\ufffd\ufffd")"},                      // overlong "/"
      {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},            // a surrogate
      {"\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // past U+10FFFF
      {"\xE2\x82"
       "x",
       R"("\ufffd\ufffdx")"},  // cut short
      {"\xFF\xC3\xA9", "\"\\ufffd\xC3\xA9\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JsonString(c.text), c.json) << c.json;
}

TJobEvent Answer(TBlockAnswerEvent::TAnswer a) {
  return {TBlockAnswerEvent{a, 1, 0, {}, 0}};
}

TJobEvent Failed(EVantleError::Kind kind, const std::string& message, const std::string& hint) {
  return {TFailedEvent{kind, message, hint}};
}

// Counts by hand: block 1 (70 bytes) N then K is two sends; block 2 (10
// bytes) a time-out, its catch-up's N, then K is two sends and one
// catch-up: 4 sends, 160 bytes.
TEST(JobReportTest, RecorderFollowsTheEventsToTheResult) {
  using A = TBlockAnswerEvent::TAnswer;
  using K = EVantleError::Kind;
  using R = TBoardReport::TResult;
  using P = TBoardReport::TPreflight;
  const std::vector<TJobEvent> blocks = {
      {TFoundEvent{0x41, "PIC18F252", 0}},
      {TBlockSentEvent{1, 2, TPlannedBlock::TKind::Flash, 0, 70}},
      Answer(A::N),
      Answer(A::K),
      {TBlockSentEvent{2, 2, TPlannedBlock::TKind::EEPROM, 0, 10}},
      Answer(A::TimeOut),
      Answer(A::CaughtUp),
      Answer(A::K)};
  TVantleBootloader::TLinkStats stats;
  stats.BlocksSent = 13;
  stats.BytesSent = 900;
  stats.NAnswers = 1;
  const struct {
    const char* name;
    std::vector<TJobEvent> after;  // the blocks' events
    bool ok, stopRequested;
    R result;
    P preflight;
    int64_t blocks, bytes;
    std::optional<std::string> message;
  } cases[] = {
      {"failed",
       {Failed(K::SerialLink, "Could not write", "noisy"), Failed(K::General, "2nd", "")},
       false,
       false,
       R::Failed,
       P::Ok,
       4,
       160,
       "Could not write\nnoisy"},
      {"stopped",
       {Failed(K::Stopped, "Stopped after block 2", "")},
       false,
       false,
       R::Stopped,
       P::Ok,
       4,
       160,
       "Stopped after block 2"},
      {"done", {{TDoneEvent{stats, 5, 0}}}, true, false, R::Ok, P::Ok, 13, 900, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBoardRecorder recorder("/dev/ttyUSB0", "a.hex", std::nullopt);
    for (const auto& e : blocks)
      recorder.Follow(e);
    for (const auto& e : c.after)
      recorder.Follow(e);
    const TBoardReport r = recorder.Finish(c.ok, c.stopRequested);
    EXPECT_EQ(r.Result, c.result);
    EXPECT_EQ(r.Preflight, c.preflight);
    EXPECT_EQ(r.Blocks, c.blocks);
    EXPECT_EQ(r.Bytes, c.bytes);
    EXPECT_EQ(r.NAnswers, 1);
    EXPECT_EQ(r.CatchUps, c.ok ? 0 : 1);
    EXPECT_EQ(r.PicCode, 0x41);
    EXPECT_EQ(r.Message, c.message);
  }
  // Before any block: a refused plan, and a search the user stopped.
  TBoardRecorder refused("p", std::nullopt, std::nullopt);
  refused.Follow({TRefusedEvent{"too big", 0x8000}});
  refused.Follow(Failed(K::General, "too big", ""));
  const TBoardReport r = refused.Finish(false, true);
  EXPECT_EQ(r.Result, R::Refused);
  EXPECT_EQ(r.PreflightReason, "too big");
  TBoardRecorder search("p", std::nullopt, std::nullopt);
  search.Follow(Failed(K::SerialLink, "Not found!", ""));
  EXPECT_EQ(search.Finish(false, true).Result, R::Stopped);
  EXPECT_EQ(search.Finish(false, false).Preflight, P::NotChecked);
}

}  // namespace
}  // namespace vantlebld
