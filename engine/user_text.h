// Numbers and text as users type them, read one way everywhere: the
// command lines, the settings, the device table, the console, the
// terminal's notations, the pre-codes and the virtual PIC's options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vantlebld {

// The error of a strict reading: the message is what the user reads
// ("Invalid input string", "not an int", "300 is not a byte value").
class ENotationError : public std::runtime_error {
 public:
  explicit ENotationError(const std::string& message) : std::runtime_error(message) {}
};

// Removes the characters below 33 (blanks and control characters) from
// both ends.
std::string TrimControls(std::string_view text);

// The value of one digit in base (2 to 16, either case), or -1.
int DigitValue(char c, int base);

enum class TNumberForms {
  Decimal,  // digits only
  All,      // decimal, or hex after "$", "0x" or "x" (either case) or before "h"
};

// The whole text as one number: an optional sign, then digits in one of
// the forms (41h, $41, 0x41, x41, 65). No blanks; nothing beyond the
// signed 64-bit range. Empty when not a number.
std::optional<int64_t> ParseNumber(std::string_view text, TNumberForms forms = TNumberForms::All);

// A signed 32-bit number as the notations write it: leading blanks, then
// decimal with an optional sign that must fit the signed range ("071" is
// 71), or hex in any form with no sign, which must fit 32 bits and is
// taken as two's complement ("$FFFFFFFF" is -1). Empty when not valid.
std::optional<int32_t> ParseIntLiteral(std::string_view text);

// The integer-list reader. Reads the next number from pos (1-based, moved
// on) of text: items end at a blank, "," or ";". On success pos moves past
// the item and the one character that ended it (also when the item ended
// the text, so "C1h" read from 1 leaves pos at 5); blanks after that are
// skipped by the next call. When only blanks and control characters remain
// it returns false, value -1 and pos at the text's length. A bad item
// (also an empty one, as in "1,,2" or "1 ,2") returns false and leaves pos
// alone; with strict set it throws "not an int" instead. Positions below 1
// read from the start.
bool ReadNextInt(const std::string& text, size_t& pos, int32_t& value, bool strict);

// The length of the valid UTF-8 sequence that starts at text[at]; 0 when
// none does (a stray continuation byte, an overlong form, a surrogate, a
// code point past U+10FFFF, a cut sequence). at < text.size().
size_t Utf8Length(const std::string& text, size_t at);

}  // namespace vantlebld
