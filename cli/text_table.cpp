#include "cli/text_table.h"

#include <algorithm>

namespace vantlebld {

namespace {
constexpr const char* kColumnGap = "  ";
}  // namespace

std::vector<std::string> AlignColumns(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> width;
  for (const auto& row : rows) {
    if (width.size() < row.size()) width.resize(row.size());
    for (size_t c = 0; c < row.size(); ++c)
      width[c] = std::max(width[c], row[c].size());
  }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(width[c] - row[c].size(), ' ') + kColumnGap;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(line);
  }
  return lines;
}

std::string WithoutCR(const std::string& line) {
  std::string text;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\r' || i + 1 >= line.size() || line[i + 1] != '\n') text += line[i];
  }
  return text;
}

}  // namespace vantlebld
