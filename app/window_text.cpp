#include "app/window_text.h"

#include "engine/user_text.h"

namespace vantlebld {

namespace {
constexpr size_t kOfflineCodeChars = 3;  // "$41" of "$41  PIC18F252"
}  // namespace

uint8_t OfflineCodeFromText(const std::string& text) {
  const auto value = ParseNumber(text.substr(0, kOfflineCodeChars));
  return value ? static_cast<uint8_t>(*value & 0xFF) : 0;
}

std::vector<std::string> ToStdList(const QStringList& list) {
  std::vector<std::string> out;
  for (const QString& s : list)
    out.push_back(s.toLocal8Bit().toStdString());
  return out;
}

}  // namespace vantlebld

namespace vantlebld {

uint8_t IDCodeFromText(const std::string& text, uint8_t fallback) {
  size_t pos = 1;
  int32_t value = 0;
  if (ReadNextInt(text, pos, value, true)) return static_cast<uint8_t>(value & 0xFF);
  return fallback;
}

QString BytesToText(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string TextToBytes(const QString& text) {
  return text.toLatin1().toStdString();
}

std::string PaneText(const std::string& line) {
  constexpr std::string_view kTextDump = "Str:";
  const size_t at = line.find(kTextDump);
  if (at == std::string::npos) return line;
  std::string shown = line;
  for (size_t i = at + kTextDump.size(); i < shown.size(); ++i) {
    const auto c = static_cast<unsigned char>(shown[i]);
    if (c < 0x20 || c >= 0x7F) shown[i] = '.';
  }
  return shown;
}

}  // namespace vantlebld
