#include "sim/in_process_link.h"

#include <algorithm>
#include <stdexcept>

namespace vantlebld {

namespace {

// Within a burst the bytes follow each other closer than this; a longer
// gap ends a packet, as on a serial port.
constexpr int64_t kPacketQuietGapMs = 10;
constexpr int64_t kPurgeCollectMs = 10;
constexpr char kHungUp[] = "Communication error 6: Device disconnected: the line was hung up";
constexpr char kNotOpen[] = "Communication error 9998: Port not open";

}  // namespace

void TInProcessLink::Open(const std::string& name, const TLineSettings& line) {
  if (pic_.HungUp()) throw std::runtime_error("Cannot open " + name + ": the line was hung up");
  open_ = true;
  name_ = name;
  baud_ = line.Baud;
}

void TInProcessLink::Close() {
  if (!open_) return;
  open_ = false;
  pic_.HostClosed();
}

void TInProcessLink::Advance(int64_t toMs) {
  if (toMs <= nowMs_) return;
  nowMs_ = toMs;
  pic_.Advance(nowMs_);
}

void TInProcessLink::Send(const std::string& bytes) {
  if (!open_) throw std::runtime_error(kNotOpen);
  if (hangUpAtMs_ >= 0 && hangUpAtMs_ <= nowMs_) throw std::runtime_error(kHungUp);
  for (char c : bytes) {
    sent_ += c;
    for (const TSimAnswer& a : pic_.Receive(static_cast<uint8_t>(c), nowMs_)) {
      const int64_t at = nowMs_ + a.DelayMs;
      if (a.HangUp) {
        if (hangUpAtMs_ < 0) hangUpAtMs_ = at;
        continue;
      }
      for (char b : a.Bytes)
        due_.push_back({at, b});
    }
  }
}

bool TInProcessLink::TakeNext(int32_t timeoutMs, char& byte) {
  const int64_t until = nowMs_ + (timeoutMs > 0 ? timeoutMs : 0);
  if (due_.empty() || due_.front().AtMs > until) return false;
  if (hangUpAtMs_ >= 0 && hangUpAtMs_ < due_.front().AtMs) return false;
  Advance(due_.front().AtMs);
  byte = due_.front().Byte;
  due_.pop_front();
  return true;
}

TReceiveResult TInProcessLink::Quiet() const {
  TReceiveResult r;
  if (!open_) {
    r.Status = TLinkStatus::Failed;
    r.Reason = kNotOpen;
  } else if (hangUpAtMs_ >= 0 && hangUpAtMs_ <= nowMs_) {
    r.Status = TLinkStatus::Vanished;
    r.Reason = kHungUp;
  }
  return r;
}

TReceiveResult TInProcessLink::ReceiveByte(int32_t timeoutMs) {
  char c = 0;
  if (open_ && TakeNext(timeoutMs, c)) return {TLinkStatus::Ok, std::string(1, c), {}};
  // Nothing came: the time-out passed on the line, or the line dropped.
  const int64_t until = nowMs_ + (timeoutMs > 0 ? timeoutMs : 0);
  Advance(hangUpAtMs_ >= 0 && hangUpAtMs_ <= until ? std::max(nowMs_, hangUpAtMs_) : until);
  return Quiet();
}

TReceiveResult TInProcessLink::ReceivePacket(int32_t timeoutMs) {
  TReceiveResult r = ReceiveByte(timeoutMs);
  if (r.Status != TLinkStatus::Ok) return r;
  // The rest of the burst.
  char c = 0;
  while (TakeNext(static_cast<int32_t>(kPacketQuietGapMs), c))
    r.Bytes += c;
  return r;
}

std::string TInProcessLink::Purge() {
  if (!open_ || due_.empty() || due_.front().AtMs > nowMs_) return {};
  std::string discarded = ReceivePacket(static_cast<int32_t>(kPurgeCollectMs)).Bytes;
  while (!due_.empty() && due_.front().AtMs <= nowMs_)
    due_.pop_front();
  return discarded;
}

void TInProcessLink::SetControlLine(TControlLine line, bool on) {
  if (!open_) throw std::runtime_error(kNotOpen);
  if (!controls_.empty()) controls_ += ' ';
  controls_ += line == TControlLine::RTS ? 'R' : 'D';
  controls_ += on ? '1' : '0';
}

void TInProcessLink::Wait(int32_t ms) {
  Advance(nowMs_ + (ms > 0 ? ms : 0));
}

}  // namespace vantlebld
