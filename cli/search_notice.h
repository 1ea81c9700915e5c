// While a job searches for the bootloader: one line on stderr that says on
// which port and baud rate it searches and asks for the reset, and on a
// terminal the probe count below it, redrawn in place and removed once
// the search has ended.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/job_events.h"

namespace vantlebld {

// "Searching for the PIC on /dev/ttyUSB0 at 115200 baud: reset the board
// now (Ctrl+C to stop)"
std::string SearchingLine(const std::string& port, int32_t baud);

// "probe 3 of 24, 7 s left": the probe just sent, of all the search sends.
std::string ProbeCount(const TProbeEvent& probe);

class TSearchNotice {
 public:
  using TSink = std::function<void(const std::string& text)>;
  // sink receives whole lines and, when live, the count with its \r and
  // erase sequences.
  TSearchNotice(TSink sink, bool live) : sink_(std::move(sink)), live_(live) {}

  // The link the next search runs on.
  void SetLink(std::string port, int32_t baud) {
    port_ = std::move(port);
    baud_ = baud;
  }
  // The first probe of a search brings the line, each probe the count;
  // the PIC found or the job failed ends the search. Nothing shows before
  // SetLink.
  void Follow(const TJobEvent& event);
  // Removes the count so another line can be printed; the next probe
  // draws it again.
  void Clear();

 private:
  TSink sink_;
  bool live_;
  std::string port_;
  int32_t baud_ = 0;
  bool searching_ = false;
  bool shown_ = false;
};

}  // namespace vantlebld
