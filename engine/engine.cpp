// Construction of the engine object and its callbacks.
#include "engine/vantlebld_comm.h"

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

void TVantleBootloader::Log(uint8_t flags, const std::string& text) {
  if (OnLog) OnLog(*this, flags, text);
}

void TVantleBootloader::Progress(int32_t value) {
  if (OnProgress) OnProgress(*this, value);
}

void TVantleBootloader::Idle() {
  if (OnIdle) OnIdle(*this);
}

}  // namespace vantlebld
