#include "engine/user_text.h"

#include <limits>

namespace vantlebld {

namespace {

bool IsControlOrBlank(char c) {
  return static_cast<unsigned char>(c) < 33;
}

// A number taken apart: its sign, its form and its magnitude.
struct TScanned {
  bool Negative = false;
  bool Hex = false;
  uint64_t Magnitude = 0;
};

std::optional<TScanned> Scan(std::string_view s, TNumberForms forms) {
  TScanned n;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    n.Negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (forms == TNumberForms::All) {
    n.Hex = true;
    if (!s.empty() && s.front() == '$') {
      s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      s.remove_prefix(2);
    } else if (!s.empty() && (s.front() == 'x' || s.front() == 'X')) {
      s.remove_prefix(1);
    } else if (!s.empty() && (s.back() == 'h' || s.back() == 'H')) {
      s.remove_suffix(1);
    } else {
      n.Hex = false;
    }
  }
  if (s.empty()) return std::nullopt;
  const int base = n.Hex ? 16 : 10;
  for (char c : s) {
    const int digit = DigitValue(c, base);
    if (digit < 0) return std::nullopt;
    const auto d = static_cast<uint64_t>(digit);
    if (n.Magnitude > (std::numeric_limits<uint64_t>::max() - d) / static_cast<uint64_t>(base))
      return std::nullopt;
    n.Magnitude = n.Magnitude * static_cast<uint64_t>(base) + d;
  }
  return n;
}

// The signed value of a scanned number within [-limit - 1, limit].
template <class T>
std::optional<T> Signed(const TScanned& n) {
  const auto limit = static_cast<uint64_t>(std::numeric_limits<T>::max());
  if (n.Magnitude > limit + (n.Negative ? 1 : 0)) return std::nullopt;
  if (!n.Negative) return static_cast<T>(n.Magnitude);
  // The magnitude of the most negative value is one past the positive
  // range: negate in the unsigned domain.
  return static_cast<T>(static_cast<int64_t>(0 - n.Magnitude));
}

}  // namespace

int DigitValue(char c, int base) {
  int digit = -1;
  if (c >= '0' && c <= '9') digit = c - '0';
  if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
  return digit < base ? digit : -1;
}

std::string TrimControls(std::string_view text) {
  while (!text.empty() && IsControlOrBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsControlOrBlank(text.back()))
    text.remove_suffix(1);
  return std::string(text);
}

std::optional<int64_t> ParseNumber(std::string_view text, TNumberForms forms) {
  const std::optional<TScanned> n = Scan(text, forms);
  if (!n) return std::nullopt;
  return Signed<int64_t>(*n);
}

std::optional<int32_t> ParseIntLiteral(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  const std::optional<TScanned> n = Scan(text, TNumberForms::All);
  if (!n) return std::nullopt;
  if (!n->Hex) return Signed<int32_t>(*n);
  // Hex is a 32-bit pattern: "$FFFFFFFF" is -1; a sign has no place there.
  if (n->Negative || n->Magnitude > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(n->Magnitude));
}

bool ReadNextInt(const std::string& text, size_t& pos, int32_t& value, bool strict) {
  size_t start = pos < 1 ? 0 : pos - 1;
  while (start < text.size() && IsControlOrBlank(text[start]))
    ++start;
  if (start >= text.size()) {
    value = -1;
    pos = text.size();
    return false;
  }
  size_t end = text.find_first_of(" ,;", start);
  if (end == std::string::npos) end = text.size();
  const std::optional<int32_t> number =
      ParseIntLiteral(std::string_view(text).substr(start, end - start));
  if (!number) {
    if (strict) {
      const std::string token = text.substr(start, end - start);
      throw ENotationError(token.empty()
                               ? "a number is missing before '" + text.substr(start, 1) + "'"
                               : "\"" + token + "\" is not a number");
    }
    value = -1;
    return false;
  }
  value = *number;
  // 1-based, one past the separator; an item that ends the text counts a
  // separator too, which the next call finds beyond the end.
  pos = end + 2;
  return true;
}

size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace vantlebld
