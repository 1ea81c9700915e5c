#include "engine/file_watch.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/text_lines.h"
#include "engine/user_text.h"

namespace vantlebld {

namespace {

constexpr uint8_t kRecordEndOfFile = 1;
// ':' count(2) address(4) type(2) checksum(2)
constexpr size_t kRecordFrameChars = 11;

// One record without its line end: the record type, or -1 when it is not
// a well-formed record with a right checksum.
int RecordType(std::string_view line) {
  if (line.size() < kRecordFrameChars || line[0] != ':' || (line.size() - 1) % 2 != 0) return -1;
  uint8_t sum = 0;
  uint8_t count = 0;
  uint8_t type = 0;
  for (size_t i = 1; i + 1 < line.size(); i += 2) {
    const int hi = DigitValue(line[i], 16);
    const int lo = DigitValue(line[i + 1], 16);
    if (hi < 0 || lo < 0) return -1;
    const auto b = static_cast<uint8_t>(hi << 4 | lo);
    if (i == 1) count = b;
    if (i == 7) type = b;
    sum = static_cast<uint8_t>(sum + b);
  }
  if (line.size() != kRecordFrameChars + 2 * size_t{count} || sum != 0) return -1;
  return type;
}

}  // namespace

bool HexTextComplete(std::string_view text) {
  // Complete once an end-of-file record follows well-formed records; no
  // such record yet: the build has not finished the file.
  bool complete = false;
  ForEachLine(text, [&complete](std::string_view line, int64_t) {
    if (line.empty()) return true;
    const int type = RecordType(line);
    complete = type == kRecordEndOfFile;
    return type >= 0 && !complete;
  });
  return complete;
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
