// The baud-rate generator calculator of the Tools page: which value to load
// into the baud-rate generator register of a PIC's serial port for a
// wanted baud rate, and how far the baud rate that value really gives is
// off. Plain C++ with no window code, so the page only moves texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantlebld {

// The register layouts, in the order of the mode list. Each divides a
// base clock by a fixed divisor and by (BRG + 1).
enum class TBrgMode : int {
  Pic8BitLowSpeed = 0,   // PIC16/18, BRGH=0: Fosc / (64 (BRG + 1))
  Pic8BitHighSpeed = 1,  // PIC16/18, BRGH=1, or BRG16=1 with BRGH=0: Fosc / (16 (BRG + 1))
  Pic16Bit = 2,          // PIC16/18, BRG16=1 and BRGH=1 (SPBRGH:SPBRG): Fosc / (4 (BRG + 1))
  DsPic30 = 3,           // Fcy = Fosc / 4: Fcy / (16 (BRG + 1))
  DsPic33 = 4,           // Fcy = Fosc / 2: Fcy / (16 (BRG + 1))
};
constexpr int kBrgModeCount = 5;
constexpr TBrgMode kDefaultBrgMode = TBrgMode::Pic8BitHighSpeed;

// The inputs' texts at start; the outputs show their start texts until
// the first change of an input.
constexpr const char* kDefaultQuartzText = "20";  // MHz
constexpr const char* kDefaultMultiplierText = "1";
constexpr const char* kPllHintStartText = "....";
constexpr const char* kSummaryStartText = "Result";

// The mode list's item for a mode.
const char* BrgModeItem(TBrgMode mode);
// The mode of a list index; empty for an index outside the list (as when
// nothing is selected).
std::optional<TBrgMode> BrgModeFromIndex(int index);
// What the multiplier stands for in a mode: "=1 or pll", "=PLL", "=M/N1/N2".
const char* PllHint(TBrgMode mode);

// The largest value the mode's register holds: 255 for the 8-bit low-speed
// generator, 65535 for the 16-bit ones. (In the high-speed mode a value
// above 255 needs the 16-bit generator, BRG16=1.)
int32_t BrgRegisterMax(TBrgMode mode);

// Where the register value had to be held to what the register can take.
enum class TBrgLimit {
  None,     // the nearest value fits
  Lowest,   // the wanted baud is faster than BRG = 0 gives; BRG is 0
  Highest,  // the wanted baud is slower than the largest value gives
};

struct TBrgResult {
  double Fosc;       // Hz: quartz × multiplier
  double Fcy;        // Hz: instruction clock, Fosc / 4 (dsPIC33: Fosc / 2)
  double TcyMicros;  // one instruction cycle in µs
  int32_t Brg;       // the register value, within 0..BrgRegisterMax
  TBrgLimit Limit;
  double ActualBaud;  // the baud rate Brg gives
  double Error;       // (actual - wanted) / wanted; 0.01 is 1 %
};

// Fosc = quartzMHz × multiplier MHz. The register value is the nearest to
// base clock / baud / divisor - 1, an exact half going to the even
// neighbour, held to the register's range. Empty when a frequency,
// multiplier or baud is not above zero, or a clock is not a finite number.
std::optional<TBrgResult> CalculateBrg(TBrgMode mode, double quartzMHz, double multiplier,
                                       int32_t baud);

// A decimal number as the user types it into the quartz and multiplier
// boxes: an optional sign, digits with at most one decimalSeparator (the
// user's locale's), an optional exponent ("2.5E1"); blanks around it are
// allowed. A point is no decimal separator where the locale uses a comma.
// Empty when not valid or not finite.
std::optional<double> ParseDecimalText(const std::string& text, char decimalSeparator);
// The baud box: an optional sign and decimal digits, blanks around it
// allowed, within the signed 32-bit range. Empty when not valid.
std::optional<int32_t> ParseBaudText(const std::string& text);

// "Fosc=20.00MHz,  Fcy~5.0mips,  Tcy=0.200us", with the locale's
// decimalSeparator.
std::string ClockSummaryText(const TBrgResult& result, char decimalSeparator = '.');
// The register value in decimal: "129".
std::string BrgValueText(const TBrgResult& result);
// The error in percent, one decimal: "-1.4", "0.2". An error that rounds
// to nothing reads "0.0", never "-0.0".
std::string ErrorText(const TBrgResult& result, char decimalSeparator = '.');

// The text colours of the two result boxes. Up to 3 % off a UART link
// still works; beyond 4.5 % it fails, so the value itself is marked.
enum class TBrgShade { Black, Maroon, Red };
constexpr double kBrgWarnError = 0.03;  // above: the error turns maroon
constexpr double kBrgBadError = 0.045;  // above: error and value turn red
TBrgShade ErrorShade(double error);
TBrgShade BrgValueShade(double error);

// Everything the page shows after a change of any input. When an input is
// not valid or no mode is selected the three texts are empty and black.
struct TBrgDisplay {
  std::string Summary;   // labelResult
  std::string BrgValue;  // the "BRG value:" box
  std::string Error;     // the "Error(%):" box
  TBrgShade BrgValueShade = TBrgShade::Black;
  TBrgShade ErrorShade = TBrgShade::Black;
};
TBrgDisplay BrgDisplay(int modeIndex, const std::string& quartzText,
                       const std::string& multiplierText, const std::string& baudText,
                       char decimalSeparator = '.');

}  // namespace vantlebld
