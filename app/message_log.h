// The window's log: every line a job's events and the window itself
// report, rendered by the one renderer, as the message pane shows it and
// as the full log keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/log_text.h"

namespace vantlebld {

// The message pane the log writes into: its last line can be removed and
// added. Prompt leaves a fresh empty line for typing, which the next line
// added fills.
struct TLogPane {
  virtual ~TLogPane() = default;
  virtual void RemoveLastLine() = 0;
  virtual void AddLine(const std::string& line) = 0;
  virtual void Prompt() {}
};

class TWindowLog {
 public:
  explicit TWindowLog(TLogPane& pane);
  TWindowLog(const TWindowLog&) = delete;
  TWindowLog& operator=(const TWindowLog&) = delete;

  // Detail lines reach the pane only while this is on.
  void SetShowDetails(bool on) { renderer_.SetShowDetails(on); }
  bool ShowDetails() const { return renderer_.ShowDetails(); }

  // The lines of one event, every one kept in the full log, the shown ones
  // in the pane (a continued line in place of the one it continues).
  // Returns the lines it made.
  std::vector<std::string> Add(const TJobEvent& event);
  void Say(TLineRole role, const std::string& text, bool verbose = false) {
    Add({TDetailEvent{role, verbose, text}});
  }
  const std::vector<std::string>& LogList() const { return logList_; }

 private:
  TLogPane& pane_;
  TLogRenderer renderer_;
  std::vector<std::string> logList_;
  std::vector<std::string>* made_ = nullptr;
};

}  // namespace vantlebld
