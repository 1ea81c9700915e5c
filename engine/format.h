// printf-style formatting for the engine's messages. In every message of
// the system %x prints upper-case hex digits, like %X.
#pragma once

#include <cstdint>
#include <string>

namespace vantlebld {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Two upper-case hex digits and a blank per byte: "41 4B ".
std::string HexDump(const std::string& bytes);

// Bytes a device sent, fit for a log line or a terminal: printable ASCII as
// it is, everything else (control characters, escape sequences, bytes from
// 7Fh up) as '.'.
std::string Printable(const std::string& bytes);
// The same bytes as "Hex: 41 1B 5B  Str: A.[", at most the first
// kShownDeviceBytes of them, then how many there were in all.
constexpr size_t kShownDeviceBytes = 32;
std::string DeviceBytes(const std::string& bytes);

}  // namespace vantlebld
