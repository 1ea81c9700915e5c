// The engine's side of the link: opening it with the line settings, the
// control lines, single bytes, purging. What the link is (a serial port,
// UDP, offline, a virtual PIC) is the link's business.
#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr size_t kPurgeShownBytes = 20;
// Control-line changes need time to reach the PIC's reset circuit.
constexpr int32_t kSignalStepMs = 10;

}  // namespace

TLineSettings TVantleBootloader::LineSettings(int32_t baud) {
  Say(TLineRole::Plain, Format("Com parameters: 8 N %d False False", StopBits == 2 ? 2 : 0), true);
  return {baud, StopBits};
}

bool TVantleBootloader::Connect(const std::string& portName, int32_t baud) {
  Say(TLineRole::Plain, Format("Trying to connect to: %s ", portName.c_str()), true);
  try {
    Link->Open(portName, LineSettings(baud));
    if (Link->IsOpen()) ApplyRTSDTR();
  } catch (...) {
    Say(TLineRole::Problem, Format("Could not connect to %s at %d", portName.c_str(), baud));
    try {
      Link->Close();
    } catch (...) {
      // the first error is the one to report
    }
    throw;
  }
  if (!Link->IsOpen()) return false;
  if (Link->Capabilities().Answers) {
    Say(TLineRole::Plain,
        Format("Connected to %s at %d", Link->Name().c_str(), Link->ActualBaud()));
  }
  return true;
}

void TVantleBootloader::Configure(int32_t baud) {
  if (!Link->IsOpen()) {
    Say(TLineRole::Plain, "Cannot configure (port not active)", true);
    return;
  }
  Link->Configure(LineSettings(baud));
  ApplyRTSDTR();
}

void TVantleBootloader::ApplyRTSDTR() {
  if (!Link->Capabilities().ControlLines) return;
  if (RTSDTRonConnect == 0 || RTSDTRonConnect == 1) {
    const bool on = RTSDTRonConnect == 1;
    Link->SetControlLine(TControlLine::RTS, on);
    Link->SetControlLine(TControlLine::DTR, on);
  }
}

bool TVantleBootloader::Disconnect() {
  Say(TLineRole::Plain, "Disconnecting...", true);
  const bool wasOpen = Link->IsOpen();
  Link->Close();
  return wasOpen;
}

void TVantleBootloader::Reconnect(const std::string& portName, int32_t baud) {
  if (!Link->IsOpen()) return;
  Link->Close();
  BaudRate = baud;
  Connect(portName, baud);
}

void TVantleBootloader::SendByte(uint8_t b) {
  if (Link->Capabilities().Answers) Link->Send(std::string(1, static_cast<char>(b)));
  Say(TLineRole::Plain, Format("Sent:%.2Xh", b), true);
}

void TVantleBootloader::SendString(const std::string& text) {
  Link->Send(text);
}

std::string TVantleBootloader::ReadAll() {
  TReceiveResult r = Link->ReceivePacket(0);
  if (r.Broken()) throw EVantleError(r.Reason, EVantleError::Kind::SerialLink);
  return std::move(r.Bytes);
}

void TVantleBootloader::Purge() {
  const std::string s = Link->Purge();
  if (s.empty()) return;
  const std::string t = s.substr(0, kPurgeShownBytes);
  if (t == "K") Say(TLineRole::Plain, "Got an 'K' on purge.", true);
  Say(TLineRole::Plain, "Purge Hex: " + HexDump(t) + "   Str: " + Printable(t), true);
}

void TVantleBootloader::SignalScript(const std::string& script) {
  if (!Link->Capabilities().ControlLines) return;
  for (char c : script) {
    switch (c) {
      case 'D':
        Link->SetControlLine(TControlLine::DTR, true);
        break;
      case 'R':
        Link->SetControlLine(TControlLine::RTS, true);
        break;
      case 'd':
        Link->SetControlLine(TControlLine::DTR, false);
        break;
      case 'r':
        Link->SetControlLine(TControlLine::RTS, false);
        break;
      default:
        break;
    }
    Link->Wait(kSignalStepMs);
  }
}

}  // namespace vantlebld
