// Renders the engine's log lines (flags, text) into text lines, for sinks
// that print them: a message pane or a terminal. An appended line
// (LogAppend) continues the last shown line after ", ", so the renderer
// holds the last line back until it knows no append will follow.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vantlebld {

// The line as the full log keeps it: appended text with the line it
// continues, then the indent prefixes and the text.
class TLogRenderer {
 public:
  using TLineSink = std::function<void(const std::string& line)>;

  // showDetails: detail lines (LogDetail) are shown too.
  TLogRenderer(TLineSink sink, bool showDetails)
      : sink_(std::move(sink)), showDetails_(showDetails) {}
  ~TLogRenderer() { Flush(); }
  TLogRenderer(const TLogRenderer&) = delete;
  TLogRenderer& operator=(const TLogRenderer&) = delete;

  void Add(uint8_t flags, const std::string& text);
  // Emits the held-back line.
  void Flush();

 private:
  TLineSink sink_;
  bool showDetails_;
  bool pending_ = false;
  std::string last_;
};

}  // namespace vantlebld
