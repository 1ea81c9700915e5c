// The window's log: every line the engine and the window report, as the
// message pane shows it and as the full log keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantlebld {

// The message pane the log writes into: its last line can be read,
// removed and added. Prompt leaves a fresh empty line for typing, which the
// next line added fills.
struct TLogPane {
  virtual ~TLogPane() = default;
  virtual std::string LastLine() const = 0;
  virtual void RemoveLastLine() = 0;
  virtual void AddLine(const std::string& line) = 0;
  virtual void Prompt() {}
};

class TMessageLog {
 public:
  // Detail lines (LogDetail) reach the pane only while this is on.
  bool LogDetails = false;

  // One log line: indent prefixes, LogAppend joins it to the pane's last
  // line after ", ". The full log keeps every line, the joined one too.
  void AddLog(uint8_t flags, const std::string& text, TLogPane& pane);
  const std::vector<std::string>& LogList() const { return logList_; }

 private:
  std::vector<std::string> logList_;
};

}  // namespace vantlebld
