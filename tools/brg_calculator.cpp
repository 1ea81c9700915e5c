#include "tools/brg_calculator.h"

#include "engine/user_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace vantlebld {

namespace {

constexpr double kHzPerMHz = 1000000.0;
constexpr double kMicrosPerSecond = 1000000.0;

// Where the generator takes its clock from and what it divides by besides
// (BRG + 1). The 8-bit PICs count Fosc directly; the dsPICs count the
// instruction clock.
struct TModeTraits {
  const char* Item;
  const char* PllHint;
  double FcyDivisor;  // Fosc / Fcy
  bool CountsFcy;     // base clock is Fcy, not Fosc
  double Divisor;
  int32_t RegisterMax;
};
constexpr int32_t k8BitMax = 255;
constexpr int32_t k16BitMax = 65535;
constexpr std::array<TModeTraits, kBrgModeCount> kModes = {{
    {"PIC16/18, 8bit   low speed", "=1 or pll", 4.0, false, 64.0, k8BitMax},
    {"PIC16/18, 8bit  HighSpeed(brgh1) or 16bit,brgh0", "=1 or pll", 4.0, false, 16.0, k16BitMax},
    {"PIC16/18, 16bit(+SPBRGH) (BRGH=1)", "=1 or pll", 4.0, false, 4.0, k16BitMax},
    {"dsPIC30", "=PLL", 4.0, true, 16.0, k16BitMax},
    {"dsPIC33", "=M/N1/N2", 2.0, true, 16.0, k16BitMax},
}};

const TModeTraits& Traits(TBrgMode mode) {
  return kModes[static_cast<size_t>(mode)];
}

// Nearest integer, an exact half to the even neighbour, whatever rounding
// mode the floating-point unit is left in.
double RoundHalfEven(double value) {
  const double down = std::floor(value);
  const double rest = value - down;
  if (rest < 0.5) return down;
  if (rest > 0.5) return down + 1.0;
  return std::fmod(down, 2.0) == 0.0 ? down : down + 1.0;
}

// from_chars takes a minus but no plus; a plus may lead, but not "+-5".
bool StripPlus(std::string& text) {
  if (text.empty() || text[0] != '+') return true;
  text.erase(0, 1);
  return !text.empty() && text[0] != '-' && text[0] != '+';
}

// printf's "%.<decimals>f" without the C locale's say in the separator.
std::string FixedText(double value, int decimals, char decimalSeparator) {
  std::array<char, 400> buffer{};  // the largest double has 309 digits
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::fixed, decimals);
  if (ec != std::errc()) return std::string();
  std::string text(buffer.data(), end);
  for (char& c : text)
    if (c == '.') c = decimalSeparator;
  return text;
}

}  // namespace

const char* BrgModeItem(TBrgMode mode) {
  return Traits(mode).Item;
}

std::optional<TBrgMode> BrgModeFromIndex(int index) {
  if (index < 0 || index >= kBrgModeCount) return std::nullopt;
  return static_cast<TBrgMode>(index);
}

const char* PllHint(TBrgMode mode) {
  return Traits(mode).PllHint;
}

int32_t BrgRegisterMax(TBrgMode mode) {
  return Traits(mode).RegisterMax;
}

std::optional<TBrgResult> CalculateBrg(TBrgMode mode, double quartzMHz, double multiplier,
                                       int32_t baud) {
  // Not above zero: no clock, or a baud rate that divides by zero.
  if (!(quartzMHz > 0.0) || !(multiplier > 0.0) || baud <= 0) return std::nullopt;
  const TModeTraits& traits = Traits(mode);
  TBrgResult r{};
  r.Fosc = quartzMHz * multiplier * kHzPerMHz;
  r.Fcy = r.Fosc / traits.FcyDivisor;
  r.TcyMicros = kMicrosPerSecond / r.Fcy;
  if (!std::isfinite(r.Fosc) || !(r.Fcy > 0.0) || !std::isfinite(r.TcyMicros)) return std::nullopt;

  const double baseClock = traits.CountsFcy ? r.Fcy : r.Fosc;
  const double wanted = static_cast<double>(baud);
  const double nearest = RoundHalfEven(baseClock / wanted / traits.Divisor - 1.0);
  // A value outside the register cannot be loaded: the nearest that can
  // is shown, with the error it really gives.
  if (nearest < 0.0) {
    r.Brg = 0;
    r.Limit = TBrgLimit::Lowest;
  } else if (nearest > static_cast<double>(traits.RegisterMax)) {
    r.Brg = traits.RegisterMax;
    r.Limit = TBrgLimit::Highest;
  } else {
    r.Brg = static_cast<int32_t>(nearest);
    r.Limit = TBrgLimit::None;
  }
  r.ActualBaud = baseClock / ((static_cast<double>(r.Brg) + 1.0) * traits.Divisor);
  r.Error = (r.ActualBaud - wanted) / wanted;
  return r;
}

std::optional<double> ParseDecimalText(const std::string& text, char decimalSeparator) {
  std::string number = TrimControls(text);
  if (!StripPlus(number)) return std::nullopt;
  for (char& c : number) {
    if (c == decimalSeparator)
      c = '.';
    else if (c == '.')
      return std::nullopt;  // a point where the locale writes a comma
  }
  double value = 0.0;
  const char* end = number.data() + number.size();
  const auto [ptr, ec] = std::from_chars(number.data(), end, value, std::chars_format::general);
  if (number.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<int32_t> ParseBaudText(const std::string& text) {
  std::string number = TrimControls(text);
  if (!StripPlus(number)) return std::nullopt;
  int32_t value = 0;
  const char* end = number.data() + number.size();
  const auto [ptr, ec] = std::from_chars(number.data(), end, value);
  if (number.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::string ClockSummaryText(const TBrgResult& result, char decimalSeparator) {
  return "Fosc=" + FixedText(result.Fosc / kHzPerMHz, 2, decimalSeparator) + "MHz,  Fcy~" +
         FixedText(result.Fcy / kHzPerMHz, 1, decimalSeparator) +
         "mips,  Tcy=" + FixedText(result.TcyMicros, 3, decimalSeparator) + "us";
}

std::string BrgValueText(const TBrgResult& result) {
  return std::to_string(result.Brg);
}

std::string ErrorText(const TBrgResult& result, char decimalSeparator) {
  std::string text = FixedText(result.Error * 100.0, 1, decimalSeparator);
  if (text == std::string("-0") + decimalSeparator + "0") text.erase(0, 1);
  return text;
}

TBrgShade ErrorShade(double error) {
  const double size = std::fabs(error);
  if (size > kBrgBadError) return TBrgShade::Red;
  if (size > kBrgWarnError) return TBrgShade::Maroon;
  return TBrgShade::Black;
}

TBrgShade BrgValueShade(double error) {
  return std::fabs(error) > kBrgBadError ? TBrgShade::Red : TBrgShade::Black;
}

TBrgDisplay BrgDisplay(int modeIndex, const std::string& quartzText,
                       const std::string& multiplierText, const std::string& baudText,
                       char decimalSeparator) {
  const std::optional<TBrgMode> mode = BrgModeFromIndex(modeIndex);
  const std::optional<double> quartz = ParseDecimalText(quartzText, decimalSeparator);
  const std::optional<double> multiplier = ParseDecimalText(multiplierText, decimalSeparator);
  const std::optional<int32_t> baud = ParseBaudText(baudText);
  if (!mode || !quartz || !multiplier || !baud) return TBrgDisplay{};
  const std::optional<TBrgResult> result = CalculateBrg(*mode, *quartz, *multiplier, *baud);
  if (!result) return TBrgDisplay{};
  TBrgDisplay display;
  display.Summary = ClockSummaryText(*result, decimalSeparator);
  display.BrgValue = BrgValueText(*result);
  display.Error = ErrorText(*result, decimalSeparator);
  display.BrgValueShade = BrgValueShade(result->Error);
  display.ErrorShade = ErrorShade(result->Error);
  return display;
}

}  // namespace vantlebld
