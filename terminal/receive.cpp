#include "terminal/receive.h"

#include <algorithm>

#include "terminal/notations.h"

namespace vantlebld {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kEndOfFile = 0x1A;  // the old text-file end mark

// The Nr line of one byte: character, decimal (right-aligned in three),
// hex, binary, CR LF.
void AppendNrLine(std::string& out, uint8_t b) {
  char line[kNrLineLength];
  std::fill(std::begin(line), std::end(line), ' ');
  line[0] = (b == 0x00 || b == 0x09 || b == 0x0A) ? kNrPlaceholder : char(b);
  line[6] = char('0' + b % 10);
  if (b >= 10) line[5] = char('0' + b / 10 % 10);
  if (b >= 100) line[4] = char('0' + b / 100);
  line[10] = kHexDigits[b >> 4];
  line[11] = kHexDigits[b & 0x0F];
  for (int bit = 0; bit < 8; ++bit)
    line[14 + bit] = (b & (0x80 >> bit)) ? '1' : '0';
  line[22] = '\r';
  line[23] = '\n';
  out.append(line, kNrLineLength);
}

}  // namespace

std::string TranslateReceived(std::string_view bytes, const TTranslateTable& table) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const std::string& entry = table[uint8_t(c)];
    if (entry.empty())
      out += c;
    else
      out += entry;
  }
  return out;
}

std::string FormatReceived(std::string_view bytes, int view, const TTranslateTable& table) {
  std::string out;
  switch (view) {
    case int(TReceiveView::Char):
      return TranslateReceived(bytes, table);
    case int(TReceiveView::Hex):
      out.reserve(bytes.size() * 3);
      for (char c : bytes) {
        const uint8_t b = uint8_t(c);
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 0x0F];
        out += ' ';
      }
      return out;
    case int(TReceiveView::Nr):
      out.reserve(bytes.size() * kNrLineLength);
      for (char c : bytes)
        AppendNrLine(out, uint8_t(c));
      return out;
    default:
      return out;
  }
}

std::optional<TTranslateFault> RebuildTranslateTable(const std::vector<TTranslateRule>& rows,
                                                     TTranslateTable& table) {
  table.fill({});
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].Code.empty()) continue;
    try {
      const std::string code = Mix2ToBytes(rows[i].Code);
      if (code.size() != 1) return TTranslateFault{i, kTranslateAssertion};
      table[uint8_t(code[0])] = Mix2ToBytes(rows[i].New);
    } catch (const ENotationError& e) {
      return TTranslateFault{i, e.what()};
    }
  }
  return std::nullopt;
}

std::string ParseClearCode(const std::string& text) {
  return Mix2ToBytes(TrimControls(text));
}

void TReceiveBuffer::SetLimit(int32_t limit) {
  limit_ = limit > 0 ? size_t(limit) : size_t(kDefaultTermBufferLength);
  Bound();
}

void TReceiveBuffer::Bound() {
  if (buffer_.size() > limit_) buffer_.erase(0, buffer_.size() - limit_);
}

TReceived TReceiveBuffer::Take(std::string_view chunk) {
  const size_t codeLength = clearCode_.size();
  // A code may have begun in the bytes that were here before this chunk.
  const size_t carried = codeLength > 1 ? std::min(codeLength - 1, buffer_.size()) : 0;
  std::string seen = buffer_.substr(buffer_.size() - carried);
  seen.append(chunk);
  buffer_.append(chunk);
  Bound();

  TReceived result;
  result.New.assign(chunk);
  if (codeLength == 0) return result;
  // The carried bytes are one fewer than the code, so every occurrence in
  // seen ends among the new bytes: none was found by the previous poll.
  for (size_t at = seen.find(clearCode_); at != std::string::npos; at = seen.find(clearCode_)) {
    result.Cleared = true;
    seen.erase(0, at + codeLength);
  }
  if (result.Cleared) {
    result.New = seen;
    buffer_ = std::move(seen);
    Bound();
  }
  return result;
}

std::string DumpToHexView(std::string_view dump) {
  std::string out;
  out.reserve(dump.size() * 3);
  size_t pos = 0;
  while (pos < dump.size()) {
    if (dump[pos] == kEndOfFile) break;
    std::string line;
    while (pos < dump.size() && dump[pos] != '\n') {
      if (dump[pos] != '\r') line += dump[pos];
      ++pos;
    }
    if (pos < dump.size()) ++pos;  // the LF
    out += FormatReceived(line, int(TReceiveView::Hex));
  }
  return out;
}

}  // namespace vantlebld
