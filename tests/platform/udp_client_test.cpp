// UdpClient against a QUdpSocket receiver on the loopback interface.
#include "platform/udp_client.h"

#include <gtest/gtest.h>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QUdpSocket>

#include <string>
#include <tuple>

namespace vantlebld {
namespace {

class UdpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(receiver_.bind(QHostAddress::LocalHost, 0)); }

  // The next datagram, or "<none>" when nothing arrives within waitMs.
  std::string Next(int waitMs = 2000) {
    if (!receiver_.hasPendingDatagrams() && !receiver_.waitForReadyRead(waitMs)) return "<none>";
    std::string out(static_cast<size_t>(receiver_.pendingDatagramSize()), '\0');
    receiver_.readDatagram(out.data(), static_cast<qint64>(out.size()));
    return out;
  }

  QUdpSocket receiver_;
  UdpClient client_;
};

// Also after Deactivate(): sending activates the client again.
TEST_F(UdpClientTest, SendsAllByteValuesAsOneDatagram) {
  std::string all;
  for (int i = 0; i < 256; ++i)
    all.push_back(static_cast<char>(i));
  client_.Deactivate();
  ASSERT_TRUE(client_.Send("127.0.0.1", receiver_.localPort(), all)) << client_.LastErrorDesc();
  EXPECT_TRUE(client_.Active());
  EXPECT_EQ(Next(), all);
  EXPECT_EQ(Next(50), "<none>");
}

TEST_F(UdpClientTest, ResolvesLocalhost) {
  ASSERT_TRUE(client_.Send("localhost", receiver_.localPort(), "hi")) << client_.LastErrorDesc();
  EXPECT_EQ(Next(), "hi");
}

// The socket binds itself on the first send; an IPv6 target must still work.
TEST_F(UdpClientTest, ReachesIPv6AfterIPv4) {
  QUdpSocket v6;
  if (!v6.bind(QHostAddress::LocalHostIPv6, 0)) GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_TRUE(client_.Send("127.0.0.1", receiver_.localPort(), "four"));
  ASSERT_TRUE(client_.Send("::1", v6.localPort(), "six")) << client_.LastErrorDesc();
  EXPECT_TRUE(v6.waitForReadyRead(2000));
}

TEST_F(UdpClientTest, BadTargetFailsWithAReasonAndSendsNothing) {
  const int32_t port = receiver_.localPort();
  for (const auto& [host, target, reason] :
       {std::tuple{"no-such-host.invalid", port, "no-such-host.invalid"},
        std::tuple{"", port, "host"}, std::tuple{"127.0.0.1", 0, "port"},
        std::tuple{"127.0.0.1", 65536, "port"}}) {
    SCOPED_TRACE(host);
    EXPECT_FALSE(client_.Send(host, target, "payload"));
    EXPECT_NE(client_.LastErrorDesc().find(reason), std::string::npos) << client_.LastErrorDesc();
  }
  EXPECT_EQ(Next(50), "<none>");
  // The next good send clears the error.
  EXPECT_TRUE(client_.Send("127.0.0.1", port, "ok"));
  EXPECT_EQ(client_.LastErrorDesc(), "OK");
  EXPECT_EQ(Next(), "ok");
}

}  // namespace
}  // namespace vantlebld
