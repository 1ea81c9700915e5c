// The serial and UDP links as the engine sees them: what a receive tells
// apart (a byte, a quiet line, a vanished device), what a purge hands back,
// the line settings reaching the device, and the datagrams of the UDP link.
#include "platform/links.h"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QUdpSocket>

#include <cerrno>
#include <cstring>
#include <thread>

namespace vantlebld {
namespace {

// The device end of a pseudo-terminal.
struct TDeviceEnd {
  TDeviceEnd() {
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    ::close(slave);
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    path = name;
  }
  ~TDeviceEnd() { HangUp(); }
  void HangUp() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  void Put(const std::string& bytes) {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  int master = -1;
  std::string path;
};

TEST(SerialLink, ReceivesTellAByteAQuietLineAndAVanishedDevice) {
  TDeviceEnd device;
  TSerialLink link;
  link.Open(device.path, {57600, 2});
  ASSERT_TRUE(link.IsOpen());
  EXPECT_EQ(link.ActualBaud(), 57600);
  termios t{};
  ASSERT_EQ(::tcgetattr(device.master, &t), 0) << std::strerror(errno);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // the two stop bits reached the line

  EXPECT_EQ(link.ReceiveByte(20).Status, TLinkStatus::TimedOut);
  EXPECT_EQ(link.ReceivePacket(0).Status, TLinkStatus::TimedOut);
  device.Put("KN");
  const TReceiveResult k = link.ReceiveByte(2000);
  EXPECT_EQ(k.Status, TLinkStatus::Ok);
  EXPECT_EQ(k.Bytes, "K");
  EXPECT_EQ(link.ReceivePacket(2000).Bytes, "N");
  // A purge hands back what it discards, and nothing is left.
  device.Put("late");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(link.Purge(), "late");
  EXPECT_EQ(link.ReceiveByte(20).Status, TLinkStatus::TimedOut);

  device.HangUp();
  const TReceiveResult gone = link.ReceiveByte(200);
  EXPECT_EQ(gone.Status, TLinkStatus::Vanished);
  EXPECT_TRUE(gone.Broken());
  EXPECT_NE(gone.Reason.find("Communication error "), std::string::npos) << gone.Reason;
  EXPECT_ANY_THROW(link.Send("x"));
  link.Close();
  EXPECT_FALSE(link.IsOpen());
}

TEST(SerialLink, AMissingPortSaysWhyAndStaysClosed) {
  TSerialLink link;
  try {
    link.Open("/dev/vantlebld-no-such-port", {115200, 1});
    FAIL() << "opened a missing port";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(std::strerror(ENOENT)), std::string::npos) << e.what();
  }
  EXPECT_FALSE(link.IsOpen());
}

// Every block is one datagram behind a blank, a search one "R"; nothing
// comes back, and a datagram that cannot go out is an error.
TEST(UdpLink, DatagramsAndNoAnswers) {
  QUdpSocket receiver;
  ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, 0));
  TUdpLink link("127.0.0.1", receiver.localPort());
  EXPECT_FALSE(link.Capabilities().Answers);
  link.Open("", {115200, 1});
  EXPECT_TRUE(link.IsOpen());
  link.AnnounceSearch();
  link.Send(std::string("\x01\x00\xFF", 3));
  for (const std::string& want : {std::string("R"), std::string(" \x01\x00\xFF", 4)}) {
    ASSERT_TRUE(receiver.hasPendingDatagrams() || receiver.waitForReadyRead(2000));
    std::string got(static_cast<size_t>(receiver.pendingDatagramSize()), '\0');
    receiver.readDatagram(got.data(), static_cast<qint64>(got.size()));
    EXPECT_EQ(got, want);
  }
  EXPECT_EQ(link.ReceiveByte(10).Status, TLinkStatus::TimedOut);
  TUdpLink nowhere("127.0.0.1", 0);
  EXPECT_THROW(nowhere.Send("x"), std::runtime_error);
}

TEST(MakeLink, EachModeItsLink) {
  EXPECT_TRUE(MakeLink(kModeSerial)->Capabilities().Answers);
  EXPECT_TRUE(MakeLink(kModeSerial)->Capabilities().ControlLines);
  for (uint8_t mode : {kModeOffline, kModeUdp, uint8_t{7}}) {
    const auto link = MakeLink(mode);
    EXPECT_FALSE(link->Capabilities().Answers || link->Capabilities().ControlLines) << int(mode);
  }
  const auto offline = MakeLink(kModeOffline);
  offline->Open("ttyS0", {115200, 1});
  EXPECT_FALSE(offline->IsOpen());
}

}  // namespace
}  // namespace vantlebld
