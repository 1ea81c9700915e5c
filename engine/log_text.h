// The one renderer: turns job events into the log lines a person reads,
// for every place they are shown (the window's pane and full log, the
// CLI, the automatic mode's standard error, the log file). How a line is
// indented, which lines only a detailed log shows and how a continued
// line joins the one before it are decided here and nowhere else.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/job_events.h"

namespace vantlebld {

class TLogRenderer {
 public:
  struct TLine {
    std::string Text;
    // Shown at the renderer's detail setting; the full log keeps every line.
    bool Shown = true;
    // Continues the last shown line: Text holds both, and replaces it.
    bool ReplacesLast = false;
  };
  using TSink = std::function<void(const TLine& line)>;

  // showDetails: detail lines count as shown too.
  TLogRenderer(TSink sink, bool showDetails) : sink_(std::move(sink)), showDetails_(showDetails) {}

  void SetShowDetails(bool on) { showDetails_ = on; }
  bool ShowDetails() const { return showDetails_; }
  void Add(const TJobEvent& event);
  // A line of the front end's own, as a detail event.
  void Say(TLineRole role, const std::string& text, bool verbose = false) {
    Add({TDetailEvent{role, verbose, text}});
  }

 private:
  void Line(TLineRole role, bool verbose, const std::string& text);

  TSink sink_;
  bool showDetails_;
  std::string last_;  // the last shown line
};

// For sinks that print and cannot take a line back (a terminal, a file):
// each shown line is held until the next one shows whether it continues.
class TLinePrinter {
 public:
  using TPrint = std::function<void(const std::string& line)>;
  TLinePrinter(TPrint print, bool showDetails);
  ~TLinePrinter() { Flush(); }
  TLinePrinter(const TLinePrinter&) = delete;
  TLinePrinter& operator=(const TLinePrinter&) = delete;

  void Add(const TJobEvent& event) { renderer_.Add(event); }
  void Say(TLineRole role, const std::string& text, bool verbose = false) {
    renderer_.Say(role, text, verbose);
  }
  // Prints the held line.
  void Flush();

 private:
  TPrint print_;
  TLogRenderer renderer_;
  bool pending_ = false;
  std::string held_;
};

}  // namespace vantlebld
