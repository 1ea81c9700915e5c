// The links of the real world behind the engine's link interface: a serial
// port, and the UDP sender that hands every block to a listener as a
// datagram and hears nothing back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/defaults.h"
#include "engine/link.h"
#include "platform/serial_port.h"
#include "platform/udp_client.h"

namespace vantlebld {

// A serial port with a PIC behind it: it answers, and RTS/DTR reach its
// reset circuit.
class TSerialLink : public TLink {
 public:
  TCapabilities Capabilities() const override { return {true, true}; }
  void Open(const std::string& name, const TLineSettings& line) override;
  void Configure(const TLineSettings& line) override;
  void Close() override;
  bool IsOpen() const override { return port_.Active(); }
  std::string Name() const override { return port_.DeviceName(); }
  int32_t ActualBaud() const override { return port_.ActualBaud(); }
  void Send(const std::string& bytes) override;
  TReceiveResult ReceiveByte(int32_t timeoutMs) override;
  TReceiveResult ReceivePacket(int32_t timeoutMs) override;
  TReceiveResult ReceiveWaiting(int32_t timeoutMs) override;
  std::string Purge() override;
  void SetControlLine(TControlLine line, bool on) override;
  void Wait(int32_t ms) override;

 private:
  // "Communication error CODE: the system's reason" for the port's last error.
  std::string ErrorText() const;
  // Throws the port's last error, if any.
  void ThrowOnError() const;
  TReceiveResult Result(std::string bytes) const;
  SerialPort port_;
};

// A port by its name: a local serial port, or a serial port on another
// machine ("rfc2217://HOST:PORT", platform/network_serial.h). The name
// given to Open decides which.
class TPortLink : public TLink {
 public:
  TPortLink();
  ~TPortLink() override;
  TCapabilities Capabilities() const override { return port_->Capabilities(); }
  void Open(const std::string& name, const TLineSettings& line) override;
  void Configure(const TLineSettings& line) override { port_->Configure(line); }
  void Close() override { port_->Close(); }
  bool IsOpen() const override { return port_->IsOpen(); }
  std::string Name() const override { return port_->Name(); }
  int32_t ActualBaud() const override { return port_->ActualBaud(); }
  void Send(const std::string& bytes) override { port_->Send(bytes); }
  TReceiveResult ReceiveByte(int32_t timeoutMs) override { return port_->ReceiveByte(timeoutMs); }
  TReceiveResult ReceivePacket(int32_t timeoutMs) override {
    return port_->ReceivePacket(timeoutMs);
  }
  TReceiveResult ReceiveWaiting(int32_t timeoutMs) override {
    return port_->ReceiveWaiting(timeoutMs);
  }
  std::string Purge() override { return port_->Purge(); }
  void SetControlLine(TControlLine line, bool on) override { port_->SetControlLine(line, on); }
  void Wait(int32_t ms) override { port_->Wait(ms); }

 private:
  std::unique_ptr<TLink> port_;
};

// Every block as one datagram (a blank, then the block) and an "R"
// datagram where a search starts; nothing is received.
class TUdpLink : public TLink {
 public:
  TUdpLink(std::string host, int32_t port) : host_(std::move(host)), port_(port) {}
  TCapabilities Capabilities() const override { return {}; }
  void Open(const std::string&, const TLineSettings&) override { client_.Activate(); }
  void Configure(const TLineSettings&) override {}
  void Close() override { client_.Deactivate(); }
  bool IsOpen() const override { return client_.Active(); }
  std::string Name() const override { return host_ + ":" + std::to_string(port_); }
  int32_t ActualBaud() const override { return 0; }
  void Send(const std::string& bytes) override;
  TReceiveResult ReceiveByte(int32_t) override { return {}; }
  TReceiveResult ReceivePacket(int32_t) override { return {}; }
  std::string Purge() override { return {}; }
  void SetControlLine(TControlLine, bool) override {}
  void Wait(int32_t ms) override;
  void AnnounceSearch() override;

 private:
  void SendDatagram(const std::string& datagram);
  std::string host_;
  int32_t port_;
  UdpClient client_;
};

// The operating modes of the window and the console.
constexpr uint8_t kModeSerial = 0;
constexpr uint8_t kModeOffline = 1;  // nothing opened or sent; the offline code is the PIC
constexpr uint8_t kModeUdp = 2;      // every block as a UDP datagram, nothing received

// The link an operating mode works over; an unknown mode works offline.
std::unique_ptr<TLink> MakeLink(uint8_t mode, const std::string& udpHost = kDefaultUdpHost,
                                int32_t udpPort = kDefaultUdpPort);

}  // namespace vantlebld
