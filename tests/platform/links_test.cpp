// The serial and UDP links as the engine sees them, the serial one over a
// pseudo-terminal whose device end the test plays: refused openings, the
// line settings reaching the device, every byte value both ways, what a
// receive tells apart (a byte, a burst, a quiet line, a vanished device),
// what a purge hands back; the datagrams of the UDP link and the targets
// it refuses.
#include "platform/links.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
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

// A held port, a missing one (a bare name is looked for in /dev) and, but
// for root, one the user may not open: the error names the path, the
// system's reason and what to do. The holder keeps its port.
TEST(SerialLink, RefusedOpensSayWhyAndTheHolderKeepsItsPort) {
  test::TLine device;
  TSerialLink holder;
  holder.Open(device.path, {115200, 1});
  char denied[] = "/tmp/vantlebld_noperm_XXXXXX";
  ::close(::mkstemp(denied));
  ::chmod(denied, 0);
  std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {device.path, {"Cannot open " + device.path}},
      {"ttyNOSUCH0", {"Cannot open /dev/ttyNOSUCH0: ", std::strerror(ENOENT)}}};
  if (::geteuid() != 0) cases.push_back({denied, {std::strerror(EACCES), "usermod -aG dialout"}});
  for (const auto& [name, texts] : cases) {
    TSerialLink link;
    std::string why = "nothing thrown";
    try {
      link.Open(name, {115200, 1});
    } catch (const std::runtime_error& e) {
      why = e.what();
    }
    EXPECT_FALSE(link.IsOpen()) << name;
    for (const std::string& text : texts)
      EXPECT_NE(why.find(text), std::string::npos) << why;
  }
  ::unlink(denied);
  holder.Send("mine");
  EXPECT_EQ(device.Sent(4), "mine");
}

// Every value must go out and come in unchanged: NUL, XON/XOFF, CR/LF, bit
// 7. The large block exceeds the kernel's buffers, so it needs several
// writes. A burst handed over in pieces 1 ms apart (inside the port's quiet
// gap) comes back as one packet; a scheduling hiccup may split it once or
// twice, but not into a packet per piece.
TEST(SerialLink, EveryByteValuePassesAndABurstArrivesAsOnePacket) {
  test::TLine device;
  TSerialLink link;
  link.Open(device.path, {115200, 1});
  std::string all(200006, '\0');
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = static_cast<char>(i);
  all.replace(0, 6, "\x00\x11\x13\r\n\xFF", 6);
  std::string sent;
  std::thread reader([&] { sent = device.Sent(all.size()); });
  link.Send(all);
  reader.join();
  EXPECT_TRUE(sent == all) << "sent " << sent.size() << " bytes";

  const std::string burst = all.substr(1000, 800);
  std::thread pieces([&] {  // starts once the link is waiting
    for (size_t i = 0; i < burst.size(); i += 100) {
      std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 20 : 1));
      device.Put(burst.substr(i, 100));
    }
  });
  std::string received;
  int packets = 0;
  for (TReceiveResult r; received.size() < burst.size() &&
                         (r = link.ReceivePacket(test::kLineGuardMs)).Status == TLinkStatus::Ok;
       ++packets)
    received += r.Bytes;
  pieces.join();
  EXPECT_TRUE(received == burst) << "received " << received.size() << " bytes";
  EXPECT_LE(packets, 3);
}

// The device hangs up (an adapter pulled) before the call or while it
// waits: a receive says the device vanished and a send throws, at once and
// never as a time-out (which would also mean it sat out its full time).
TEST(SerialLink, AVanishedDeviceIsNoTimeOut) {
  for (const std::string op : {"send", "byte", "packet"}) {
    for (const bool whileWaiting : {false, true}) {
      SCOPED_TRACE(op + (whileWaiting ? " while waiting" : " before"));
      test::TLine device;
      TSerialLink link;
      link.Open(device.path, {115200, 1});
      if (!whileWaiting) device.Close();
      std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        device.Close();
      });
      std::string reason;
      try {
        // Big enough to stall in the driver while nobody reads the device end.
        if (op == "send") link.Send(std::string(200000, 'x'));
        if (op != "send")
          reason = (op == "byte" ? link.ReceiveByte(10000) : link.ReceivePacket(10000)).Reason;
      } catch (const std::runtime_error& e) {
        reason = e.what();
      }
      unplug.join();
      EXPECT_TRUE(reason.starts_with("Communication error 6: ")) << reason;
    }
  }
}

// Every block is one datagram behind a blank, a search one "R"; nothing
// comes back. A target that cannot be reached is an error naming why, and
// nothing goes out.
TEST(UdpLink, DatagramsNoAnswersAndBadTargets) {
  test::TUdpReceiver receiver;
  for (const auto& [host, port, reason] :
       {std::tuple{"no-such-host.invalid", receiver.port, "no-such-host.invalid"},
        std::tuple{"", receiver.port, "host"}, std::tuple{"127.0.0.1", 0, "port"},
        std::tuple{"127.0.0.1", 65536, "port"}}) {
    std::string why = "nothing thrown";
    try {
      TUdpLink(host, port).Send("x");
    } catch (const std::runtime_error& e) {
      why = e.what();
    }
    EXPECT_TRUE(why.starts_with("UDP Write Fail: ") && why.find(reason) != std::string::npos)
        << host << ":" << port << " " << why;
  }
  EXPECT_EQ(receiver.Next(50), std::nullopt);
  TUdpLink link("127.0.0.1", receiver.port);
  link.Open("", {115200, 1});
  EXPECT_TRUE(link.IsOpen());
  link.AnnounceSearch();
  link.Send(std::string("\x01\x00\xFF", 3));
  EXPECT_EQ(receiver.Next(), "R");
  EXPECT_EQ(receiver.Next(), std::string(" \x01\x00\xFF", 4));
  EXPECT_EQ(link.ReceiveByte(10).Status, TLinkStatus::TimedOut);
}

}  // namespace
}  // namespace vantlebld
