// printf-style formatting for the engine's messages. In every message of
// the system %x prints upper-case hex digits, like %X.
#pragma once

#include <cstdint>
#include <string>

namespace vantlebld {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Two upper-case hex digits and a blank per byte: "41 4B ".
std::string HexDump(const std::string& bytes);

}  // namespace vantlebld
