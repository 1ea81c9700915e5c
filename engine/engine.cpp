// Construction of the engine object and its callbacks.
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {
constexpr int32_t kDefaultUdpPort = 8090;
constexpr const char* kLoopbackAddress = "127.0.0.1";
}  // namespace

TVantleBootloader::TVantleBootloader()
    : EEData(kEEAreaSize, 0),
      EEFlag(kEEAreaSize, 0),
      CfgData(kCfgAreaSize, 0),
      CfgFlag(kCfgAreaSize, 0) {
  // Every other field starts at zero, false, empty or not installed.
  Port = std::make_unique<SerialPort>();
  Port->RaiseErrors = true;
  OperatingMode = 0;
  IDCode = kDefaultIDCode;
  UDP_DestAddr = kLoopbackAddress;
  UDP_DestPort = kDefaultUdpPort;
  UDPClient = std::make_unique<UdpClient>();
  // No log callback is installed yet, so the table's own messages go
  // nowhere; the window checks for the file itself.
  PicTableLoaded() = LoadPicCodes();
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
