// UdpClient against receivers on the loopback interface.
#include "platform/udp_client.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/lines.h"

namespace vantlebld {
namespace {

TEST(UdpClientTest, BadTargetFailsWithAReasonAndSendsNothing) {
  test::TUdpReceiver receiver;
  UdpClient client;
  for (const auto& [host, target, reason] :
       {std::tuple{"no-such-host.invalid", receiver.port, "no-such-host.invalid"},
        std::tuple{"", receiver.port, "host"}, std::tuple{"127.0.0.1", 0, "port"},
        std::tuple{"127.0.0.1", 65536, "port"}}) {
    EXPECT_FALSE(client.Send(host, target, "payload")) << host;
    EXPECT_NE(client.LastErrorDesc().find(reason), std::string::npos) << client.LastErrorDesc();
  }
  EXPECT_EQ(receiver.Next(50), std::nullopt);
  EXPECT_TRUE(client.Send("127.0.0.1", receiver.port, "ok"));  // clears the error
  EXPECT_EQ(client.LastErrorDesc(), "OK");
  EXPECT_EQ(receiver.Next(), "ok");
}

}  // namespace
}  // namespace vantlebld
