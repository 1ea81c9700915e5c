// A link straight into a virtual PIC in this process: no pseudo-terminal,
// no thread, no real time. The line has a clock of its own that moves on
// with every wait and every receive that waits, so a test or a job runs
// as fast as the code does and sees the same bytes a serial line would
// carry. Everything the host sent, and every control-line change, is kept
// for whoever wants to read the wire.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "engine/link.h"
#include "sim/virtual_pic.h"

namespace vantlebld {

class TInProcessLink : public TLink {
 public:
  // The PIC must outlive the link.
  explicit TInProcessLink(TVirtualPic& pic) : pic_(pic) {}

  TCapabilities Capabilities() const override { return {true, true}; }
  void Open(const std::string& name, const TLineSettings& line) override;
  void Configure(const TLineSettings& line) override { baud_ = line.Baud; }
  void Close() override;
  bool IsOpen() const override { return open_; }
  std::string Name() const override { return name_; }
  int32_t ActualBaud() const override { return baud_; }
  void Send(const std::string& bytes) override;
  TReceiveResult ReceiveByte(int32_t timeoutMs) override;
  TReceiveResult ReceivePacket(int32_t timeoutMs) override;
  std::string Purge() override;
  void SetControlLine(TControlLine line, bool on) override;
  void Wait(int32_t ms) override;

  // Every byte the host sent, in order.
  const std::string& Sent() const { return sent_; }
  // The control-line changes, oldest first: "R1 D1 R0" is RTS on, DTR on,
  // RTS off.
  const std::string& ControlChanges() const { return controls_; }
  // The line's clock: milliseconds since the PIC's reset.
  int64_t NowMs() const { return nowMs_; }

 private:
  struct TDue {
    int64_t AtMs;
    char Byte;
  };
  // Moves the clock to the first byte due within timeoutMs and takes it;
  // false when none is due by then.
  bool TakeNext(int32_t timeoutMs, char& byte);
  TReceiveResult Quiet() const;
  void Advance(int64_t toMs);

  TVirtualPic& pic_;
  bool open_ = false;
  std::string name_;
  int32_t baud_ = 0;
  int64_t nowMs_ = 0;
  int64_t hangUpAtMs_ = -1;
  std::deque<TDue> due_;
  std::string sent_;
  std::string controls_;
};

}  // namespace vantlebld
