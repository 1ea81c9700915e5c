// The one-line progress bar of a write on a terminal: percent, blocks,
// elapsed time and the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/job_events.h"
#include "engine/memory_map.h"  // ModelBlockMicros: the time a block costs

namespace vantlebld {

// "[#########-----------]  45%  123/273 blocks  0:02 elapsed  ETA 0:03"
std::string FormatProgressLine(int32_t percent, int32_t written, int32_t total, int64_t elapsedMs,
                               int64_t etaMs);

class TProgressBar {
 public:
  using TSink = std::function<void(const std::string& text)>;
  // sink receives the text to write to the terminal (with \r and erase
  // sequences already in it).
  TProgressBar(TSink sink, int32_t baud) : sink_(std::move(sink)), baud_(baud) {}

  // Before each block goes out: the first one sets the estimate from the
  // block count and size.
  void BlockStarting(int32_t blockBytes, int32_t blocksToWrite);
  // After each acknowledged block: refines the estimate from the time taken.
  void BlockDone(int32_t percent, int32_t written, int32_t total);
  // Moves with a job's events: each block sent; the end of the write
  // draws 100% and finishes the bar.
  void Follow(const TJobEvent& event);
  // Removes the bar so a log line can be printed; the next update draws it
  // again.
  void Clear();
  // Leaves the last state on its own line.
  void Finish();

 private:
  using TClock = std::chrono::steady_clock;
  void Draw();

  TSink sink_;
  int32_t baud_;
  bool started_ = false;
  bool shown_ = false;
  TClock::time_point start_;
  int64_t modelTotalMs_ = 0;
  int32_t percent_ = 0, written_ = 0, total_ = 0;
};

}  // namespace vantlebld
