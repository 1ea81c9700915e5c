// A serial port on another machine, served over TCP with Telnet's COM-port
// control (RFC 2217, as ser2net serves it): "rfc2217://HOST:PORT". Baud
// rate, framing, RTS/DTR and purges travel with the data; the time-outs of
// the receives are measured here, at the host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/link.h"

namespace vantlebld {

struct TNetworkAddress {
  std::string Host;
  int32_t Port = 0;
};

// "rfc2217://HOST:PORT" (HOST may be "[v6 address]"); nullopt for a name
// that is not one, or whose port is not 1..65535.
std::optional<TNetworkAddress> ParseNetworkPortName(const std::string& name);

class TNetworkSerialLink : public TLink {
 public:
  ~TNetworkSerialLink() override;
  TCapabilities Capabilities() const override { return {true, true}; }
  void Open(const std::string& name, const TLineSettings& line) override;
  void Configure(const TLineSettings& line) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  std::string Name() const override { return name_; }
  int32_t ActualBaud() const override { return baud_; }
  void Send(const std::string& bytes) override;
  TReceiveResult ReceiveByte(int32_t timeoutMs) override;
  TReceiveResult ReceivePacket(int32_t timeoutMs) override;
  TReceiveResult ReceiveWaiting(int32_t timeoutMs) override;
  std::string Purge() override;
  void SetControlLine(TControlLine line, bool on) override;
  void Wait(int32_t ms) override;

 private:
  enum class TPump { Data, Quiet, Closed, Failed };
  // Reads what the server sent within timeoutMs into the data and the
  // answers; Quiet when nothing came.
  TPump Pump(int32_t timeoutMs);
  void Parse(uint8_t b);
  void SendRaw(const std::string& bytes);
  void SendOption(uint8_t verb, uint8_t option);
  void SendComPort(uint8_t command, const std::string& value);
  // Waits until check() holds, reading meanwhile; false after timeoutMs.
  template <class F>
  bool WaitFor(F check, int32_t timeoutMs);
  TReceiveResult Take(size_t count);
  TReceiveResult Receive(int32_t timeoutMs, bool waitOutBurst);
  std::string Where() const { return name_; }

  int fd_ = -1;
  std::string name_;
  int32_t baud_ = 0;
  std::string data_;     // received bytes not read yet
  std::string failure_;  // why the connection broke; empty while it works
  bool closedByServer_ = false;
  // The Telnet parser.
  int state_ = 0;
  uint8_t verb_ = 0;
  std::string sub_;
  bool comPortAgreed_ = false;
  bool comPortRefused_ = false;
  int64_t baudAnswer_ = -1;  // the server's answer to the last baud rate set
};

}  // namespace vantlebld
