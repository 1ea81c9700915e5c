// The baud-rate generator calculator. Expected register values, baud rates
// and errors are the datasheet tables' figures or worked by hand from
// baud = clock / (divisor (BRG + 1)), not taken from the code.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "tools/brg_calculator.h"

namespace vantlebld {
namespace {

struct TCalcCase {
  TBrgMode Mode;
  double QuartzMHz, Multiplier;
  int32_t Baud, Brg;
  TBrgLimit Limit;
  double ActualBaud, ErrorPercent;
};

TEST(CalculateBrg, RegisterValueActualBaudAndError) {
  using enum TBrgMode;
  using enum TBrgLimit;
  const TCalcCase cases[] = {
      {Pic8BitHighSpeed, 20, 1, 9600, 129, None, 9615.38, 0.16},
      {Pic8BitLowSpeed, 20, 1, 19200, 15, None, 19531.25, 1.73},
      {Pic16Bit, 10, 4, 115200, 86, None, 114942.53, -0.22},  // 40 MHz by the x4 PLL
      {DsPic30, 7.3728, 4, 9600, 47, None, 9600.00, 0.0},     // Fcy 7.3728 MHz
      {DsPic33, 10, 8, 9600, 259, None, 9615.38, 0.16},       // Fcy 40 MHz
      // Exact halves go to the even neighbour: raw 10.5, 11.5.
      {Pic16Bit, 23, 1, 500000, 10, None, 522727.27, 4.545},
      {Pic16Bit, 25, 1, 500000, 12, None, 480769.23, -3.846},
      // At and beyond the register's ends: the nearest loadable value and its true error.
      {Pic8BitLowSpeed, 16.384, 1, 1000, 255, None, 1000, 0},        // raw exactly 255
      {Pic8BitLowSpeed, 20, 1, 1200, 255, Highest, 1220.70, 1.73},   // raw 259.4
      {Pic16Bit, 40, 1, 100, 65535, Highest, 152.59, 52.59},         // raw 99999
      {Pic8BitHighSpeed, 20, 1, 300, 4166, None, 299.98, -0.01},     // 16-bit BRGH=0
      {Pic8BitLowSpeed, 20, 1, 1000000, 0, Lowest, 312500, -68.75},  // raw -0.69
      {Pic8BitHighSpeed, 20, 1, 2500000, 0, None, 1250000, -50},     // raw -0.5 goes up to 0
  };
  for (const TCalcCase& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.Mode) << " " << c.QuartzMHz << " x"
                                    << c.Multiplier << " " << c.Baud);
    const std::optional<TBrgResult> r = CalculateBrg(c.Mode, c.QuartzMHz, c.Multiplier, c.Baud);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Brg, c.Brg);
    EXPECT_EQ(r->Limit, c.Limit);
    EXPECT_NEAR(r->ActualBaud, c.ActualBaud, 0.01);
    EXPECT_NEAR(r->Error * 100, c.ErrorPercent, 0.005);
  }
  // An absurd clock still gives a loadable value, never an overflowed cast.
  EXPECT_EQ(CalculateBrg(Pic8BitLowSpeed, 1e300, 1, 9600)->Brg, 255);
}

TEST(ParseText, DecimalsWithTheLocaleSeparatorAndIntegerBauds) {
  const std::tuple<std::string, char, double> good[] = {
      {" 7.3728 ", '.', 7.3728}, {"\t18,432\r\n", ',', 18.432}, {"+4", '.', 4}, {"2.5E1", '.', 25}};
  for (const auto& [text, separator, value] : good)
    EXPECT_EQ(ParseDecimalText(text, separator), value) << text;
  const std::pair<const char*, char> bad[] = {
      {"", '.'},    {"20.5", ','}, {"20,5", '.'}, {"1.2.3", '.'}, {"20 MHz", '.'},
      {"+-5", '.'}, {"0x14", '.'}, {"inf", '.'},  {"nan", '.'},   {"1e400", '.'}};
  for (const auto& [text, separator] : bad)
    EXPECT_EQ(ParseDecimalText(text, separator), std::nullopt) << text;

  EXPECT_EQ(ParseBaudText(" +9600 "), 9600);
  EXPECT_EQ(ParseBaudText("2147483647"), INT32_MAX);
  for (const char* badBaud : {"", "9600.0", "1e3", "2147483648", "96 00", "$2580", "+-1"})
    EXPECT_EQ(ParseBaudText(badBaud), std::nullopt) << badBaud;
}

// Above 3 % off the error turns maroon, above 4.5 % both turn red; the
// bounds themselves keep the colour.
TEST(BrgDisplay, ValueErrorAndShades) {
  using enum TBrgShade;
  const std::tuple<int, const char*, const char*, const char*, const char*, const char*, TBrgShade,
                   TBrgShade>
      cases[] = {
          // mode, quartz, multiplier, baud -> value, error, value shade, error shade
          {1, "20", "1", "115200", "10", "-1.4", Black, Black},  // the start inputs
          {0, "20", "1", "115200", "2", "-9.6", Red, Red},
          {2, "20", "1", "115200", "42", "0.9", Black, Black},
          {4, "8", "4", "115200", "8", "-3.5", Black, Maroon},
          {2, "23", "1", "500000", "10", "4.5", Red, Red},  // 4.545 % reads 4.5 but is red
          // Exactly 3 % and 4.5 % off: 41.2 MHz / 40 = 1.03 MBd, 41.8 MHz / 40 = 1.045 MBd.
          {2, "41.2", "1", "1000000", "9", "3.0", Black, Black},
          {2, "41.8", "1", "1000000", "9", "4.5", Black, Maroon},
          {2, "20", "1", "9600", "520", "0.0", Black, Black},  // -0.03 % reads without a sign
      };
  for (const auto& [mode, quartz, multiplier, baud, value, error, valueShade, errorShade] : cases) {
    SCOPED_TRACE(testing::Message() << mode << " " << quartz << " x" << multiplier << " " << baud);
    const TBrgDisplay d = BrgDisplay(mode, quartz, multiplier, baud);
    EXPECT_EQ(d.BrgValue, value);
    EXPECT_EQ(d.Error, error);
    EXPECT_EQ(d.BrgValueShade, valueShade);
    EXPECT_EQ(d.ErrorShade, errorShade);
  }
}

TEST(BrgDisplay, ClockSummary) {
  EXPECT_EQ(BrgDisplay(1, "20", "1", "9600").Summary, "Fosc=20.00MHz,  Fcy~5.0mips,  Tcy=0.200us");
  EXPECT_EQ(BrgDisplay(4, "20", "1", "9600").Summary, "Fosc=20.00MHz,  Fcy~10.0mips,  Tcy=0.100us");
  // Tcy is exactly 0.0625 us, a tie that goes to the even digit as in printf.
  EXPECT_EQ(BrgDisplay(4, "8", "4", "9600").Summary, "Fosc=32.00MHz,  Fcy~16.0mips,  Tcy=0.062us");
  const TBrgDisplay comma = BrgDisplay(3, "7,3728", "4,0", "9600", ',');
  EXPECT_EQ(comma.Summary, "Fosc=29,49MHz,  Fcy~7,4mips,  Tcy=0,136us");
  EXPECT_EQ(comma.Error, "0,0");
}

// A clock or baud rate that is not a number above zero (or overflows) in
// any mode, or no mode selected: the three texts are empty and black.
TEST(BrgDisplay, BadInputEmptiesAllThree) {
  const auto expectEmpty = [](int mode, const char* quartz, const char* multiplier,
                              const char* baud) {
    const TBrgDisplay d = BrgDisplay(mode, quartz, multiplier, baud);
    EXPECT_EQ(d.Summary + d.BrgValue + d.Error, "")
        << mode << " " << quartz << " x" << multiplier << " " << baud;
    EXPECT_EQ(d.ErrorShade, TBrgShade::Black);
  };
  expectEmpty(-1, "20", "1", "9600");
  expectEmpty(kBrgModeCount, "20", "1", "9600");
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"", "1", "9600"},      {"0", "1", "9600"},   {"-20", "1", "9600"},
      {"1e303", "1", "9600"}, {"20", "x", "9600"},  {"20", "-1", "9600"},
      {"20", "1", "0"},       {"20", "1", "-9600"}, {"20", "1", "9600.5"}};
  for (const auto& [quartz, multiplier, baud] : cases)
    for (int mode = 0; mode < kBrgModeCount; ++mode)
      expectEmpty(mode, quartz, multiplier, baud);
}

}  // namespace
}  // namespace vantlebld
