#include "app/ini_file.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <climits>
#include <system_error>
#include <utility>

#include "engine/text_lines.h"
#include "engine/user_text.h"

namespace vantlebld {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// The ending of the first line; LF when the text has no line break.
std::string FirstLineEnd(std::string_view text) {
  const size_t eol = text.find_first_of("\r\n");
  if (eol == std::string_view::npos || text[eol] == '\n') return "\n";
  return (eol + 1 < text.size() && text[eol + 1] == '\n') ? "\r\n" : "\r";
}

}  // namespace

std::optional<int32_t> ParseIniInteger(std::string_view text) {
  const std::optional<int64_t> value = ParseNumber(Trim(text), TNumberForms::Decimal);
  if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*value);
}

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  QFile file(QFile::decodeName(fileName_.c_str()));
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    readError_ = file.errorString().toStdString();
    return;
  }
  const QByteArray data = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    readError_ = file.errorString().toStdString();
    return;
  }
  Parse(std::string_view(data.constData(), static_cast<size_t>(data.size())));
}

TIniFile TIniFile::FromText(std::string_view text) {
  TIniFile ini;
  ini.Parse(text);
  return ini;
}

void TIniFile::Parse(std::string_view text) {
  if (text.starts_with(kByteOrderMark)) {
    byteOrderMark_ = true;
    text.remove_prefix(kByteOrderMark.size());
  }
  lineEnd_ = FirstLineEnd(text);
  ForEachLine(text, [this](std::string_view line, int64_t) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.starts_with('[')) {
      const size_t close = trimmed.find(']');
      if (close != std::string_view::npos) {
        sections_.push_back(
            {std::string(Trim(trimmed.substr(1, close - 1))), std::string(line), {}});
        return true;
      }
    }
    TLine entry{std::string(line), {}, {}};
    const size_t eq = trimmed.find('=');
    if (!trimmed.starts_with(';') && eq != std::string_view::npos) {
      entry.Key = Trim(trimmed.substr(0, eq));
      if (!entry.Key.empty()) entry.Value = Trim(trimmed.substr(eq + 1));
    }
    if (sections_.empty())
      preamble_.push_back(std::move(entry.Text));
    else
      sections_.back().Lines.push_back(std::move(entry));
    return true;
  });
}

const TIniFile::TSection* TIniFile::FindSection(std::string_view name) const {
  name = Trim(name);
  for (const TSection& section : sections_)
    if (SameName(section.Name, name)) return &section;
  return nullptr;
}

TIniFile::TSection* TIniFile::FindSection(std::string_view name) {
  return const_cast<TSection*>(std::as_const(*this).FindSection(name));
}

bool TIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  const TSection* sec = FindSection(section);
  if (sec == nullptr) return false;
  key = Trim(key);
  for (const TLine& line : sec->Lines)
    if (!line.Key.empty() && SameName(line.Key, key)) return true;
  return false;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  if (const TSection* sec = FindSection(section)) {
    key = Trim(key);
    for (const TLine& line : sec->Lines)
      if (!line.Key.empty() && SameName(line.Key, key)) return line.Value;
  }
  return std::string(def);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  if (!ValueExists(section, key)) return def;
  return ParseIniInteger(ReadString(section, key, "")).value_or(def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::vector<TIniFile::TEntry> TIniFile::ReadSection(std::string_view section) const {
  std::vector<TEntry> entries;
  const TSection* sec = FindSection(section);
  if (sec == nullptr) return entries;
  for (const TLine& line : sec->Lines) {
    if (line.Key.empty()) continue;
    bool seen = false;
    for (const TEntry& e : entries)
      seen = seen || SameName(e.first, line.Key);
    if (!seen) entries.emplace_back(line.Key, line.Value);
  }
  return entries;
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  const bool readsBack = !HasLineBreak(section) && section.find(']') == std::string_view::npos &&
                         !key.empty() && !HasLineBreak(key) &&
                         key.find('=') == std::string_view::npos && !key.starts_with(';') &&
                         !key.starts_with('[') && !HasLineBreak(value);
  if (!readsBack) return false;

  TSection* sec = FindSection(section);
  if (sec == nullptr) {
    // A blank line before a new section, as such files are laid out by hand.
    const bool empty = sections_.empty() && preamble_.empty();
    const bool afterBlank =
        sections_.empty()
            ? (!preamble_.empty() && Trim(preamble_.back()).empty())
            : (!sections_.back().Lines.empty() && Trim(sections_.back().Lines.back().Text).empty());
    if (!empty && !afterBlank) {
      if (sections_.empty())
        preamble_.emplace_back();
      else
        sections_.back().Lines.push_back({});
    }
    sections_.push_back({std::string(section), "[" + std::string(section) + "]", {}});
    sec = &sections_.back();
  }

  // The copy answers reads as the saved file will: blanks around the value
  // do not read back.
  const std::string_view readsAs = Trim(value);
  for (TLine& line : sec->Lines) {
    if (line.Key.empty() || !SameName(line.Key, key)) continue;
    // An unchanged value keeps its line exactly as it was read.
    if (line.Value != readsAs) {
      line.Value = readsAs;
      line.Text = line.Key + "=" + std::string(value);
    }
    return true;
  }
  size_t at = sec->Lines.size();
  while (at > 0 && Trim(sec->Lines[at - 1].Text).empty())
    --at;
  TLine entry{std::string(key) + "=" + std::string(value), std::string(key), std::string(readsAs)};
  sec->Lines.insert(sec->Lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
  return true;
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

std::string TIniFile::Text() const {
  std::string out;
  if (byteOrderMark_) out += kByteOrderMark;
  for (const std::string& line : preamble_)
    out += line + lineEnd_;
  for (const TSection& section : sections_) {
    out += section.Header + lineEnd_;
    for (const TLine& line : section.Lines)
      out += line.Text + lineEnd_;
  }
  return out;
}

bool TIniFile::Save(std::string* reason) const {
  const auto fail = [&](const std::string& why) {
    if (reason != nullptr) *reason = "Could not save " + fileName_ + ": " + why;
    return false;
  };
  if (fileName_.empty()) return fail("no file name");
  if (!readError_.empty()) return fail("it could not be read (" + readError_ + ")");

  // QSaveFile writes beside the file and renames over it only after a
  // complete write and a flush to disk; it refuses to fall back to writing
  // the file in place.
  QSaveFile file(QFile::decodeName(fileName_.c_str()));
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString().toStdString());
  const std::string text = Text();
  const auto size = static_cast<qint64>(text.size());
  // Writes are buffered: a full disk may show only in the flush, and a
  // commit after a failed flush would still rename the short file over
  // the old one.
  if (file.write(text.data(), size) != size || !file.flush()) {
    const std::string why = file.errorString().toStdString();
    file.cancelWriting();
    return fail(why +
                "; free some space on that disk or make the folder writable, then save "
                "again");
  }
  if (!file.commit()) return fail(file.errorString().toStdString());
  return true;
}

}  // namespace vantlebld
