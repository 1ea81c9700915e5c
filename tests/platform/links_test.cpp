// The serial and UDP links as the engine sees them: the line settings
// reaching the device, what a receive tells apart (a byte, a quiet line, a
// vanished device), what a purge hands back, and the datagrams of the UDP
// link.
#include "platform/links.h"

#include <termios.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>

#include "tests/support/lines.h"

namespace vantlebld {
namespace {

// Whatever a previous program left on the line (flow control, two stop
// bits), the link opens it at 8 data bits, no parity and no flow control;
// the stop bits and the rate are the ones asked for, at the open and at
// every new setting.
TEST(SerialLink, TheLineCarriesTheFramingTheFirmwareKnows) {
  test::TLine device;
  termios left{};
  ASSERT_EQ(::tcgetattr(device.master, &left), 0);
  left.c_cflag |= CRTSCTS | CSTOPB;
  left.c_iflag |= IXON | IXOFF;
  ASSERT_EQ(::tcsetattr(device.master, TCSANOW, &left), 0);
  TSerialLink link;
  const TLineSettings settings[] = {{57600, 1}, {115200, 2}, {9600, 0}};
  for (const TLineSettings& line : settings) {
    SCOPED_TRACE(std::to_string(line.Baud) + " baud, stop bits " + std::to_string(line.StopBits));
    if (link.IsOpen())
      link.Configure(line);
    else
      link.Open(device.path, line);
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.ActualBaud(), line.Baud);
    termios t{};
    ASSERT_EQ(::tcgetattr(device.master, &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, line.StopBits == 2);
  }
}

// A quiet line is a time-out for every receive, never an error: no bytes,
// no reason. It breaks nothing: the next bytes the device sends come in, a
// byte receive taking one of them and leaving the rest to the purge.
TEST(SerialLink, AQuietLineIsATimeOutAndAPurgeTakesWhatIsLeft) {
  test::TLine device;
  TSerialLink link;
  link.Open(device.path, {57600, 2});
  const std::tuple<const char*, std::function<TReceiveResult(TSerialLink&, int32_t)>, std::string>
      receives[] = {
          {"byte", [](TSerialLink& l, int32_t ms) { return l.ReceiveByte(ms); }, "N"},
          {"packet", [](TSerialLink& l, int32_t ms) { return l.ReceivePacket(ms); }, ""},
          {"waiting", [](TSerialLink& l, int32_t ms) { return l.ReceiveWaiting(ms); }, ""}};
  for (const auto& [name, receive, left] : receives) {
    SCOPED_TRACE(name);
    const TReceiveResult quiet = receive(link, 20);
    EXPECT_EQ(std::tuple(quiet.Status, quiet.Bytes, quiet.Reason),
              std::tuple(TLinkStatus::TimedOut, "", ""));
    ASSERT_TRUE(device.Put("K" + left));
    const TReceiveResult answer = receive(link, 2000);
    EXPECT_EQ(std::pair(answer.Status, answer.Bytes), std::pair(TLinkStatus::Ok, std::string("K")));
    EXPECT_EQ(link.Purge(), left);
  }
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
