// printf-style formatting for the engine's messages. In every message of
// the system %x prints upper-case hex digits, like %X.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantlebld {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Two upper-case hex digits and a blank per byte: "41 4B ".
std::string HexDump(const std::string& bytes);

// A number as users type it: decimal, a trailing "h", or a leading "$" or
// "0x" (41h, $41, 0x41); nothing else. Up to 15 digits.
std::optional<int64_t> ParseNumberText(const std::string& text);

}  // namespace vantlebld
