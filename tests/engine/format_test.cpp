// Message formatting: %x prints upper-case digits like %X.
#include <gtest/gtest.h>

#include <string>

#include "engine/format.h"

namespace vantlebld {
namespace {

TEST(Format, HexConversionsPrintUpperCase) {
  EXPECT_EQ(Format("%x", 0xabcu), "ABC");
  EXPECT_EQ(Format("%.5Xh", 0x1a2bu), "01A2Bh");
  EXPECT_EQ(Format("%.6xh", 0xabcdeu), "0ABCDEh");
  EXPECT_EQ(Format("%02xh", 0xau), "0Ah");
  EXPECT_EQ(Format("%-4x|", 0xau), "A   |");
  EXPECT_EQ(Format("%#x", 0xffu), "0XFF");
  EXPECT_EQ(Format("%lx", 0xdeadbeefUL), "DEADBEEF");
  EXPECT_EQ(Format("%x %x", 0xau, 0xbu), "A B");
}

TEST(Format, LeavesPercentSignsAndArgumentsAlone) {
  EXPECT_EQ(Format("100%% %x", 0xau), "100% A");
  EXPECT_EQ(Format("%%x"), "%x");
  EXPECT_EQ(Format("%s=%x", "0xab", 0xabu), "0xab=AB");
  EXPECT_EQ(Format("%d %s", -12, "text"), "-12 text");
}

TEST(Format, LongTextIsNotCut) {
  const std::string s(5000, 'z');
  EXPECT_EQ(Format("[%s]", s.c_str()), "[" + s + "]");
}

TEST(HexDump, TwoDigitsAndABlankPerByte) {
  EXPECT_EQ(HexDump(std::string("\x41\x4b\x00\xff", 4)), "41 4B 00 FF ");
  EXPECT_EQ(HexDump(""), "");
}

}  // namespace
}  // namespace vantlebld
