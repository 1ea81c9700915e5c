// The serial and UDP links as the engine sees them: what a receive tells
// apart (a byte, a quiet line, a vanished device), what a purge hands back,
// the line settings reaching the device, and the datagrams of the UDP link.
#include "platform/links.h"

#include <termios.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "tests/support/lines.h"

namespace vantlebld {
namespace {

TEST(SerialLink, ReceivesTellAByteAQuietLineAndWhatAPurgeDiscards) {
  test::TLine device;
  TSerialLink link;
  link.Open(device.path, {57600, 2});
  ASSERT_TRUE(link.IsOpen());
  EXPECT_EQ(link.ActualBaud(), 57600);
  termios t{};
  ASSERT_EQ(::tcgetattr(device.master, &t), 0);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // the two stop bits reached the line

  EXPECT_EQ(link.ReceiveByte(20).Status, TLinkStatus::TimedOut);
  ASSERT_TRUE(device.Put("KN"));
  EXPECT_EQ(link.ReceiveByte(2000).Bytes, "K");
  EXPECT_EQ(link.ReceivePacket(2000).Bytes, "N");
  ASSERT_TRUE(device.Put("late"));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(link.Purge(), "late");
  EXPECT_EQ(link.ReceiveByte(20).Status, TLinkStatus::TimedOut);
}

// The device hangs up (an adapter pulled) before the call or while it
// waits: a receive says the device vanished and a send throws, at once and
// never as a time-out (which would also mean it sat out its full time).
TEST(SerialLink, AVanishedDeviceIsNoTimeOut) {
  // Big enough to stall in the driver while nobody reads the device end.
  const std::pair<const char*, std::function<std::string(TSerialLink&)>> ops[] = {
      {"send",
       [](TSerialLink& l) {
         try {
           l.Send(std::string(200000, 'x'));
         } catch (const std::exception& e) {
           return std::string(e.what());
         }
         return std::string("nothing thrown");
       }},
      {"byte", [](TSerialLink& l) { return l.ReceiveByte(10000).Reason; }},
      {"packet", [](TSerialLink& l) { return l.ReceivePacket(10000).Reason; }}};
  for (const auto& [name, op] : ops) {
    for (const bool whileWaiting : {false, true}) {
      SCOPED_TRACE(std::string(name) + (whileWaiting ? " while waiting" : " before"));
      test::TLine device;
      TSerialLink link;
      link.Open(device.path, {115200, 1});
      if (!whileWaiting) device.Close();
      std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        device.Close();
      });
      const std::string reason = op(link);
      unplug.join();
      EXPECT_TRUE(reason.starts_with("Communication error 6: ")) << reason;
    }
  }
}

// Every block is one datagram behind a blank, a search one "R"; nothing
// comes back, and a datagram that cannot go out is an error.
TEST(UdpLink, DatagramsAndNoAnswers) {
  test::TUdpReceiver receiver;
  TUdpLink link("127.0.0.1", receiver.port);
  link.Open("", {115200, 1});
  EXPECT_TRUE(link.IsOpen());
  link.AnnounceSearch();
  link.Send(std::string("\x01\x00\xFF", 3));
  EXPECT_EQ(receiver.Next(), "R");
  EXPECT_EQ(receiver.Next(), std::string(" \x01\x00\xFF", 4));
  EXPECT_EQ(link.ReceiveByte(10).Status, TLinkStatus::TimedOut);
  TUdpLink nowhere("127.0.0.1", 0);
  EXPECT_THROW(nowhere.Send("x"), std::runtime_error);
}

}  // namespace
}  // namespace vantlebld
