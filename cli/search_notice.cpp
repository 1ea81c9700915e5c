#include "cli/search_notice.h"

#include "engine/format.h"

namespace vantlebld {

std::string SearchingLine(const std::string& port, int32_t baud) {
  return Format("Searching for the PIC on %s at %d baud: reset the board now (Ctrl+C to stop)",
                port.c_str(), baud);
}

std::string ProbeCount(const TProbeEvent& probe) {
  // Left counts down from Total to 0: Total + 1 probes in all.
  const int64_t leftMs = int64_t{probe.Left} * probe.WaitMs;
  return Format("probe %d of %d, %lld s left", probe.Total - probe.Left + 1, probe.Total + 1,
                static_cast<long long>((leftMs + 999) / 1000));
}

void TSearchNotice::Follow(const TJobEvent& event) {
  const auto* probe = std::get_if<TProbeEvent>(&event.Value);
  if (probe == nullptr) {
    // Detail lines come and go while it searches (skipped bytes, the
    // reason it gave up); found or failed ends it.
    if (std::holds_alternative<TDetailEvent>(event.Value)) return;
    Clear();
    searching_ = false;
    return;
  }
  if (port_.empty()) return;  // a search the front end did not announce
  if (!searching_) sink_(SearchingLine(port_, baud_) + "\n");
  searching_ = true;
  if (!live_) return;
  sink_("\r  " + ProbeCount(*probe) + "\x1b[K");
  shown_ = true;
}

void TSearchNotice::Clear() {
  if (!shown_) return;
  sink_("\r\x1b[K");
  shown_ = false;
}

}  // namespace vantlebld
