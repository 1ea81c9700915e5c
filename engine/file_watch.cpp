#include "engine/file_watch.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vantlebld {

namespace {

constexpr uint8_t kRecordEndOfFile = 1;
// ':' count(2) address(4) type(2) checksum(2)
constexpr size_t kRecordFrameChars = 11;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One record without its line end: the record type, or -1 when it is not
// a well-formed record with a right checksum.
int RecordType(std::string_view line) {
  if (line.size() < kRecordFrameChars || line[0] != ':' || (line.size() - 1) % 2 != 0) return -1;
  uint8_t sum = 0;
  std::string bytes;
  for (size_t i = 1; i + 1 < line.size(); i += 2) {
    const int hi = HexDigit(line[i]);
    const int lo = HexDigit(line[i + 1]);
    if (hi < 0 || lo < 0) return -1;
    const auto b = static_cast<uint8_t>(hi << 4 | lo);
    sum = static_cast<uint8_t>(sum + b);
    bytes += static_cast<char>(b);
  }
  const size_t count = static_cast<uint8_t>(bytes[0]);
  if (line.size() != kRecordFrameChars + 2 * count || sum != 0) return -1;
  return static_cast<uint8_t>(bytes[3]);
}

}  // namespace

bool HexTextComplete(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const int type = RecordType(line);
    if (type < 0) return false;
    if (type == kRecordEndOfFile) return true;
  }
  return false;  // no end-of-file record: the build has not finished it
}

THexFileWatch::THexFileWatch(std::string path) : path_(std::move(path)), seen_(Look()) {}

THexFileWatch::TStamp THexFileWatch::Look() const {
  std::error_code ec;
  const auto modified = std::filesystem::last_write_time(path_, ec);
  if (ec) return {};
  const auto size = std::filesystem::file_size(path_, ec);
  if (ec) return {};
  TStamp s;
  s.Exists = true;
  s.Size = static_cast<int64_t>(size);
  s.Modified = static_cast<int64_t>(modified.time_since_epoch().count());
  return s;
}

THexFileWatch::TEvent THexFileWatch::Poll(int64_t nowMs) {
  const TStamp now = Look();
  if (!(now == seen_)) {
    seen_ = now;
    settling_ = true;
    changedAt_ = nowMs;
    return TEvent::Changing;
  }
  if (!settling_ || nowMs - changedAt_ < kSettleMs) return TEvent::None;
  settling_ = false;
  if (!now.Exists) return TEvent::Incomplete;
  std::ifstream in(path_, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return in.bad() || !HexTextComplete(text) ? TEvent::Incomplete : TEvent::Ready;
}

}  // namespace vantlebld
