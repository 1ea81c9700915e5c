// UdpClient against receivers on the loopback interface.
#include "platform/udp_client.h"

#include <gtest/gtest.h>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QNetworkDatagram>
#include <QtNetwork/QUdpSocket>

#include <tuple>

#include "tests/support/lines.h"

namespace vantlebld {
namespace {

// A name is looked up, and of its addresses the IPv4 one is taken (the
// receiver has no other); sending activates the client, also after
// Deactivate(). The socket binds itself on the first send; an IPv6 target
// must still work after that, where the machine has IPv6.
TEST(UdpClientTest, SendsAllByteValuesAsOneDatagramToANameThenToIPv6) {
  test::TUdpReceiver v4;
  UdpClient client;
  std::string all;
  for (int i = 0; i < 256; ++i)
    all.push_back(static_cast<char>(i));
  client.Deactivate();
  ASSERT_TRUE(client.Send("localhost", v4.port, all)) << client.LastErrorDesc();
  EXPECT_TRUE(client.Active());
  EXPECT_EQ(v4.Next(), all);
  EXPECT_EQ(v4.Next(50), std::nullopt);
  QUdpSocket v6;
  if (!v6.bind(QHostAddress::LocalHostIPv6, 0)) return;
  ASSERT_TRUE(client.Send("::1", v6.localPort(), "six")) << client.LastErrorDesc();
  ASSERT_TRUE(v6.waitForReadyRead(2000));
  EXPECT_EQ(v6.receiveDatagram().data(), "six");
}

TEST(UdpClientTest, BadTargetFailsWithAReasonAndSendsNothing) {
  test::TUdpReceiver receiver;
  UdpClient client;
  for (const auto& [host, target, reason] :
       {std::tuple{"no-such-host.invalid", receiver.port, "no-such-host.invalid"},
        std::tuple{"", receiver.port, "host"}, std::tuple{"127.0.0.1", 0, "port"},
        std::tuple{"127.0.0.1", 65536, "port"}}) {
    SCOPED_TRACE(host);
    EXPECT_FALSE(client.Send(host, target, "payload"));
    EXPECT_NE(client.LastErrorDesc().find(reason), std::string::npos) << client.LastErrorDesc();
  }
  EXPECT_EQ(receiver.Next(50), std::nullopt);
  // The next good send clears the error.
  EXPECT_TRUE(client.Send("127.0.0.1", receiver.port, "ok"));
  EXPECT_EQ(client.LastErrorDesc(), "OK");
  EXPECT_EQ(receiver.Next(), "ok");
}

}  // namespace
}  // namespace vantlebld
