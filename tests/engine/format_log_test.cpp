// Message formatting (%x prints upper-case digits like %X), numbers as
// users type them, and the rendering of job events into the lines a
// person reads.
#include "engine/format.h"
#include "engine/log_text.h"
#include "engine/user_text.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

TEST(Format, HexConversionsPrintUpperCaseAndTheRestIsPrintf) {
  const std::pair<std::string, std::string> cases[] = {
      {Format("%x", 0xabcu), "ABC"},
      {Format("%.6xh", 0xabcdeu), "0ABCDEh"},
      {Format("%-4x|%#x", 0xau, 0xffu), "A   |0XFF"},
      {Format("100%% %%x %s=%x", "0xab", 0xabu), "100% %x 0xab=AB"},
      {Format("[%s]", std::string(5000, 'z').c_str()), "[" + std::string(5000, 'z') + "]"},
  };
  for (const auto& [got, want] : cases)
    EXPECT_EQ(got, want);
}

TEST(UserText, NumbersAsUsersTypeThem) {
  // clang-format off
  const std::pair<const char*, std::optional<int64_t>> cases[] = {
      {"65", 65}, {"41h", 0x41}, {"$4b", 0x4B}, {"0X10", 16}, {"x41", 0x41}, {"-$10", -16},
      {"", {}}, {"0x", {}}, {"12a", {}}, {" 65", {}}, {"$8000000000000000", {}},
      {"-9223372036854775808", INT64_MIN}};
  // clang-format on
  for (const auto& [text, value] : cases)
    EXPECT_EQ(ParseNumber(text), value) << text;
  // Decimal: digits and a sign, no hex form.
  EXPECT_EQ(ParseNumber("-65", TNumberForms::Decimal), -65);
  EXPECT_EQ(ParseNumber("41h", TNumberForms::Decimal), std::nullopt);
}

// Every event kind as a person reads it, with detailed logging on; each
// line written out by hand.
TEST(LogRenderer, EveryEventKindAsItsLines) {
  using TAnswer = TBlockAnswerEvent::TAnswer;
  using K = TRelocationNote::TKind;
  std::tm t{};
  t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 7, t.tm_hour = 9, t.tm_min = 5, t.tm_isdst = -1;
  const std::time_t at = std::mktime(&t);
  const struct {
    TJobEvent event;
    std::vector<LogLine> lines;
  } cases[] = {
      {{TDetailEvent{TLineRole::Plain, false, "a"}}, {{false, "a"}}},
      {{TDetailEvent{TLineRole::Step, true, "b"}}, {{true, "   b"}}},
      {{TDetailEvent{TLineRole::Problem, false, "c"}}, {{false, "      c"}}},
      {{TDetailEvent{TLineRole::Reason, false, "d"}}, {{false, "         d"}}},
      {{TProbeEvent{3, 10, 200}}, {{true, "Wait 200 ms"}}},
      {{TFoundEvent{0x41, "PIC18F252", 4}}, {{false, "   Found:PIC18F252"}}},
      {{THexSummaryEvent{"5 min", "18Fcode, total=12 bytes", 12}},
       {{false, "   HEX: 5 min old, 18Fcode, total=12 bytes. "}}},
      {{TRelocationWarningEvent{{K::NoGoto, 0, "GOTO not found in first 4 words", {}}, false}},
       {{false, "      WARNING: GOTO not found in first 4 words"}}},
      {{TRelocationWarningEvent{{K::NoGoto, 0, "GOTO not found.", {}}, true}},
       {{false, "      GOTO not found."}}},
      {{TRelocationWarningEvent{{K::MadeAbsolute, 0, "BRA at 000000h made absolute", {}}, false}},
       {{true, "  BRA at 000000h made absolute"}}},
      {{TRelocatedEvent{3, 0x3F00, 0x1F84, {}}}, {{true, "Prepare16FAfter - 0>+Goto 1F84"}}},
      {{TRelocatedEvent{4, 0x7E00, 0x7E08, {}}}, {{true, "Prepare18FAfter - 0>Goto 7E08"}}},
      {{TRelocatedEvent{8, 0x15800, 0xAC40, {}}}, {{true, "PrepareDSAfter - 0>Goto AC40"}}},
      {{TBlockSentEvent{2, 9, TPlannedBlock::TKind::EEPROM, 5, 8, 7, 7, TLineRole::Step, false,
                        "eeprom addr:005h <- a5h"}},
       {{false, "   eeprom addr:005h <- a5h"}}},
      {{TBlockSentEvent{1, 9, TPlannedBlock::TKind::Flash, 0, 70, 0, 7, TLineRole::Plain, true,
                        ""}},
       {}},
      {{TBlockAnswerEvent{TAnswer::K, 1, 12, {}, 0}}, {{true, "   Received \"K\": Ok"}}},
      {{TBlockAnswerEvent{TAnswer::N, 1, 12, {}, 0}}, {{true, "   Received \"N\": crc fail"}}},
      {{TBlockAnswerEvent{TAnswer::Rubbish, 1, 3, "\x01Z", 0}},
       {{true, "   Received rubbish, Hex: 01 5A   Str: .Z"}}},
      {{TBlockAnswerEvent{TAnswer::TimeOut, 2, 450, {}, 0}},
       {{true, "      timeout"}, {true, "   timeout 2, trying to catch up"}}},
      {{TBlockAnswerEvent{TAnswer::CaughtUp, 2, 0, {}, 4}}, {{true, "   caught up after 4 bytes"}}},
      {{TBlockAnswerEvent{TAnswer::Other, 2, 0, "\x7F", 3}},
       {{true, "   after 3 bytes, i got something: 7Fh"}}},
      {{TRefusedEvent{"HEX file would not start", 0}}, {}},  // told under ERROR!
      {{TDoneEvent{{}, 61234, at}}, {{false, "   WRITE OK  at 9:05,   time:61.234 sec"}}},
      {{TFailedEvent{EVantleError::Kind::SerialLink, "Not found!"}},
       {{false, "      ERROR!"}, {false, "         Not found!"}}},
  };
  for (const auto& c : cases) {
    std::vector<LogLine> lines;
    const auto add = [&](const TLogRenderer::TLine& l) { lines.push_back({!l.Shown, l.Text}); };
    TLogRenderer(add, false).Add(c.event);
    EXPECT_EQ(lines, c.lines) << c.event.Value.index();
  }
}

// A continued line joins the last shown one; a printer holds each line
// until it knows, and a hidden detail line neither shows nor breaks it.
TEST(LogRenderer, ContinuedLinesJoinTheLastShownLine) {
  using R = TLineRole;
  const struct {
    bool details;
    std::vector<TDetailEvent> input;
    std::vector<std::string> printed;
  } cases[] = {
      {false,
       {{R::Step, false, "S"},
        {R::Continued, false, "found"},
        {R::Continued, false, "done"},
        {R::Plain, false, "next"}},
       {"   S, found, done", "next"}},
      {false,
       {{R::Plain, false, "a"}, {R::Plain, true, "d"}, {R::Continued, false, "b"}},
       {"a, b"}},
      {true,
       {{R::Plain, false, "a"}, {R::Plain, true, "d"}, {R::Continued, false, "b"}},
       {"a", "d, b"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> printed;
    {
      TLinePrinter p([&](const std::string& line) { printed.push_back(line); }, c.details);
      for (const auto& d : c.input)
        p.Add({d});
    }  // the held line goes out with the printer
    EXPECT_EQ(printed, c.printed);
  }
  // The window's full log keeps a hidden continued line joined too, and the
  // pane replaces its last line only for a shown one.
  std::vector<TLogRenderer::TLine> lines;
  TLogRenderer r([&](const TLogRenderer::TLine& l) { lines.push_back(l); }, false);
  r.Say(R::Plain, "Searching");
  r.Say(R::Continued, "x", true);
  r.Say(R::Continued, "Not found");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].Text, "Searching, x");
  EXPECT_FALSE(lines[1].Shown);
  EXPECT_FALSE(lines[1].ReplacesLast);
  EXPECT_EQ(lines[2].Text, "Searching, Not found");
  EXPECT_TRUE(lines[2].ReplacesLast);
}

}  // namespace
}  // namespace vantlebld::test
