// The baud-rate generator calculator. Expected register values, baud rates
// and errors are the datasheet tables' figures or worked by hand from
// baud = clock / (divisor (BRG + 1)), not taken from the code.
#include "tools/brg_calculator.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vantlebld {
namespace {

// Exact halves go to the even neighbour; at and beyond the register's
// ends the nearest loadable value is taken, with its true error.
TEST(CalculateBrg, RegisterValueActualBaudAndError) {
  using enum TBrgMode;
  using enum TBrgLimit;
  // mode, quartz MHz, multiplier, baud -> BRG, limit, actual baud, error %
  using TCase = std::tuple<TBrgMode, double, double, int32_t, int32_t, TBrgLimit, double, double>;
  const TCase cases[] = {
      {Pic8BitHighSpeed, 20, 1, 9600, 129, None, 9615.38, 0.16},
      {Pic16Bit, 10, 4, 115200, 86, None, 114942.53, -0.22},         // 40 MHz by the x4 PLL
      {DsPic30, 7.3728, 4, 9600, 47, None, 9600.00, 0.0},            // Fcy 7.3728 MHz
      {DsPic33, 10, 8, 9600, 259, None, 9615.38, 0.16},              // Fcy 40 MHz
      {Pic16Bit, 23, 1, 500000, 10, None, 522727.27, 4.545},         // raw 10.5
      {Pic8BitLowSpeed, 20, 1, 1200, 255, Highest, 1220.70, 1.73},   // raw 259.4
      {Pic8BitHighSpeed, 20, 1, 300, 4166, None, 299.98, -0.01},     // 16-bit BRGH=0
      {Pic8BitLowSpeed, 20, 1, 1000000, 0, Lowest, 312500, -68.75},  // raw -0.69
  };
  for (const auto& [mode, quartz, multiplier, baud, brg, limit, actual, error] : cases) {
    SCOPED_TRACE(testing::Message() << int(mode) << " " << quartz << " " << baud);
    const TBrgResult r = CalculateBrg(mode, quartz, multiplier, baud).value();
    EXPECT_EQ(std::pair(r.Brg, r.Limit), std::pair(brg, limit));
    EXPECT_NEAR(r.ActualBaud, actual, 0.01);
    EXPECT_NEAR(r.Error * 100, error, 0.005);
  }
}

TEST(ParseText, DecimalsWithTheLocaleSeparatorAndIntegerBauds) {
  const std::tuple<std::string, char, double> good[] = {
      {" 7.3728 ", '.', 7.3728}, {"\t18,432\r\n", ',', 18.432}, {"+4", '.', 4}, {"2.5E1", '.', 25}};
  for (const auto& [text, separator, value] : good)
    EXPECT_EQ(ParseDecimalText(text, separator), value) << text;
  const std::pair<const char*, char> bad[] = {{"20.5", ','}, {"20,5", '.'}, {"20 MHz", '.'},
                                              {"0x14", '.'}, {"nan", '.'},  {"1e400", '.'}};
  for (const auto& [text, separator] : bad)
    EXPECT_EQ(ParseDecimalText(text, separator), std::nullopt) << text;

  EXPECT_EQ(ParseBaudText(" +9600 "), 9600);
  for (const char* badBaud : {"", "9600.0", "2147483648", "$2580"})
    EXPECT_EQ(ParseBaudText(badBaud), std::nullopt) << badBaud;
}

// Above 3 % off the error turns maroon, above 4.5 % both turn red; the
// bounds keep the colour. No mode, or a clock or baud rate that is not a
// number above zero (or overflows): the texts are empty and black.
TEST(BrgDisplay, ValueErrorShadesAndSummary) {
  using enum TBrgShade;
  // mode, quartz, multiplier, baud -> value, error, value shade, error shade
  using TText = const char*;
  const std::tuple<int, TText, TText, TText, TText, TText, TBrgShade, TBrgShade> cases[] = {
      {4, "8", "4", "115200", "8", "-3.5", Black, Maroon},
      {2, "23", "1", "500000", "10", "4.5", Red, Red},  // 4.545 % reads 4.5 but is red
      // Exactly 3 % and 4.5 % off: 41.2 MHz / 40 = 1.03 MBd, 41.8 MHz / 40 = 1.045 MBd.
      {2, "41.2", "1", "1000000", "9", "3.0", Black, Black},
      {2, "41.8", "1", "1000000", "9", "4.5", Black, Maroon},
  };
  for (const auto& [mode, quartz, multiplier, baud, value, error, valueShade, errorShade] : cases) {
    const TBrgDisplay d = BrgDisplay(mode, quartz, multiplier, baud);
    EXPECT_EQ(std::tuple(d.BrgValue, d.Error, d.BrgValueShade, d.ErrorShade),
              std::tuple(value, error, valueShade, errorShade))
        << mode << " " << quartz << " x" << multiplier << " " << baud;
  }
  const std::tuple<int, TText, TText, TText> bad[] = {{kBrgModeCount, "20", "1", "9600"},
                                                      {1, "0", "1", "9600"},
                                                      {2, "1e303", "1", "9600"},
                                                      {3, "20", "x", "9600"},
                                                      {2, "20", "1", "9600.5"}};
  for (const auto& [mode, quartz, multiplier, baud] : bad) {
    const TBrgDisplay d = BrgDisplay(mode, quartz, multiplier, baud);
    EXPECT_EQ(std::tuple(d.Summary + d.BrgValue + d.Error, d.ErrorShade), std::tuple("", Black))
        << mode << " " << quartz << " x" << multiplier << " " << baud;
  }
  // dsPIC33: Fcy = Fosc / 2; Tcy is exactly 0.0625 us, a tie to even as in printf.
  EXPECT_EQ(BrgDisplay(4, "8", "4", "9600").Summary, "Fosc=32.00MHz,  Fcy~16.0mips,  Tcy=0.062us");
  const TBrgDisplay comma = BrgDisplay(3, "7,3728", "4,0", "9600", ',');
  EXPECT_EQ(comma.Summary, "Fosc=29,49MHz,  Fcy~7,4mips,  Tcy=0,136us");
  EXPECT_EQ(comma.Error, "0,0");
}

}  // namespace
}  // namespace vantlebld
