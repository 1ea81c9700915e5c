#include "terminal/receive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantlebld {
namespace {

using namespace std::string_literals;

TEST(FormatReceivedTest, NrLinesHaveFixedColumns) {
  struct {
    char byte;
    std::string line;
  } cases[] = {
      {'\x0A',
       "\xFA   "
       " 10   0A  00001010\r\n"s},
      {'\x00',
       "\xFA   "
       "  0   00  00000000\r\n"s},
      {'\x09',
       "\xFA   "
       "  9   09  00001001\r\n"s},
      {'A',
       "A   "
       " 65   41  01000001\r\n"s},
      {'\xFF',
       "\xFF   "
       "255   FF  11111111\r\n"s},
      {'\x0D',
       "\x0D   "
       " 13   0D  00001101\r\n"s},
  };
  for (const auto& c : cases) {
    const std::string line = FormatReceived(std::string(1, c.byte), int(TReceiveView::Nr));
    EXPECT_EQ(line, c.line) << "byte " << int(uint8_t(c.byte));
    EXPECT_EQ(line.size(), kNrLineLength);
  }
  EXPECT_EQ(FormatReceived("AB", int(TReceiveView::Nr)).size(), 2 * kNrLineLength);
}

TEST(FormatReceivedTest, HexGivesThreeCharactersPerByteAndOtherViewsNothing) {
  EXPECT_EQ(FormatReceived("A\r\xAB", int(TReceiveView::Hex)), "41 0D AB ");
  EXPECT_EQ(FormatReceived("", int(TReceiveView::Hex)), "");
  for (int view : {int(TReceiveView::Gra1), int(TReceiveView::Gra2), -1, 7})
    EXPECT_EQ(FormatReceived("abc", view), "") << view;
}

TEST(FormatReceivedTest, CharViewReplacesOnlyBytesWithAnEntry) {
  TTranslateTable table;
  table[0x00] = "\xFA";
  table['x'] = "<x>";
  EXPECT_EQ(FormatReceived("a\0x\r\n"s, int(TReceiveView::Char), table), "a\xFA<x>\r\n");
  EXPECT_EQ(TranslateReceived("a\0x\r\n"s, {}), "a\0x\r\n"s);
}

class TranslateTableTest : public testing::Test {
 protected:
  TTranslateTable table_;
};

TEST_F(TranslateTableTest, DefaultRowShowsZeroAsMiddleDot) {
  table_['q'] = "left over from before";
  EXPECT_FALSE(RebuildTranslateTable({{"00", "250"}}, table_));
  EXPECT_EQ(TranslateReceived("a\0b"s + "q", table_),
            "a\xFA"
            "bq");
}

TEST_F(TranslateTableTest, RowsApplyInOrderAndEmptyCellsAreSkippedOrClear) {
  const std::vector<TTranslateRule> rows = {
      {"41h", "\"ay\""}, {"", "66"}, {"0x42", "1 2 3"}, {"41h", ""}, {"43h", "$44"}};
  EXPECT_FALSE(RebuildTranslateTable(rows, table_));
  EXPECT_EQ(TranslateReceived("ABC", table_),
            "A\x01\x02\x03"
            "D");
}

TEST_F(TranslateTableTest, BadRowStopsTheRebuildAndIsNamed) {
  struct {
    std::vector<TTranslateRule> rows;
    size_t row;
    std::string message;
  } cases[] = {
      {{{"41h", "\"a\""}, {"1 2", "5"}, {"42h", "\"b\""}}, 1, kTranslateAssertion},
      {{{"41h", "\"a\""}, {"abc", "5"}, {"42h", "\"b\""}}, 1, "abc is not an int value"},
      {{{"41h", "\"a\""}, {"43h", "300"}, {"42h", "\"b\""}}, 1, "300 is not a byte value"},
      {{{"41h", "\"a\""}, {"\"\"", "5"}, {"42h", "\"b\""}}, 1, kTranslateAssertion},
  };
  for (const auto& c : cases) {
    const auto fault = RebuildTranslateTable(c.rows, table_);
    ASSERT_TRUE(fault) << c.message;
    EXPECT_EQ(fault->Row, c.row);
    EXPECT_EQ(fault->Message, c.message);
    // The row before stays in force, the row after is not applied.
    EXPECT_EQ(TranslateReceived("AB", table_), "aB") << c.message;
  }
  EXPECT_EQ(std::string(kTranslateAssertion), "Assertion failure (vantlebldMainWin, line 2094)");
}

TEST(ClearCodeTest, ParsedAsMix2WithControlsTrimmed) {
  EXPECT_EQ(ParseClearCode("  1Bh 63h \t"),
            "\x1B"
            "c");
  EXPECT_EQ(ParseClearCode("  "), "");
  EXPECT_THROW(ParseClearCode("zz"), std::exception);
}

TEST(ReceiveBufferTest, KeepsOnlyTheLastBytes) {
  TReceiveBuffer buffer;
  buffer.SetLimit(10);
  const TReceived got = buffer.Take("abcdefghijklmnopqrstuvwxy");
  EXPECT_EQ(buffer.Buffer(), "pqrstuvwxy");
  EXPECT_EQ(got.New, "abcdefghijklmnopqrstuvwxy");  // the view shows what came
  EXPECT_FALSE(got.Cleared);
  buffer.Take("z");
  EXPECT_EQ(buffer.Buffer(), "qrstuvwxyz");
}

TEST(ReceiveBufferTest, UnusableLimitGivesTheDefault) {
  for (int32_t limit : {0, -1, -100000}) {
    TReceiveBuffer buffer;
    buffer.SetLimit(limit);
    EXPECT_EQ(buffer.Limit(), size_t(kDefaultTermBufferLength)) << limit;
    buffer.Take(std::string(12000, 'x'));
    EXPECT_EQ(buffer.Buffer().size(), size_t(kDefaultTermBufferLength));
  }
  TReceiveBuffer shrunk;
  shrunk.Take("abcdef");
  shrunk.SetLimit(2);
  EXPECT_EQ(shrunk.Buffer(), "ef");
}

// Chunks arrive poll by poll; each poll's outcome and the buffer after the
// last one.
struct TClearCase {
  const char* name;
  std::string code;
  size_t limit;
  std::vector<std::string> chunks;
  std::vector<TReceived> polls;
  std::string buffer;
};

class ClearCodeSearchTest : public testing::TestWithParam<TClearCase> {};

TEST_P(ClearCodeSearchTest, EmptiesAtTheCodeAndKeepsWhatFollows) {
  const TClearCase& c = GetParam();
  TReceiveBuffer buffer;
  buffer.SetLimit(int32_t(c.limit));
  buffer.SetClearCode(c.code);
  ASSERT_EQ(c.chunks.size(), c.polls.size());
  for (size_t i = 0; i < c.chunks.size(); ++i) {
    const TReceived got = buffer.Take(c.chunks[i]);
    EXPECT_EQ(got.Cleared, c.polls[i].Cleared) << "poll " << i;
    EXPECT_EQ(got.New, c.polls[i].New) << "poll " << i;
  }
  EXPECT_EQ(buffer.Buffer(), c.buffer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClearCodeSearchTest,
    testing::Values(
        TClearCase{"InOneChunk",
                   "\x0C",
                   100,
                   {"ab\x0C"
                    "cd"},
                   {{true, "cd"}},
                   "cd"},
        TClearCase{"SplitOverTwoPolls",
                   "\x1B"
                   "c",
                   100,
                   {"xy\x1B", "cz"},
                   {{false, "xy\x1B"}, {true, "z"}},
                   "z"},
        TClearCase{"ChunkEndsWithTheCode",
                   "\x1B"
                   "c",
                   100,
                   {"ab\x1B"
                    "c"},
                   {{true, ""}},
                   ""},
        TClearCase{"SeveralCodesKeepWhatFollowsTheLast",
                   "\x0C",
                   100,
                   {"a\x0C"
                    "b\x0C"
                    "c"},
                   {{true, "c"}},
                   "c"},
        // A code wholly inside the previous poll was handled there and
        // must not clear again.
        TClearCase{
            "OldCodeNotFoundTwice", "XYZ", 100, {"aXYZb", "c"}, {{true, "b"}, {false, "c"}}, "bc"},
        TClearCase{"ThreeBytesOverThreePolls",
                   "XYZ",
                   100,
                   {"aX", "Y", "Zb"},
                   {{false, "aX"}, {false, "Y"}, {true, "b"}},
                   "b"},
        // The buffer may have lost the code's first byte to the bound:
        // the carried bytes come from what the buffer holds.
        TClearCase{"BoundCutsTheCarriedBytes",
                   "XY",
                   3,
                   {"abcdX", "Ye"},
                   {{false, "abcdX"}, {true, "e"}},
                   "e"},
        TClearCase{"WhatFollowsIsBoundedToo", "X", 4, {"aX123456"}, {{true, "123456"}}, "3456"},
        TClearCase{"NoCodeNoClear",
                   "",
                   100,
                   {"a\x0C"
                    "b"},
                   {{false,
                     "a\x0C"
                     "b"}},
                   "a\x0C"
                   "b"}),
    [](const testing::TestParamInfo<TClearCase>& p) { return p.param.name; });

TEST(DumpToHexViewTest, LinesWithoutTheirBreaksJoined) {
  struct {
    std::string dump;
    std::string hex;
  } cases[] = {
      {"A\r\nB", "41 42 "},
      {"A\nB\n", "41 42 "},
      {"A\rB\n", "41 42 "},  // a lone CR is dropped
      {"A\n\x1A"
       "B",
       "41 "},  // 1Ah at the start of a line ends the file
      {"A\x1A"
       "B",
       "41 1A 42 "},
      {"", ""},
      {"\n\n", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DumpToHexView(c.dump), c.hex) << c.dump;
}

}  // namespace
}  // namespace vantlebld
