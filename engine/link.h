// The line between the host and the PIC, as the engine sees it: open and
// close, bytes out, bytes in with a time-out, purge, the control lines,
// waits, and what the line can do.
//
// Implementations: the serial port and the UDP sender (platform/links.h),
// the offline link below, and the in-process virtual PIC (sim/). The
// engine never asks which one it has; it asks what the link can do.
//
// Errors: opening, configuring, sending and the control lines throw
// std::runtime_error carrying the system's reason. Receiving never throws:
// its result tells a byte from a time-out, a vanished device and an error.
#pragma once

#include <cstdint>
#include <string>

namespace vantlebld {

enum class TLinkStatus {
  Ok,        // bytes arrived
  TimedOut,  // nothing within the time-out: a quiet line, not a fault
  Vanished,  // the device went away (adapter pulled, line hung up)
  Failed,    // any other error of the line
};

struct TReceiveResult {
  TLinkStatus Status = TLinkStatus::TimedOut;
  std::string Bytes;   // with Ok: what arrived, at least one byte
  std::string Reason;  // with Vanished and Failed: "Communication error 9: ..."
  bool Broken() const { return Status == TLinkStatus::Vanished || Status == TLinkStatus::Failed; }
};

// Stop bits: 0 and 1 one, 2 two. Data bits, parity and flow control are
// always 8, none, none: the firmware knows no other framing.
struct TLineSettings {
  int32_t Baud = 0;
  int32_t StopBits = 1;
};

enum class TControlLine { RTS, DTR };

// A serial port on another machine is named "rfc2217://HOST:PORT".
constexpr char kNetworkPortScheme[] = "rfc2217://";
inline bool IsNetworkPortName(const std::string& name) {
  return name.starts_with(kNetworkPortScheme);
}

class TLink {
 public:
  struct TCapabilities {
    bool Answers = false;       // a PIC answers on it: searches and blocks wait for it
    bool ControlLines = false;  // RTS and DTR reach a reset circuit
  };

  virtual ~TLink() = default;
  virtual TCapabilities Capabilities() const = 0;

  // Opens the named line; a link with nothing to open stays closed.
  virtual void Open(const std::string& name, const TLineSettings& line) = 0;
  // New settings for an open line; nothing when closed.
  virtual void Configure(const TLineSettings& line) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // The name it was opened with and the rate in force, for the log.
  virtual std::string Name() const = 0;
  virtual int32_t ActualBaud() const = 0;

  virtual void Send(const std::string& bytes) = 0;
  // The next byte, waiting at most timeoutMs.
  virtual TReceiveResult ReceiveByte(int32_t timeoutMs) = 0;
  // Every byte waiting now or, when none waits, what arrives within
  // timeoutMs; a burst in progress is collected until the line is quiet.
  virtual TReceiveResult ReceivePacket(int32_t timeoutMs) = 0;
  // As ReceivePacket, but a burst in progress is not waited out: what has
  // arrived once the first byte is there. For a terminal on a program that
  // never stops talking.
  virtual TReceiveResult ReceiveWaiting(int32_t timeoutMs) { return ReceivePacket(timeoutMs); }
  // Discards unread input and unsent output; returns the input discarded,
  // collected for a moment first so a late answer shows.
  virtual std::string Purge() = 0;
  virtual void SetControlLine(TControlLine line, bool on) = 0;
  // Lets time pass on the line (the search's probe interval, the reset
  // signals' steps, the pause between blocks).
  virtual void Wait(int32_t ms) = 0;
  // A link without answers is told where a search starts, so whoever
  // listens can tell the jobs apart.
  virtual void AnnounceSearch() {}
};

// Nothing opened, nothing sent, nothing received: the offline code stands
// for the PIC.
class TOfflineLink : public TLink {
 public:
  TCapabilities Capabilities() const override { return {}; }
  void Open(const std::string&, const TLineSettings&) override {}
  void Configure(const TLineSettings&) override {}
  void Close() override {}
  bool IsOpen() const override { return false; }
  std::string Name() const override { return {}; }
  int32_t ActualBaud() const override { return 0; }
  void Send(const std::string&) override {}
  TReceiveResult ReceiveByte(int32_t) override { return {}; }
  TReceiveResult ReceivePacket(int32_t) override { return {}; }
  std::string Purge() override { return {}; }
  void SetControlLine(TControlLine, bool) override {}
  void Wait(int32_t) override {}
};

}  // namespace vantlebld
