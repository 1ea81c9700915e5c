// UdpClient against a QUdpSocket receiver on the loopback interface.
#include "platform/udp_client.h"

#include <gtest/gtest.h>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QUdpSocket>

#include <optional>
#include <string>

namespace vantlebld {
namespace {

// Generous bound for a datagram to cross the loopback interface; only
// reached when something is broken.
constexpr int kArrivalLimitMs = 2000;
// How long to watch for a second, unwanted datagram.
constexpr int kQuietMs = 50;

std::string AllByteValues() {
  std::string bytes;
  for (int i = 0; i < 256; ++i)
    bytes.push_back(static_cast<char>(i));
  return bytes;
}

class UdpReceiver {
 public:
  bool Bind(const QHostAddress& address) { return socket_.bind(address, 0); }
  int32_t port() const { return socket_.localPort(); }

  // Takes the next datagram; false when none arrived in time.
  bool Next(std::string& out, int waitMs = kArrivalLimitMs) {
    if (!socket_.hasPendingDatagrams() && !socket_.waitForReadyRead(waitMs)) return false;
    if (!socket_.hasPendingDatagrams()) return false;
    const qint64 size = socket_.pendingDatagramSize();
    out.assign(static_cast<size_t>(size), '\0');
    return socket_.readDatagram(out.data(), size) == size;
  }

 private:
  QUdpSocket socket_;
};

class UdpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(receiver_.Bind(QHostAddress::LocalHost));
    client_.Activate();
  }

  // Sends `bytes` and expects exactly that one datagram at the receiver.
  void ExpectDelivered(UdpReceiver& receiver, const std::string& host, const std::string& bytes) {
    ASSERT_TRUE(client_.Send(host, receiver.port(), bytes)) << client_.LastErrorDesc();
    EXPECT_EQ(client_.LastErrorDesc(), "OK");
    std::string got;
    ASSERT_TRUE(receiver.Next(got)) << "nothing arrived";
    EXPECT_EQ(got, bytes);
    std::string extra;
    EXPECT_FALSE(receiver.Next(extra, kQuietMs)) << "a second datagram arrived";
  }

  UdpReceiver receiver_;
  UdpClient client_;
};

TEST_F(UdpClientTest, ActivateAndDeactivateSwitchTheState) {
  EXPECT_TRUE(client_.Active());
  client_.Deactivate();
  EXPECT_FALSE(client_.Active());
  client_.Activate();
  EXPECT_TRUE(client_.Active());
}

TEST_F(UdpClientTest, SendsAllByteValuesAsOneDatagram) {
  ExpectDelivered(receiver_, "127.0.0.1", AllByteValues());
}

TEST_F(UdpClientTest, ResolvesLocalhost) {
  ExpectDelivered(receiver_, "localhost", std::string("\x00\x01\x00", 3));
}

TEST_F(UdpClientTest, ConsecutiveSendsArriveAsSeparateDatagrams) {
  ASSERT_TRUE(client_.Send("127.0.0.1", receiver_.port(), "first"));
  ASSERT_TRUE(client_.Send("127.0.0.1", receiver_.port(), "second"));
  std::string a, b;
  ASSERT_TRUE(receiver_.Next(a));
  ASSERT_TRUE(receiver_.Next(b));
  EXPECT_EQ(a, "first");
  EXPECT_EQ(b, "second");
}

// The socket binds itself for the family of its first target; targets of
// the other family must still be reached afterwards.
TEST_F(UdpClientTest, SwitchesBetweenIPv4AndIPv6Targets) {
  UdpReceiver v6;
  if (!v6.Bind(QHostAddress::LocalHostIPv6)) GTEST_SKIP() << "no IPv6 loopback here";
  ExpectDelivered(receiver_, "127.0.0.1", "four first");
  ExpectDelivered(v6, "::1", "then six");
  ExpectDelivered(receiver_, "127.0.0.1", "four again");
}

TEST_F(UdpClientTest, SendWithoutActivateStillDelivers) {
  client_.Deactivate();
  ExpectDelivered(receiver_, "127.0.0.1", "implicit");
  EXPECT_TRUE(client_.Active());
}

TEST_F(UdpClientTest, OversizedDatagramIsRefused) {
  const std::string huge(70000, 'x');  // above the 65507-byte UDP payload limit
  EXPECT_FALSE(client_.Send("127.0.0.1", receiver_.port(), huge));
  EXPECT_NE(client_.LastErrorDesc(), "OK");
  std::string got;
  EXPECT_FALSE(receiver_.Next(got, kQuietMs));
}

struct BadTarget {
  const char* what;
  const char* host;
  std::optional<int32_t> port;  // none: the receiver's port
  const char* mentioned;        // text the error must contain
};

class UdpClientBadTargetTest : public UdpClientTest,
                               public ::testing::WithParamInterface<BadTarget> {};

TEST_P(UdpClientBadTargetTest, FailsWithAReasonAndSendsNothing) {
  const BadTarget& t = GetParam();
  const int32_t port = t.port.value_or(receiver_.port());
  EXPECT_FALSE(client_.Send(t.host, port, "payload"));
  EXPECT_NE(client_.LastErrorDesc(), "OK");
  EXPECT_NE(client_.LastErrorDesc().find(t.mentioned), std::string::npos)
      << client_.LastErrorDesc();
  std::string got;
  EXPECT_FALSE(receiver_.Next(got, kQuietMs));

  // The next good send clears the error.
  ExpectDelivered(receiver_, "127.0.0.1", "after failure");
}

INSTANTIATE_TEST_SUITE_P(Targets, UdpClientBadTargetTest,
                         ::testing::Values(BadTarget{"unresolvable", "no-such-host.invalid",
                                                     std::nullopt, "no-such-host.invalid"},
                                           BadTarget{"empty_host", "", std::nullopt, "host"},
                                           BadTarget{"port_zero", "127.0.0.1", 0, "port"},
                                           BadTarget{"port_negative", "127.0.0.1", -1, "port"},
                                           BadTarget{"port_too_high", "127.0.0.1", 65536, "port"}),
                         [](const auto& param) { return std::string(param.param.what); });

}  // namespace
}  // namespace vantlebld
