#include "engine/format.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>
#include <vector>

namespace vantlebld {

namespace {

// Turns every %x conversion into %X, leaving flags, widths and "%%" alone.
std::string UpperHexConversions(const char* fmt) {
  std::string out(fmt);
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '%') continue;
    size_t j = i + 1;
    if (j < out.size() && out[j] == '%') {
      i = j;
      continue;
    }
    while (j < out.size() &&
           std::string_view("-+ #0123456789.*hlzjt").find(out[j]) != std::string_view::npos)
      ++j;
    if (j < out.size() && out[j] == 'x') out[j] = 'X';
    i = j;
  }
  return out;
}

}  // namespace

std::string Format(const char* fmt, ...) {
  const std::string upper = UpperHexConversions(fmt);
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int needed = std::vsnprintf(nullptr, 0, upper.c_str(), copy);
  va_end(copy);
  std::string result;
  if (needed > 0) {
    std::vector<char> buf(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buf.data(), buf.size(), upper.c_str(), args);
    result.assign(buf.data(), static_cast<size_t>(needed));
  }
#pragma GCC diagnostic pop
  va_end(args);
  return result;
}

std::string HexDump(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
    out += ' ';
  }
  return out;
}

std::string Printable(const std::string& bytes) {
  std::string out = bytes;
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F) c = '.';
  }
  return out;
}

std::string DeviceBytes(const std::string& bytes) {
  const std::string shown = bytes.substr(0, kShownDeviceBytes);
  std::string out = "Hex: " + HexDump(shown) + "  Str: " + Printable(shown);
  if (bytes.size() > shown.size()) out += Format(" ... (%zu bytes in all)", bytes.size());
  return out;
}

}  // namespace vantlebld
