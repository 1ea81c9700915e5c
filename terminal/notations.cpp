#include "terminal/notations.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace vantlebld {

namespace {

constexpr char kInvalidInput[] = "Invalid input string";

// The value of a hex digit of either case, -1 for any other character.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsHexSuffix(char c) {
  return c == 'h' || c == 'H';
}

// An item ending in "h" is hex: the "h" goes and a "$" takes its place in
// front, so "C1h" reads as "$C1".
void RewriteHexSuffix(std::string& item) {
  if (item.empty() || !IsHexSuffix(item.back())) return;
  item.pop_back();
  item.insert(0, "$");
}

// One Mix2 item, already cut at its separator and trimmed, onto out.
void AppendMix2Item(std::string item, std::string& out) {
  // Callers give numbers or quoted words; an empty item carries neither.
  if (item.empty()) return;
  if (item.front() == '"' && item.back() == '"') {
    // A lone double quote is both ends at once and appends nothing.
    if (item.size() >= 2) out.append(item, 1, item.size() - 2);
    return;
  }
  RewriteHexSuffix(item);
  if (item.size() >= 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X'))
    item.replace(0, 2, "$");
  const std::optional<int32_t> value = ParseIntLiteral(item);
  if (!value) throw ENotationError(item + " is not an int value");
  if (*value < 0 || *value > 255)
    throw ENotationError(std::to_string(*value) + " is not a byte value");
  out += static_cast<char>(*value);
}

constexpr std::array<TSendModeTraits, kSendModeCount> kSendModes = {{
    {"Char", TSendBoxShade::Window, TSendButton::Enabled, false, false, false},
    {"Char\\", TSendBoxShade::Window, TSendButton::Enabled, false, false, false},
    {"Mix2", TSendBoxShade::Window, TSendButton::Enabled, false, false, false},
    {"Nr", TSendBoxShade::Window, TSendButton::Enabled, false, false, false},
    {"Type", TSendBoxShade::ButtonFace, TSendButton::Disabled, true, true, false},
    {"TypEcho", TSendBoxShade::ButtonFace, TSendButton::Disabled, true, true, true},
    {"aVantleFile", TSendBoxShade::Tooltip, TSendButton::WhileFileExists, true, false, false},
}};

}  // namespace

std::string CharEscToBytes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '\\') {
      out += text[i++];
      continue;
    }
    // "\x41": the backslash needs three characters after it, also at the
    // very end of the text.
    if (text.size() - i < 4 || (text[i + 1] != 'x' && text[i + 1] != 'X'))
      throw ENotationError(kInvalidInput);
    const int high = HexDigitValue(text[i + 2]);
    const int low = HexDigitValue(text[i + 3]);
    if (high < 0 || low < 0) throw ENotationError(kInvalidInput);
    out += static_cast<char>(high * 16 + low);
    i += 4;
  }
  return out;
}

std::string Mix2ToBytes(const std::string& text) {
  const std::string rest = TrimControls(text);
  std::string out;
  size_t i = 0;
  while (i < rest.size()) {
    size_t end = rest.find_first_of(" ,", i);
    if (end == std::string::npos) end = rest.size();
    AppendMix2Item(TrimControls(rest.substr(i, end - i)), out);
    // The separator and every blank and comma after it.
    i = end;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == ','))
      ++i;
  }
  return out;
}

std::string NrToBytes(const std::string& text) {
  std::string out;
  size_t pos = 1;
  int32_t value = 0;
  while (ReadNextInt(text, pos, value, true)) {
    if (value < 0 || value > 255)
      throw ENotationError(std::to_string(value) + " is not a byte value");
    out += static_cast<char>(value);
  }
  return out;
}

std::optional<TSendMode> SendModeFromIndex(int index) {
  if (index < 0 || index >= kSendModeCount) return std::nullopt;
  return static_cast<TSendMode>(index);
}

const TSendModeTraits& SendModeTraits(TSendMode mode) {
  return kSendModes[static_cast<size_t>(mode)];
}

bool SendButtonEnabled(TSendMode mode, bool fileExists) {
  switch (SendModeTraits(mode).Button) {
    case TSendButton::Enabled:
      return true;
    case TSendButton::Disabled:
      return false;
    case TSendButton::WhileFileExists:
      return fileExists;
  }
  return false;
}

std::optional<std::string> SendBytesForText(TSendMode mode, const std::string& text) {
  switch (mode) {
    case TSendMode::Char:
      return text;
    case TSendMode::CharEsc:
      return CharEscToBytes(text);
    case TSendMode::Mix2:
      return Mix2ToBytes(text);
    case TSendMode::Nr:
      return NrToBytes(text);
    case TSendMode::Type:
    case TSendMode::TypEcho:
    case TSendMode::File:
      break;
  }
  return std::nullopt;
}

TSendMode ModeAfterReceiveWindowKey(TSendMode mode) {
  return SendModeTraits(mode).SendsEachKey ? mode : TSendMode::Type;
}

TSendMode ModeOnSendBoxEnter(TSendMode mode) {
  return mode == TSendMode::Type ? TSendMode::CharEsc : mode;
}

std::string KeyPanelText(char key) {
  std::array<char, 8> buf{};
  std::snprintf(buf.data(), buf.size(), "> %02X <", static_cast<unsigned char>(key));
  return buf.data();
}

bool AddSendHistory(std::vector<std::string>& history, const std::string& text) {
  if (text.empty()) return false;
  history.erase(std::remove(history.begin(), history.end(), text), history.end());
  history.insert(history.begin(), text);
  return true;
}

}  // namespace vantlebld
