#include "app/message_log.h"

namespace vantlebld {

TWindowLog::TWindowLog(TLogPane& pane)
    : pane_(pane),
      renderer_(
          [this](const TLogRenderer::TLine& line) {
            logList_.push_back(line.Text);
            if (made_ != nullptr) made_->push_back(line.Text);
            if (!line.Shown) return;
            if (line.ReplacesLast) pane_.RemoveLastLine();
            pane_.AddLine(line.Text);
          },
          false) {}

std::vector<std::string> TWindowLog::Add(const TJobEvent& event) {
  std::vector<std::string> made;
  made_ = &made;
  renderer_.Add(event);
  made_ = nullptr;
  return made;
}

}  // namespace vantlebld
