#include "platform/links.h"

#include "platform/line_timing.h"
#include "platform/network_serial.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace vantlebld {

namespace {

constexpr char kUdpBlockPrefix = ' ';
constexpr char kUdpSearchDatagram[] = "R";

using TClock = std::chrono::steady_clock;
// A sleep ends late by the system's timer slack (50 us and more); waits
// come with every block, so their last stretch is waited out on the clock.
constexpr auto kWaitSpin = std::chrono::microseconds(250);

}  // namespace

void WaitOnClock(int32_t ms) {
  if (ms <= 0) return;
  const auto until = TClock::now() + std::chrono::milliseconds(ms);
  std::this_thread::sleep_until(until - kWaitSpin);
  while (TClock::now() < until)
    std::this_thread::yield();
}

// Every outcome of the port is read from LastError() here, once, and
// turned into an exception or a receive result; the port never throws.
std::string TSerialLink::ErrorText() const {
  return "Communication error " + std::to_string(port_.LastError()) + ": " + port_.LastErrorDesc();
}

void TSerialLink::ThrowOnError() const {
  if (port_.LastError() != SerialPort::kErrNone) throw std::runtime_error(ErrorText());
}

void TSerialLink::Open(const std::string& name, const TLineSettings& line) {
  port_.Open(name);
  ThrowOnError();
  try {
    Configure(line);
  } catch (...) {
    port_.Close();  // the first error is the one to report
    throw;
  }
}

void TSerialLink::Configure(const TLineSettings& line) {
  if (!port_.Active()) return;
  port_.Configure(line.Baud, line.StopBits == 2);
  ThrowOnError();
  port_.ReadState();
  ThrowOnError();
}

void TSerialLink::Close() {
  if (!port_.Active()) return;
  port_.Close();
  ThrowOnError();
}

void TSerialLink::Send(const std::string& bytes) {
  port_.SendBuffer(bytes);
  ThrowOnError();
}

TReceiveResult TSerialLink::Result(std::string bytes) const {
  TReceiveResult r;
  const int code = port_.LastError();
  if (code == SerialPort::kErrNone && !bytes.empty()) {
    r.Status = TLinkStatus::Ok;
    r.Bytes = std::move(bytes);
  } else if (code != SerialPort::kErrNone && code != SerialPort::kErrTimeout) {
    r.Status = code == SerialPort::kErrDeviceGone ? TLinkStatus::Vanished : TLinkStatus::Failed;
    r.Reason = ErrorText();
  }
  return r;
}

TReceiveResult TSerialLink::ReceiveByte(int32_t timeoutMs) {
  const uint8_t b = port_.ReceiveByte(timeoutMs);
  return Result(std::string(1, static_cast<char>(b)));
}

TReceiveResult TSerialLink::ReceivePacket(int32_t timeoutMs) {
  return Result(port_.ReceivePacket(timeoutMs));
}

TReceiveResult TSerialLink::ReceiveWaiting(int32_t timeoutMs) {
  return Result(port_.ReceiveWaiting(timeoutMs));
}

std::string TSerialLink::Purge() {
  // A failing line is left for the next receive to report.
  if (port_.BytesWaiting() < 1) return {};
  std::string discarded = port_.ReceivePacket(kPurgeCollectMs);
  port_.Purge();
  return discarded;
}

void TSerialLink::SetControlLine(TControlLine line, bool on) {
  if (line == TControlLine::RTS) {
    port_.SetRTS(on);
  } else {
    port_.SetDTR(on);
  }
  ThrowOnError();
}

void TSerialLink::Wait(int32_t ms) {
  WaitOnClock(ms);
}

TPortLink::TPortLink() : port_(std::make_unique<TSerialLink>()) {}
TPortLink::~TPortLink() = default;

void TPortLink::Open(const std::string& name, const TLineSettings& line) {
  if (port_->IsOpen()) port_->Close();
  if (IsNetworkPortName(name)) {
    port_ = std::make_unique<TNetworkSerialLink>();
  } else {
    port_ = std::make_unique<TSerialLink>();
  }
  port_->Open(name, line);
}

void TUdpLink::SendDatagram(const std::string& datagram) {
  if (!client_.Send(host_, port_, datagram))
    throw std::runtime_error("UDP Write Fail: " + client_.LastErrorDesc());
}

void TUdpLink::Send(const std::string& bytes) {
  SendDatagram(kUdpBlockPrefix + bytes);
}

void TUdpLink::AnnounceSearch() {
  SendDatagram(kUdpSearchDatagram);
}

void TUdpLink::Wait(int32_t ms) {
  WaitOnClock(ms);
}

std::unique_ptr<TLink> MakeLink(uint8_t mode, const std::string& udpHost, int32_t udpPort) {
  if (mode == kModeSerial) return std::make_unique<TPortLink>();
  if (mode == kModeUdp) return std::make_unique<TUdpLink>(udpHost, udpPort);
  return std::make_unique<TOfflineLink>();
}

}  // namespace vantlebld
