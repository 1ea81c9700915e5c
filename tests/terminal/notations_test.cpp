// The byte notations of the send box, the macros, the translation table
// and the number-list reader of the pre-codes, ID code and console.
#include "terminal/notations.h"

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

namespace vantlebld {
namespace {

using namespace std::string_literals;

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
  const TCases nr = {{"254   $fe, FEh", "\xfe\xfe\xfe"},
                     {"0,255;10 ", "\0\xff\n"s},
                     {"1 ,2", "!not an int"},
                     {"1 2 256", ""},
                     {"1 300 x", ""},
                     {"1 x", "!not an int"}};
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

}  // namespace
}  // namespace vantlebld
