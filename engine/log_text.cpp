#include "engine/log_text.h"

#include "engine/vantlebld_comm.h"

namespace vantlebld {

void TLogRenderer::Add(uint8_t flags, const std::string& text) {
  const bool shown = showDetails_ || (flags & LogDetail) == 0;
  std::string line;
  if ((flags & LogAppend) != 0 && shown) {
    line = (pending_ ? last_ : std::string()) + ", ";
    pending_ = false;
  }
  if ((flags & LogIndent3) != 0) line += "   ";
  if ((flags & LogIndent6) != 0) line += "      ";
  line += text;
  if (!shown) return;
  Flush();
  last_ = std::move(line);
  pending_ = true;
}

void TLogRenderer::Flush() {
  if (pending_ && sink_) sink_(last_);
  pending_ = false;
}

}  // namespace vantlebld
