// Construction of the engine object and its event sink.
#include "engine/vantlebld_comm.h"

#include "engine/job_events.h"

namespace vantlebld {

TVantleBootloader::TVantleBootloader()
    : EEData(kEEAreaSize, 0),
      EEFlag(kEEAreaSize, 0),
      CfgData(kCfgAreaSize, 0),
      CfgFlag(kCfgAreaSize, 0) {
  // Every other field starts at zero, false, empty or not installed.
  Link = std::make_unique<TOfflineLink>();
  IDCode = kDefaultIDCode;
  // The table is the process's: read once, then shared read-only by every
  // engine (several boards at once). No log callback is installed yet, so
  // the table's own messages go nowhere; the window checks for the file
  // itself.
  if (!PicTableLoaded()) PicTableLoaded() = LoadPicCodes();
}

TVantleBootloader::~TVantleBootloader() = default;

void TVantleBootloader::Report(TJobEvent event) {
  if (OnEvent) OnEvent(event);
}

void TVantleBootloader::Say(TLineRole role, const std::string& text, bool verbose) {
  if (OnEvent) OnEvent(TJobEvent{TDetailEvent{role, verbose, text}});
}

}  // namespace vantlebld
