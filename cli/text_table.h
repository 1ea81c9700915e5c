// Tables as plain text lines, for the `ports` list and the several-boards
// summary.
#pragma once

#include <string>
#include <vector>

namespace vantlebld {

// One line per row; each column but the last is padded to its widest
// text and followed by two blanks. Trailing blanks are dropped.
std::vector<std::string> AlignColumns(const std::vector<std::vector<std::string>>& rows);

// A log line without the CR of the CR LF pairs inside multi-line texts
// (the image report).
std::string WithoutCR(const std::string& line);

}  // namespace vantlebld
