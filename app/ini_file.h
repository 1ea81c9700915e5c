// The settings file's own INI reader and writer.
//
// The settings file is edited by hand as often as by the program, so a
// save has to give back the file as it was read with only the program's
// values changed: unknown sections and keys, their order, comments, blank
// lines and the spacing of untouched lines all stay. QSettings escapes,
// quotes and reorders, which is why the program keeps its own reader.
//
// Reading follows the usual Windows INI rules:
// - A line whose first non-blank character is "[" and that holds a "]"
//   starts a section; the name is what lies between "[" and the first "]",
//   without blanks around it. Anything after the "]" is ignored.
// - Any other line that holds "=" before which there is a key is an entry:
//   the key is the text before the first "=", the value the text after it,
//   both without blanks (space, tab) at either end. So "Key = v " reads as
//   key "Key", value "v", and a value keeps any further "=".
// - Lines starting with ";" are comments. Blank lines, comments, lines
//   without "=" and lines before the first section are kept but read as
//   nothing.
// - Section and key names compare without regard to (ASCII) case.
// - When a name occurs twice, the first occurrence is the one read and
//   written: the first section of that name, the first entry of that key in
//   it. Later duplicates stay in the file untouched.
// - LF, CR LF and a lone CR all end a line. A save writes the ending of the
//   file's first line (LF for a new file), and keeps a leading UTF-8 byte
//   order mark.
//
// Text is taken byte for byte (the rest of the system handles 8-bit byte
// strings); whatever encoding the file has survives a save unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantlebld {

// The integer rule of the file: decimal digits with an optional sign and
// blanks around, within 32 bits. Empty for anything else.
std::optional<int32_t> ParseIniInteger(std::string_view text);

class TIniFile {
 public:
  using TEntry = std::pair<std::string, std::string>;  // key, value

  // An empty file that is not bound to a path (Save fails).
  TIniFile() = default;
  // Reads the whole file now. A missing file reads as empty and is created
  // by Save. A file that exists but cannot be read also reads as empty, and
  // ReadError() says why.
  explicit TIniFile(std::string fileName);
  // A file held only in memory, for callers that have the text already.
  static TIniFile FromText(std::string_view text);

  const std::string& FileName() const { return fileName_; }
  // Why an existing file could not be read; empty when it was read or did
  // not exist.
  const std::string& ReadError() const { return readError_; }

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // The value as read; def only when the key is missing (an entry with an
  // empty value reads as empty).
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // A decimal integer with an optional sign, within 32 bits; anything else
  // (empty, hex, trailing text, out of range) gives def.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // Read as an integer: any non-zero integer is true; a value that is not an
  // integer gives def.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  // The entries of a section in file order, each key once with the value of
  // its first occurrence. Empty when the section is missing.
  std::vector<TEntry> ReadSection(std::string_view section) const;

  // Change the copy in memory. A key already present keeps its place and
  // spelling; a new key goes after the last non-blank line of its section,
  // a new section at the end of the file. Blanks around the key are
  // dropped; the value is written as it stands, though blanks at its ends
  // do not read back (reads from the copy already answer without them).
  // Returns false, changing nothing, for what the file could not give back
  // as written: an empty key, a key holding "=" or starting with ";" or
  // "[", a section name holding "]", and any line break.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int32_t value);
  bool WriteBool(std::string_view section, std::string_view key, bool value);  // "1" or "0"

  // The file's content as Save writes it.
  std::string Text() const;
  // Rewrites the whole file through a temporary file that replaces it only
  // once completely written and flushed, so a crash or a full disk leaves
  // the old file as it was. Returns false with the reason in *reason when
  // the file could not be written; also when it existed but could not be
  // read, as overwriting it would lose whatever it holds.
  bool Save(std::string* reason = nullptr) const;

 private:
  struct TLine {
    std::string Text;   // the line as read or last written, without its ending
    std::string Key;    // empty when the line is not an entry
    std::string Value;  // for entries
  };
  struct TSection {
    std::string Name;
    std::string Header;  // the "[...]" line
    std::vector<TLine> Lines;
  };

  void Parse(std::string_view text);
  const TSection* FindSection(std::string_view name) const;
  TSection* FindSection(std::string_view name);

  std::string fileName_;
  std::string readError_;
  std::string lineEnd_ = "\n";
  bool byteOrderMark_ = false;
  std::vector<std::string> preamble_;  // lines before the first section
  std::vector<TSection> sections_;
};

}  // namespace vantlebld
