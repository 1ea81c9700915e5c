// The link layer: opening and configuring the serial port (or the UDP test
// link), the control lines, single bytes, purging and UDP datagrams.
#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr int32_t kReceiveBufferBytes = 16384;
constexpr const char* kDefaultParams = "8 N 0 0 0";
// A purge collects what is still arriving for this long before it
// discards the input, so a late answer shows in the log.
constexpr int32_t kPurgeCollectMs = 10;
constexpr size_t kPurgeShownBytes = 20;
// Control-line changes need time to reach the PIC's reset circuit.
constexpr auto kSignalStep = std::chrono::milliseconds(10);

std::vector<std::string> SplitBlanks(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> fields;
  for (std::string f; in >> f;)
    fields.push_back(f);
  return fields;
}

int32_t ParamNumber(const std::string& field) {
  try {
    size_t used = 0;
    const int value = std::stoi(field, &used);
    if (used == field.size()) return value;
  } catch (const std::exception&) {
  }
  throw EVantleError(Format("\"%s\" is not a valid integer value", field.c_str()));
}

}  // namespace

bool TVantleBootloader::Connect(const std::string& portName, int32_t baud,
                                const std::string& params) {
  Log(LogDetail, Format("Trying to connect to: %s ", portName.c_str()));
  if (OperatingMode == kModeSerial) {
    try {
      Port->RaiseErrors = true;
      Port->Open(portName);
      Port->SetReceiveBufferSize(kReceiveBufferBytes);
      Configure(baud, params);
      Port->ReadState();
      Log(0, Format("Connected to %s at %d", Port->DeviceName().c_str(), Port->ActualBaud()));
      ApplyRTSDTR();
      return true;
    } catch (...) {
      Log(LogIndent6, Format("Could not connect to %s at %d", portName.c_str(), baud));
      if (Port->Active()) {
        Port->RaiseErrors = false;  // keep the first error, not one from closing
        Port->Close();
        Port->RaiseErrors = true;
      }
      throw;
    }
  }
  if (OperatingMode == kModeUdp) {
    UDPClient->Activate();
    return true;
  }
  return false;
}

void TVantleBootloader::Configure(int32_t baud, const std::string& params) {
  if (!Port->Active()) {
    Log(LogDetail, "Cannot configure (port not active)");
    return;
  }
  std::vector<std::string> f = SplitBlanks(params.empty() ? kDefaultParams : params);
  const std::vector<std::string> defaults = SplitBlanks(kDefaultParams);
  for (size_t i = f.size(); i < defaults.size(); ++i)
    f.push_back(defaults[i]);
  if (StopBits == 2) f[2] = "2";
  if (StopBits == 0) f[2] = "0";
  const int32_t dataBits = ParamNumber(f[0]);
  const char parity = f[1][0];
  const int32_t stopCode = ParamNumber(f[2]);
  const bool softFlow = f[3] != "0";
  const bool hardFlow = f[4] != "0";
  Log(LogDetail, Format("Com parameters: %d %c %d %s %s", dataBits, parity, stopCode,
                        softFlow ? "True" : "False", hardFlow ? "True" : "False"));
  Port->Configure(baud, dataBits, parity, stopCode, softFlow, hardFlow);
  ApplyRTSDTR();
}

void TVantleBootloader::ApplyRTSDTR() {
  if (RTSDTRonConnect == 0 || RTSDTRonConnect == 1) {
    const bool on = RTSDTRonConnect == 1;
    Port->SetRTS(on);
    Port->SetDTR(on);
  }
}

bool TVantleBootloader::Disconnect() {
  Log(LogDetail, "Disconnecting...");
  if (OperatingMode == kModeSerial) {
    if (Port->Active()) Port->Close();
    Log(LogDetail, Port->LastErrorDesc());
    return Port->LastError() == 0;
  }
  if (OperatingMode == kModeUdp) {
    UDPClient->Deactivate();
    return true;
  }
  return false;
}

void TVantleBootloader::Reconnect(const std::string& portName, int32_t baud) {
  if (!Port->Active()) return;
  Port->Close();
  BaudRate = baud;
  Connect(portName, baud, "");
}

void TVantleBootloader::SendByte(uint8_t b) {
  if (OperatingMode == kModeSerial) Port->SendByte(b);
  Log(LogDetail, Format("Sent:%.2Xh", b));
}

void TVantleBootloader::SendString(const std::string& text) {
  Port->SendString(text);
}

std::string TVantleBootloader::ReadAll() {
  if (Port->BytesWaiting() >= 1) return Port->ReceivePacket(0);
  return {};
}

void TVantleBootloader::Purge() {
  if (OperatingMode != kModeSerial || Port->BytesWaiting() < 1) return;
  const std::string s = Port->ReceivePacket(kPurgeCollectMs);
  const std::string t = s.substr(0, kPurgeShownBytes);
  if (t == "K") Log(LogDetail, "Got an 'K' on purge.");
  Port->Purge();
  Log(LogDetail, "Purge Hex: " + HexDump(t) + "   Str: " + t);
}

void TVantleBootloader::SignalScript(const std::string& script) {
  if (OperatingMode != kModeSerial) return;
  for (char c : script) {
    switch (c) {
      case 'D':
        Port->SetDTR(true);
        break;
      case 'R':
        Port->SetRTS(true);
        break;
      case 'd':
        Port->SetDTR(false);
        break;
      case 'r':
        Port->SetRTS(false);
        break;
      default:
        break;
    }
    std::this_thread::sleep_for(kSignalStep);
  }
}

void TVantleBootloader::UDPSend(char ch, const std::string& text) {
  const std::string datagram = ch + text;
  if (UDPClient->Send(UDP_DestAddr, UDP_DestPort, datagram)) {
    Log(LogDetail, Format("   UDP Sent: %d bytes", static_cast<int>(datagram.size())));
  } else {
    Log(LogIndent3, "   UDP Write Fail");
  }
}

}  // namespace vantlebld
