// The settings file's INI reader and writer. The input is a settings file,
// then, after a 00h byte, writes as section, key and value separated by
// 00h bytes. What a file reads as must read the same once written out and
// read again, before and after the writes, and a write that is taken must
// read back as its value without blanks at the ends.
#include <set>

#include "app/ini_file.h"
#include "fuzz/fuzz_support.h"

using namespace vantlebld;

namespace {

std::string_view TrimBlanks(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The names between "[" and "]" anywhere in the text, as sections to ask
// for; a name that is no section reads as empty in both files alike.
void CollectSections(std::string_view text, std::set<std::string>& names) {
  for (size_t open = text.find('['); open != std::string_view::npos;
       open = text.find('[', open + 1)) {
    const size_t close = text.find(']', open);
    if (close == std::string_view::npos) break;
    names.emplace(text.substr(open + 1, close - open - 1));
  }
}

// Both files read alike for every section asked for: the same entries, and
// each entry as a string and as an integer.
void ExpectSameReading(const TIniFile& a, const TIniFile& b, const std::set<std::string>& sections,
                       const char* when) {
  for (const std::string& name : sections) {
    const auto entries = a.ReadSection(name);
    if (a.SectionExists(name) != b.SectionExists(name) || entries != b.ReadSection(name))
      fuzz::Finding(std::string("section [") + name + "] reads differently " + when);
    for (const auto& [key, value] : entries) {
      if (b.ReadString(name, key, "\x01") != value ||
          a.ReadInteger(name, key, -7) != b.ReadInteger(name, key, -7))
        fuzz::Finding("[" + name + "] " + key + " reads differently " + when);
    }
  }
}

// The file written out and read again gives back the same text and the
// same reading.
void ExpectRoundTrip(const TIniFile& ini, const std::set<std::string>& sections, const char* when) {
  const std::string text = ini.Text();
  const TIniFile again = TIniFile::FromText(text);
  if (again.Text() != text) fuzz::Finding(std::string("the text changes on reading ") + when);
  ExpectSameReading(ini, again, sections, when);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = fuzz::Split(fuzz::Text(data, size), std::string(1, '\0'));
  TIniFile ini = TIniFile::FromText(parts[0]);
  std::set<std::string> sections;
  CollectSections(parts[0], sections);
  ExpectRoundTrip(ini, sections, "as read");

  for (size_t i = 1; i + 2 < parts.size(); i += 3) {
    const std::string &section = parts[i], &key = parts[i + 1], &value = parts[i + 2];
    sections.emplace(TrimBlanks(section));
    if (!ini.WriteString(section, key, value)) continue;
    if (ini.ReadString(section, key, "\x01") != TrimBlanks(value))
      fuzz::Finding("[" + section + "] " + key + " does not read back as written");
  }
  ExpectRoundTrip(ini, sections, "after the writes");
  return 0;
}
