// Splits text into lines the way files from any system arrive: LF, CR LF
// and a lone CR each end a line, and a last line needs no ending.
#pragma once

#include <cstdint>
#include <string_view>

namespace vantlebld {

// Calls f(line, lineNumber) for each line, numbers from 1, empty lines
// included. f returns false to stop early.
template <class F>
void ForEachLine(std::string_view text, F&& f) {
  size_t pos = 0;
  int64_t n = 0;  // a file of 2^31 lines still counts right
  const size_t end = text.size();
  while (pos < end) {
    size_t eol = pos;
    while (eol < end && text[eol] != '\n' && text[eol] != '\r')
      ++eol;
    const std::string_view line = text.substr(pos, eol - pos);
    pos = eol;
    if (pos < end) {
      const bool cr = text[pos] == '\r';
      ++pos;
      if (cr && pos < end && text[pos] == '\n') ++pos;
    }
    if (!f(line, ++n)) return;
  }
}

}  // namespace vantlebld
