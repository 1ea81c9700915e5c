// UdpClient over QUdpSocket. Datagrams go out synchronously (sendto), so no
// event loop is needed.
#include "platform/udp_client.h"

#include <QtCore/QString>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QHostInfo>
#include <QtNetwork/QUdpSocket>

namespace vantlebld {

struct UdpClient::Impl {
  QUdpSocket socket;
  bool active = false;
  std::string lastErrorDesc = "OK";

  bool Fail(const std::string& desc) {
    lastErrorDesc = desc;
    return false;
  }

  // Dotted IPv4 and IPv6 text are taken as they are; anything else is looked
  // up, preferring an IPv4 address ("localhost" gives both).
  bool Resolve(const std::string& host, QHostAddress& out) {
    const QString text = QString::fromStdString(host).trimmed();
    if (text.isEmpty()) return Fail("No destination host given");
    if (out.setAddress(text)) return true;
    const QHostInfo info = QHostInfo::fromName(text);
    const QList<QHostAddress> addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
      std::string reason = info.errorString().toStdString();
      if (reason.empty()) reason = "no address found";
      return Fail("Cannot resolve host \"" + host + "\": " + reason);
    }
    out = addresses.front();
    for (const QHostAddress& a : addresses) {
      if (a.protocol() == QAbstractSocket::IPv4Protocol) {
        out = a;
        break;
      }
    }
    return true;
  }
};

UdpClient::UdpClient() : d_(std::make_unique<Impl>()) {}

UdpClient::~UdpClient() = default;

void UdpClient::Activate() {
  d_->active = true;
  d_->lastErrorDesc = "OK";
}

void UdpClient::Deactivate() {
  d_->socket.abort();
  d_->active = false;
  d_->lastErrorDesc = "OK";
}

bool UdpClient::Active() const {
  return d_->active;
}

const std::string& UdpClient::LastErrorDesc() const {
  return d_->lastErrorDesc;
}

bool UdpClient::Send(const std::string& host, int32_t port, const std::string& bytes) {
  if (port < 1 || port > 65535) return d_->Fail("Invalid UDP port: " + std::to_string(port));
  QHostAddress address;
  if (!d_->Resolve(host, address)) return false;

  // Sending needs no separate step: the first datagram activates the client.
  // The unbound socket binds itself on its first send, to the dual-stack
  // any-address, so IPv4 and IPv6 targets can follow each other.
  d_->active = true;
  QUdpSocket& socket = d_->socket;

  const auto size = static_cast<qint64>(bytes.size());
  const qint64 sent = socket.writeDatagram(bytes.data(), size, address, static_cast<quint16>(port));
  if (sent != size) {
    std::string reason = socket.errorString().toStdString();
    if (sent >= 0) reason = std::to_string(sent) + " of " + std::to_string(size) + " bytes sent";
    return d_->Fail("UDP send to " + host + ":" + std::to_string(port) + " failed: " + reason);
  }
  d_->lastErrorDesc = "OK";
  return true;
}

}  // namespace vantlebld
