// The terminal's bytes both ways: the byte notations of the send box (the
// number-list reader too, which reads the pre-codes, ID code and console),
// its modes and history; the receive views, the translation table, the
// bounded receive buffer with its clear code, and the hex form of a dump
// file.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "terminal/notations.h"
#include "terminal/receive.h"

namespace vantlebld {
namespace {

using namespace std::string_literals;

// --- Sending ---

// Each case: a text and the bytes it gives, or "!" and the message it throws.
using TCases = std::vector<std::pair<std::string, std::string>>;
void ExpectAll(std::string (*convert)(const std::string&), const TCases& cases) {
  for (const auto& [text, outcome] : cases) {
    try {
      EXPECT_EQ(convert(text), outcome) << text;
    } catch (const ENotationError& e) {
      EXPECT_EQ("!"s + e.what(), outcome) << text;
    }
  }
}

// Leading blanks and the 32-bit range; the number forms are the engine's.
TEST(ParseIntLiteral, SignedRangeAndHexAsTwosComplement) {
  const std::pair<std::string, int32_t> good[] = {
      {"  -5", -5}, {"2147483647", INT_MAX}, {"$FFFFFFFF", -1}, {"0x80000000", INT_MIN}};
  for (const auto& [text, value] : good)
    EXPECT_EQ(ParseIntLiteral(text), value) << text;
  for (const char* bad : {"2147483648", "$100000000", "5 "})
    EXPECT_EQ(ParseIntLiteral(bad), std::nullopt) << bad;
}

// Char\: bytes other than a backslash go out as typed; too little after
// the backslash (also at the very end), no x or no hex digit is a fault.
// Mix2: empty items are skipped; a quoted word is never read as hex; a byte
// from 80h up is no control character, so it is an item of its own. Nr: the
// list reader's items end at a blank, "," or ";" (an empty
// item is bad); a number out of the byte range ends the list before a bad
// item does.
TEST(Notations, BytesOfCharEscMix2AndNr) {
  TCases charEsc = {
      {"A\\x41\\X4a", "AAJ"}, {"\\x5C\\xff\\x00", "\\\xff\0"s}, {"caf\xe9 \x01", "caf\xe9 \x01"}};
  for (const char* bad : {"\\x4", "ab\\", "\\n", "\\x4G"})
    charEsc.push_back({bad, "!Invalid input string"});
  ExpectAll(CharEscToBytes, charEsc);
  const TCases mix2 = {
      {"71 47h,0x47 $47 , \"ood\"", "GGGGood"}, {"0H x41 X42 -0 +3 255", "\0AB\0\x03\xff"s},
      {"  \t1 ,, 2\r\n", "\x01\x02"},           {"\"oh\" \"\" \" \"\xe9\"", "oh\xe9"},
      {"\xff", "!\xff is not an int value"},    {"300", "!300 is not a byte value"},
      {"\"a b\"", "!\"a is not an int value"}};
  ExpectAll(Mix2ToBytes, mix2);
  const TCases nr = {
      {"254   $fe, FEh", "\xfe\xfe\xfe"},          {"0,255;10 ", "\0\xff\n"s},
      {"1 ,2", "!a number is missing before ','"}, {"1 2 256", "!256 is not a byte value"},
      {"1 300 x", "!300 is not a byte value"},     {"1 x", "!\"x\" is not a number"}};
  ExpectAll(NrToBytes, nr);
}

// The history keeps a sent text once, newest first.
TEST(SendModes, BytesListKeysAndHistory) {
  EXPECT_EQ(SendBytesForText(TSendMode::CharEsc, "A\\x41"), "AA");
  EXPECT_EQ(SendBytesForText(TSendMode::Nr, "65;66"), "AB");
  for (TSendMode keysOrFile : {TSendMode::Type, TSendMode::TypEcho, TSendMode::File})
    EXPECT_EQ(SendBytesForText(keysOrFile, "65"), std::nullopt);
  EXPECT_EQ(ModeAfterReceiveWindowKey(TSendMode::Char), TSendMode::Type);

  std::vector<std::string> history = {"a", "b", "a", "c"};
  EXPECT_TRUE(AddSendHistory(history, "a"));  // every older copy goes
  EXPECT_FALSE(AddSendHistory(history, ""));
  EXPECT_EQ(history, (std::vector<std::string>{"a", "b", "c"}));
}

// --- Receiving ---

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
