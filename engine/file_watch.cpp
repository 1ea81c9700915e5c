#include "engine/file_watch.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/defaults.h"
#include "engine/text_lines.h"
#include "engine/user_text.h"

namespace vantlebld {

namespace {

constexpr uint8_t kRecordEndOfFile = 1;
// ':' count(2) address(4) type(2) checksum(2)
constexpr size_t kRecordFrameChars = 11;
constexpr size_t kReadPieceBytes = 64 * 1024;
// A file past the reader's limit: a write would refuse it, so it is never
// read whole (a runaway build can grow it to gigabytes).
constexpr std::string_view kTooLarge =
    "the file is larger than the 64 MiB a HEX file may have, so it is not read; "
    "check what the build writes into it";
static_assert(kMaxHexFileBytes == 64 * 1024 * 1024, "kTooLarge names the limit");

bool TooLarge(int64_t bytes) {
  return bytes > kMaxHexFileBytes;
}

struct TRecordCheck {
  int Type = -1;           // the record type, once its digits and length are right
  std::string_view Fault;  // empty for a good record
};

// One record without its line end.
TRecordCheck CheckRecord(std::string_view line) {
  if (line[0] != ':') return {-1, "does not start with ':'"};
  for (size_t i = 1; i < line.size(); ++i)
    if (DigitValue(line[i], 16) < 0) return {-1, "not a hex digit"};
  if (line.size() < kRecordFrameChars || (line.size() - 1) % 2 != 0) return {-1, "wrong length"};
  uint8_t sum = 0;
  uint8_t count = 0;
  uint8_t type = 0;
  for (size_t i = 1; i + 1 < line.size(); i += 2) {
    const auto b = static_cast<uint8_t>(DigitValue(line[i], 16) << 4 | DigitValue(line[i + 1], 16));
    if (i == 1) count = b;
    if (i == 7) type = b;
    sum = static_cast<uint8_t>(sum + b);
  }
  if (line.size() != kRecordFrameChars + 2 * size_t{count}) return {-1, "wrong length"};
  if (sum != 0) return {type, "bad checksum"};
  return {type, {}};
}

}  // namespace

std::string CorruptText(const std::string& path, const THexTextCheck& check) {
  const std::string where = check.Line > 0 ? path + " line " + std::to_string(check.Line) : path;
  return where + ": " + std::string(check.Reason);
}

THexTextCheck CheckHexText(std::string_view text) {
  // Bad records before the end record make a whole file corrupt; without
  // an end record the build has not finished the file, and a bad line is
  // the one it is writing.
  using S = THexTextCheck::TState;
  THexTextCheck check;
  ForEachLine(text, [&check](std::string_view line, int64_t lineNumber) {
    if (line.empty()) return true;
    const TRecordCheck r = CheckRecord(line);
    if (!r.Fault.empty() && check.Line == 0) {
      check.Line = lineNumber;
      check.Reason = r.Fault;
    }
    if (r.Type != kRecordEndOfFile) return true;
    check.State = check.Line == 0 ? S::Complete : S::Corrupt;
    return false;
  });
  if (check.State == S::Incomplete) check = {};
  return check;
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
  check_ = {};
  if (!now.Exists) return TEvent::Incomplete;
  const THexTextCheck tooLarge{THexTextCheck::TState::Corrupt, 0, kTooLarge};
  if (TooLarge(now.Size)) {
    check_ = tooLarge;
    return TEvent::Corrupt;
  }
  // In pieces, never past the limit: the file may have grown since it was
  // looked at.
  std::ifstream in(path_, std::ios::binary);
  std::string text;
  std::vector<char> piece(kReadPieceBytes);
  while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
    text.append(piece.data(), static_cast<size_t>(in.gcount()));
    if (TooLarge(static_cast<int64_t>(text.size()))) {
      check_ = tooLarge;
      return TEvent::Corrupt;
    }
  }
  if (in.bad()) return TEvent::Incomplete;
  check_ = CheckHexText(text);
  switch (check_.State) {
    case THexTextCheck::TState::Complete:
      return TEvent::Ready;
    case THexTextCheck::TState::Corrupt:
      return TEvent::Corrupt;
    case THexTextCheck::TState::Incomplete:
      break;
  }
  return TEvent::Incomplete;
}

}  // namespace vantlebld
