// The byte notations of the send box, the macros, the translation table
// and the number-list reader of the pre-codes, ID code and console.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "terminal/notations.h"

namespace vantlebld {
namespace {

using namespace std::string_literals;

// Each case: a text and the bytes it gives, or the message it throws.
struct TCase {
  std::string Text;
  std::string Bytes;
  std::string Error;
};
void ExpectAll(std::string (*convert)(const std::string&), const std::vector<TCase>& cases) {
  for (const TCase& c : cases) {
    TCase got{c.Text, "", ""};
    try {
      got.Bytes = convert(c.Text);
    } catch (const ENotationError& e) {
      got.Error = e.what();
    }
    EXPECT_EQ(got.Error, c.Error) << c.Text;
    EXPECT_EQ(got.Bytes, c.Bytes) << c.Text;
  }
}

TEST(ParseIntLiteral, SignedRangeAndHexAsTwosComplement) {
  const std::pair<std::string, int32_t> good[] = {
      {"071", 71},       {"  -5", -5}, {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
      {"$FFFFFFFF", -1}, {"X1a", 26},  {"0x80000000", INT_MIN}, {"$000000000041", 65}};
  for (const auto& [text, value] : good)
    EXPECT_EQ(ParseIntLiteral(text), value) << text;
  for (const char* bad : {"2147483648", "-2147483649", "99999999999999999999", "$100000000", "-$10",
                          "$-1", "0x", "", "5 ", "1a"})
    EXPECT_EQ(ParseIntLiteral(bad), std::nullopt) << bad;
}

TEST(CharEscToBytes, EscapesAndTheirFaults) {
  ExpectAll(CharEscToBytes, {{"", "", ""},
                             {"Message\\x0D\\x0A", "Message\r\n", ""},
                             {"A\\x41\\X4a", "AAJ", ""},
                             {"\\x5C\\xff\\x00", "\\\xff\0"s, ""},
                             {"caf\xe9 \x01", "caf\xe9 \x01", ""}});  // other bytes go out as typed
  // Too little after the backslash (also at the very end), no x, no hex digit.
  for (const char* bad : {"\\x4", "ab\\", "\\n", "\\\\x41", "\\x4G", "\\xG4"})
    ExpectAll(CharEscToBytes, {{bad, "", "Invalid input string"}});
}

TEST(Mix2ToBytes, ItemsQuotesAndErrors) {
  ExpectAll(Mix2ToBytes, {
                             {"71 47h,0x47 $47 , \"ood\"", "GGGGood", ""},
                             {"0h x41 X42 -0 +3 255", "\0AB\0\x03\xff"s, ""},
                             {"  \t1 ,, 2\r\n", "\x01\x02", ""},
                             // A quoted word is never read as hex; high bytes are no controls.
                             {"\"oh\" \"\" \" \"\xe9\"", "oh\xe9", ""},
                             {",5 \t 6", "\x05\x06", ""},  // empty items are skipped
                             {"300", "", "300 is not a byte value"},
                             {"-1", "", "-1 is not a byte value"},
                             {"$FFFFFFFF", "", "-1 is not a byte value"},
                             {"abc", "", "abc is not an int value"},
                             {"0x", "", "$ is not an int value"},
                             {"0x41h", "", "$0x41 is not an int value"},
                             {"\"a b\"", "", "\"a is not an int value"},
                             {"4294967296", "", "4294967296 is not an int value"},
                             {"1 2 3q", "", "3q is not an int value"},
                             {"\xff", "", "\xff is not an int value"},  // not a control character
                         });
}

TEST(NrToBytes, BytesOrEmptyOrError) {
  ExpectAll(NrToBytes, {
                           {"254 $fe FEh", "\xfe\xfe\xfe", ""},
                           {"0,255;10 ", "\0\xff\n"s, ""},
                           {"1 2 256", "", ""},
                           {"-1", "", ""},
                           {"1 300 x", "", ""},  // the range ends it before the bad item
                           {"1 x", "", "not an int"},
                           {"1, ,2", "", "not an int"},
                       });
}

// Reads every number from start, then checks how the list ended: pos and
// value after the final false, and whether the strict form throws there.
TEST(ReadNextInt, ListsPositionsAndEndings) {
  struct TRead {
    int32_t Value;
    size_t Pos;
  };
  const struct {
    std::string Text;
    size_t Start;
    std::vector<TRead> Reads;
    size_t EndPos;
    bool EndsBad;  // a bad item, not the end of the text, stopped the list
  } cases[] = {
      {"C1h", 1, {{193, 5}}, 3, false},
      {"   ", 1, {}, 3, false},
      {"", 1, {}, 0, false},
      {"10   20", 1, {{10, 4}, {20, 9}}, 7, false},
      {"254, $fe;FEh", 1, {{254, 5}, {254, 10}, {254, 14}}, 12, false},
      {"writeeeprom 0 b6h", 13, {{0, 15}, {182, 19}}, 17, false},
      {"0x10 -5", 1, {{16, 6}, {-5, 9}}, 7, false},
      {"7", 0, {{7, 3}}, 1, false},
      {"5", 10, {}, 1, false},
      {"1 ,2", 1, {{1, 3}}, 3, true},
      {"1,,2", 1, {{1, 3}}, 3, true},
      {",5", 1, {}, 1, true},
      {"1\t2", 1, {}, 1, true},
      {"0x10h", 1, {}, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: " + c.Text);
    size_t pos = c.Start;
    int32_t value = 0;
    for (const TRead& r : c.Reads) {
      ASSERT_TRUE(ReadNextInt(c.Text, pos, value, false));
      EXPECT_EQ(value, r.Value);
      EXPECT_EQ(pos, r.Pos);
    }
    const size_t before = pos;
    EXPECT_FALSE(ReadNextInt(c.Text, pos, value, false));
    EXPECT_EQ(pos, c.EndPos);
    EXPECT_EQ(value, -1);
    pos = before;
    if (c.EndsBad) {
      try {
        ReadNextInt(c.Text, pos, value, true);
        ADD_FAILURE() << "strict read did not throw";
      } catch (const ENotationError& e) {
        EXPECT_STREQ(e.what(), "not an int");
      }
    } else {
      EXPECT_FALSE(ReadNextInt(c.Text, pos, value, true));
    }
  }
}

TEST(SendModes, BytesButtonAndKeys) {
  EXPECT_EQ(SendBytesForText(TSendMode::Char, "A\\x41"), "A\\x41");
  EXPECT_EQ(SendBytesForText(TSendMode::CharEsc, "A\\x41"), "AA");
  EXPECT_EQ(SendBytesForText(TSendMode::Mix2, "65,66"), "AB");
  EXPECT_EQ(SendBytesForText(TSendMode::Nr, "65;66"), "AB");
  for (TSendMode keysOrFile : {TSendMode::Type, TSendMode::TypEcho, TSendMode::File})
    EXPECT_EQ(SendBytesForText(keysOrFile, "65"), std::nullopt);
  // The Send action beeps on these, so they must arrive as notation errors.
  EXPECT_THROW(SendBytesForText(TSendMode::Nr, "1 x"), ENotationError);

  // The list's items are the modes in index order.
  std::string names;
  for (int i = 0; i < kSendModeCount; ++i)
    names += std::string(i ? "," : "") + SendModeTraits(*SendModeFromIndex(i)).Name;
  EXPECT_EQ(names, kSendModeList);
  EXPECT_EQ(SendModeFromIndex(-1), std::nullopt);
  EXPECT_EQ(SendModeFromIndex(kSendModeCount), std::nullopt);

  EXPECT_FALSE(SendButtonEnabled(TSendMode::File, false));
  EXPECT_TRUE(SendButtonEnabled(TSendMode::File, true));
  EXPECT_FALSE(SendButtonEnabled(TSendMode::TypEcho, true));
  EXPECT_EQ(ModeAfterReceiveWindowKey(TSendMode::Char), TSendMode::Type);
  EXPECT_EQ(ModeAfterReceiveWindowKey(TSendMode::TypEcho), TSendMode::TypEcho);
  EXPECT_EQ(ModeOnSendBoxEnter(TSendMode::Type), TSendMode::CharEsc);
  EXPECT_EQ(ModeOnSendBoxEnter(TSendMode::TypEcho), TSendMode::TypEcho);
  EXPECT_EQ(KeyPanelText('\xe9'), "> E9 <");
}

TEST(AddSendHistory, NewestFirstWithoutRepeats) {
  using TList = std::vector<std::string>;
  const struct {
    TList Before;
    std::string Text;
    TList After;
  } cases[] = {
      {{}, "x", {"x"}},
      {{"a", "b", "a", "c"}, "a", {"a", "b", "c"}},
      {{"a", "b"}, "b", {"b", "a"}},
      {{"A"}, "a", {"a", "A"}},
      {{"b"}, "", {"b"}},
  };
  for (const auto& c : cases) {
    TList list = c.Before;
    EXPECT_EQ(AddSendHistory(list, c.Text), !c.Text.empty());
    EXPECT_EQ(list, c.After) << c.Text;
  }
}

}  // namespace
}  // namespace vantlebld
