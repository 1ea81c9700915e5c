// UDP client of the engine's test mode: sends single datagrams, receives
// nothing. QUdpSocket inside the .cpp; as for SerialPort, a QCoreApplication
// must exist, but no event loop needs to run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantlebld {

class UdpClient {
 public:
  UdpClient();
  ~UdpClient();
  UdpClient(const UdpClient&) = delete;
  UdpClient& operator=(const UdpClient&) = delete;

  void Activate();
  void Deactivate();
  bool Active() const;
  // Sends bytes as one datagram to host:port. Returns false when the host
  // cannot be resolved or the datagram is not sent whole; LastErrorDesc()
  // then says why.
  bool Send(const std::string& host, int32_t port, const std::string& bytes);
  const std::string& LastErrorDesc() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace vantlebld
