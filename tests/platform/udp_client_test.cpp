// UdpClient against QUdpSocket receivers on the loopback interface.
#include "platform/udp_client.h"

#include <gtest/gtest.h>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QUdpSocket>

#include <string>
#include <tuple>

namespace vantlebld {
namespace {

// The next datagram, or "<none>" when nothing arrives within waitMs.
std::string Next(QUdpSocket& receiver, int waitMs = 2000) {
  if (!receiver.hasPendingDatagrams() && !receiver.waitForReadyRead(waitMs)) return "<none>";
  std::string out(static_cast<size_t>(receiver.pendingDatagramSize()), '\0');
  receiver.readDatagram(out.data(), static_cast<qint64>(out.size()));
  return out;
}

// A name is looked up, and of its addresses the IPv4 one is taken (the
// receiver has no other); sending activates the client, also after
// Deactivate(). The socket binds itself on the first send; an IPv6 target
// must still work after that, where the machine has IPv6.
TEST(UdpClientTest, SendsAllByteValuesAsOneDatagramToANameThenToIPv6) {
  QUdpSocket v4, v6;
  ASSERT_TRUE(v4.bind(QHostAddress::LocalHost, 0));
  UdpClient client;
  std::string all;
  for (int i = 0; i < 256; ++i)
    all.push_back(static_cast<char>(i));
  client.Deactivate();
  ASSERT_TRUE(client.Send("localhost", v4.localPort(), all)) << client.LastErrorDesc();
  EXPECT_TRUE(client.Active());
  EXPECT_EQ(Next(v4), all);
  EXPECT_EQ(Next(v4, 50), "<none>");
  if (!v6.bind(QHostAddress::LocalHostIPv6, 0)) return;
  ASSERT_TRUE(client.Send("::1", v6.localPort(), "six")) << client.LastErrorDesc();
  EXPECT_EQ(Next(v6), "six");
}

TEST(UdpClientTest, BadTargetFailsWithAReasonAndSendsNothing) {
  QUdpSocket receiver;
  ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, 0));
  UdpClient client;
  const int32_t port = receiver.localPort();
  for (const auto& [host, target, reason] :
       {std::tuple{"no-such-host.invalid", port, "no-such-host.invalid"},
        std::tuple{"", port, "host"}, std::tuple{"127.0.0.1", 0, "port"},
        std::tuple{"127.0.0.1", 65536, "port"}}) {
    SCOPED_TRACE(host);
    EXPECT_FALSE(client.Send(host, target, "payload"));
    EXPECT_NE(client.LastErrorDesc().find(reason), std::string::npos) << client.LastErrorDesc();
  }
  EXPECT_EQ(Next(receiver, 50), "<none>");
  // The next good send clears the error.
  EXPECT_TRUE(client.Send("127.0.0.1", port, "ok"));
  EXPECT_EQ(client.LastErrorDesc(), "OK");
  EXPECT_EQ(Next(receiver), "ok");
}

}  // namespace
}  // namespace vantlebld
