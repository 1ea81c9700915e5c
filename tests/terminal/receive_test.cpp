// The receive views, the translation table, the bounded receive buffer with
// its clear code, and the hex form of a dump file.
#include "terminal/receive.h"

#include <gtest/gtest.h>

namespace vantlebld {
namespace {

using namespace std::string_literals;

// Nr: 00h, TAB and LF would break the layout and show as the middle dot;
// other control bytes (CR too) are shown as themselves. Only the Char view
// translates.
TEST(FormatReceivedTest, NrHexCharAndGraphViews) {
  TTranslateTable table;
  table[0x00] = "\xFA";
  table['x'] = "<x>";
  table['A'] = "<A>";
  EXPECT_EQ(FormatReceived("\n\0\t\r\x01\x41\xFF"s, int(TReceiveView::Nr), table),
            "\xFA    10   0A  00001010\r\n"
            "\xFA     0   00  00000000\r\n"
            "\xFA     9   09  00001001\r\n"
            "\x0D    13   0D  00001101\r\n"
            "\x01     1   01  00000001\r\n"
            "A    65   41  01000001\r\n"
            "\xFF   255   FF  11111111\r\n");
  EXPECT_EQ(FormatReceived("A\r\x00x"s, int(TReceiveView::Hex), table), "41 0D 00 78 ");
  EXPECT_EQ(FormatReceived("a\0x\r\n"s, int(TReceiveView::Char), table), "a\xFA<x>\r\n");
}

// The default row shows 00h as the middle dot; an empty Code is skipped, a
// later row for the same code wins, and an empty New shows the byte. A bad
// row stops the rebuild: the row before stays in force, the row after is
// not applied, and the fault names the row.
TEST(TranslateTableTest, RowsApplyInOrderOverAnEmptyTable) {
  TTranslateTable table;
  table['q'] = "left over from before";
  const std::vector<TTranslateRule> rows = {{"00", "250"},     {"41h", "\"ay\""}, {"", "66"},
                                            {"0x42", "1 2 3"}, {"41h", ""},       {"43h", "$44"}};
  EXPECT_FALSE(RebuildTranslateTable(rows, table));
  EXPECT_EQ(TranslateReceived("q\0ABC"s, table), "q\xFA"s + "A\x01\x02\x03" + "D");

  const std::pair<TTranslateRule, std::string> bad[] = {
      {{"1 2", "5"}, kTranslateAssertion}, {{"43h", "300"}, "300 is not a byte value"}};
  for (const auto& [middle, message] : bad) {
    const auto fault = RebuildTranslateTable({{"41h", "\"a\""}, middle, {"42h", "\"b\""}}, table);
    ASSERT_TRUE(fault) << message;
    EXPECT_EQ(fault->Row, 1u);
    EXPECT_EQ(fault->Message, message);
    EXPECT_EQ(TranslateReceived("AB", table), "aB") << message;
  }
}

// Chunks arrive poll by poll: what each poll brings (all of it when no
// code came) and the bounded buffer after the last one. The code is
// written in Mix2; an empty text switches it off.
TEST(ReceiveBufferTest, KeepsTheLastBytesAndEmptiesAtTheClearCode) {
  const struct {
    std::string Code;
    int32_t Limit;
    std::vector<std::string> Chunks;
    std::vector<TReceived> Polls;
    std::string Buffer;
  } cases[] = {
      {ParseClearCode("  0Ch \t"), 100, {"a\fb\fc"}, {{true, "c"}}, "c"},
      {"\033c", 100, {"xy\033", "cz"}, {{false, "xy\033"}, {true, "z"}}, "z"},
      {"XYZ", 100, {"aX", "Y", "Zb"}, {{false, "aX"}, {false, "Y"}, {true, "b"}}, "b"},
      // A code handled by the previous poll must not clear again.
      {"XYZ", 100, {"aXYZb", "c"}, {{true, "b"}, {false, "c"}}, "bc"},
      // The bound may have cut the code's first byte from the buffer: the
      // carried bytes come from what the buffer holds.
      {"XY", 3, {"abcdX", "Ye"}, {{false, "abcdX"}, {true, "e"}}, "e"},
      {"", 4, {"a\fbcde", "f"}, {{false, "a\fbcde"}, {false, "f"}}, "cdef"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Chunks));
    TReceiveBuffer buffer;
    buffer.SetLimit(c.Limit);
    buffer.SetClearCode(c.Code);
    ASSERT_EQ(c.Chunks.size(), c.Polls.size());
    for (size_t i = 0; i < c.Chunks.size(); ++i) {
      const TReceived got = buffer.Take(c.Chunks[i]);
      EXPECT_EQ(got.Cleared, c.Polls[i].Cleared) << "poll " << i;
      EXPECT_EQ(got.New, c.Polls[i].New) << "poll " << i;
    }
    EXPECT_EQ(buffer.Buffer(), c.Buffer);
  }
  EXPECT_THROW(ParseClearCode("zz"), std::exception);
  // A smaller limit cuts what is held; a limit of 0 or less would empty
  // every view.
  TReceiveBuffer buffer;
  buffer.Take("xyz");
  buffer.SetLimit(2);
  EXPECT_EQ(buffer.Buffer(), "yz");
  buffer.SetLimit(0);
  EXPECT_EQ(buffer.Limit(), size_t(kDefaultTermBufferLength));
}

// A CR is dropped; 1Ah at the start of a line ends the file, elsewhere it
// is data.
TEST(DumpToHexViewTest, LinesWithoutTheirBreaksJoined) {
  const std::pair<std::string, std::string> cases[] = {
      {"A\r\nB", "41 42 "}, {"A\rB\n", "41 42 "}, {"A\n\032B", "41 "}, {"A\032B", "41 1A 42 "}};
  for (const auto& [dump, hex] : cases)
    EXPECT_EQ(DumpToHexView(dump), hex) << testing::PrintToString(dump);
}

}  // namespace
}  // namespace vantlebld
