#include "cli/progress_bar.h"

#include <algorithm>

#include "engine/format.h"

namespace vantlebld {

namespace {

constexpr int32_t kBarWidth = 24;

std::string MinutesSeconds(int64_t ms) {
  const int64_t s = (ms + 500) / 1000;
  return Format("%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
}

}  // namespace

std::string FormatProgressLine(int32_t percent, int32_t written, int32_t total, int64_t elapsedMs,
                               int64_t etaMs) {
  const int32_t p = std::clamp(percent, 0, 100);
  const int32_t filled = p * kBarWidth / 100;
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] " +
         Format("%3d%%  %d/%d blocks  %s elapsed  ETA %s", p, written, total,
                MinutesSeconds(elapsedMs).c_str(), MinutesSeconds(etaMs).c_str());
}

void TProgressBar::BlockStarting(int32_t blockBytes, int32_t blocksToWrite) {
  if (started_) return;
  started_ = true;
  start_ = TClock::now();
  total_ = blocksToWrite;
  modelTotalMs_ = ModelBlockMicros(blockBytes, baud_) * blocksToWrite / 1000;
  Draw();
}

void TProgressBar::BlockDone(int32_t percent, int32_t written, int32_t total) {
  if (!started_) return;  // the search reports its own progress before any block
  percent_ = percent;
  written_ = written;
  total_ = total;
  Draw();
}

void TProgressBar::Follow(const TJobEvent& event) {
  if (const auto* b = std::get_if<TBlockSentEvent>(&event.Value)) {
    if (b->FlashDone > 0) BlockDone(ProgressOf(event), b->FlashDone, b->FlashTotal);
    BlockStarting(b->Bytes, b->FlashTotal);
  } else if (std::holds_alternative<TDoneEvent>(event.Value)) {
    // The write is over: its 100% line stays above what the log says next.
    BlockDone(100, total_, total_);
    Finish();
  }
}

void TProgressBar::Draw() {
  const int64_t elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start_).count();
  // Before the first answer the model is all there is; after it, the pace
  // of the blocks so far.
  const int64_t eta = written_ > 0 ? elapsed * (total_ - written_) / written_
                                   : std::max<int64_t>(modelTotalMs_ - elapsed, 0);
  sink_("\r" + FormatProgressLine(percent_, written_, total_, elapsed, std::max<int64_t>(eta, 0)) +
        "\x1b[K");
  shown_ = true;
}

void TProgressBar::Clear() {
  if (!shown_) return;
  sink_("\r\x1b[K");
  shown_ = false;
}

void TProgressBar::Finish() {
  if (!started_) return;
  Draw();
  sink_("\n");
  shown_ = false;
  started_ = false;
}

}  // namespace vantlebld
