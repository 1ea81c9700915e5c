#include "app/message_log.h"

#include "engine/vantlebld_comm.h"

namespace vantlebld {

void TMessageLog::AddLog(uint8_t flags, const std::string& text, TLogPane& pane) {
  const bool shown = LogDetails || (flags & LogDetail) == 0;
  std::string line;
  if ((flags & LogAppend) != 0) {
    line = pane.LastLine() + ", ";
    // A hidden line must not take the pane's last line away with it.
    if (shown) pane.RemoveLastLine();
  }
  if ((flags & LogIndent3) != 0) line += "   ";
  if ((flags & LogIndent6) != 0) line += "      ";
  line += text;
  logList_.push_back(line);
  if (shown) pane.AddLine(line);
}

}  // namespace vantlebld
