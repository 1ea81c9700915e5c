// SerialPort against a pseudo-terminal: the test holds the master side (the
// "device"), the port under test opens the slave as it would a USB adapter.
#include "platform/serial_port.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>

#include "tests/support/lines.h"

namespace vantlebld {
namespace {

using std::chrono::milliseconds;

// Bound for bytes to arrive (only reached when broken).
constexpr int kArrivalLimitMs = 2000;

// `count` bytes counting up from `first`, wrapping through all 256 values.
std::string Bytes(size_t count, int first = 0) {
  std::string out;
  for (size_t i = 0; i < count; ++i)
    out.push_back(static_cast<char>((first + static_cast<int>(i)) & 0xFF));
  return out;
}

class SerialPortPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(pty_.path.empty());
    port_.Open(pty_.path);
    port_.Configure(115200, 8, 'N', 0, false, false);
  }

  test::TLine pty_;
  SerialPort port_;
};

// A held port, a missing one (a bare name is looked for in /dev) and, but
// for root, one the user may not open: the reason names the path, the
// system's reason and what to do. The held port keeps working.
TEST_F(SerialPortPtyTest, RefusedOpensSayWhyAndTheHolderKeepsItsPort) {
  char denied[] = "/tmp/vantlebld_noperm_XXXXXX";
  ::close(::mkstemp(denied));
  ::chmod(denied, 0);
  std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {pty_.path, {"Cannot open " + pty_.path}},
      {"ttyNOSUCH0", {"Cannot open /dev/ttyNOSUCH0: ", std::strerror(ENOENT)}}};
  if (::geteuid() != 0) cases.push_back({denied, {std::strerror(EACCES), "usermod -aG dialout"}});
  for (const auto& [name, texts] : cases) {
    SerialPort port;
    port.RaiseErrors = false;
    port.Open(name);
    EXPECT_FALSE(port.Active()) << name;
    EXPECT_NE(port.LastError(), SerialPort::kErrNone);
    for (const std::string& text : texts)
      EXPECT_NE(port.LastErrorDesc().find(text), std::string::npos) << port.LastErrorDesc();
  }
  ::unlink(denied);
  port_.SendString("mine");
  EXPECT_EQ(pty_.Sent(4), "mine");
}

// Every value must go out unchanged: NUL, XON/XOFF, CR/LF, bit 7. The
// large block exceeds the kernel's buffers, so it needs several writes.
TEST_F(SerialPortPtyTest, EveryByteValueGoesOutUnchangedAndInOrder) {
  const std::string block = Bytes(200000, 7);
  const std::string expected = std::string("\x00\x11\x13\r\n\xFF", 6) + block;
  std::string received;
  std::thread reader([&] { received = pty_.Sent(expected.size()); });
  port_.SendByte(0x00);
  port_.SendString("\x11\x13\r\n");
  port_.SendByte(0xFF);
  EXPECT_EQ(port_.SendBuffer(block), static_cast<int32_t>(block.size()));
  reader.join();
  EXPECT_TRUE(received == expected) << "received " << received.size() << " bytes";
}

// A burst handed over in pieces 1 ms apart (inside the port's quiet gap)
// comes back whole; a scheduling hiccup may split it once or twice, but not
// into a packet per piece.
TEST_F(SerialPortPtyTest, ReceivePacketCollectsABurstArrivingInPieces) {
  const std::string burst = Bytes(800);
  std::thread device([&] {  // starts once the port is waiting
    for (size_t i = 0; i < burst.size(); i += 100) {
      std::this_thread::sleep_for(milliseconds(i == 0 ? 20 : 1));
      pty_.Put(burst.substr(i, 100));
    }
  });
  std::string received;
  int packets = 0;
  for (std::string packet;
       received.size() < burst.size() && !(packet = port_.ReceivePacket(kArrivalLimitMs)).empty();
       ++packets)
    received += packet;
  device.join();
  EXPECT_TRUE(received == burst) << "received " << received.size() << " bytes";
  EXPECT_LE(packets, 3);
}

// Every value must come in unchanged as well. The receive buffer size is a
// request for room, never a cap. Bytes cross the pseudo-terminal
// asynchronously, so the count is polled until it is reached (or the time
// is up).
TEST_F(SerialPortPtyTest, BytesWaitingCountsWithoutConsumingAndPurgeDiscards) {
  const auto waiting = [this](int32_t count) {
    for (int ms = 0; ms < kArrivalLimitMs && port_.BytesWaiting() < count; ++ms)
      std::this_thread::sleep_for(milliseconds(1));
    return port_.BytesWaiting();
  };
  port_.SetReceiveBufferSize(16);
  const std::string reply = Bytes(1000, 0x83);
  ASSERT_TRUE(pty_.Put(reply));
  ASSERT_EQ(waiting(1000), 1000);
  EXPECT_EQ(port_.BytesWaiting(), 1000);
  EXPECT_EQ(port_.ReceiveByte(kArrivalLimitMs), 0x83);
  EXPECT_EQ(port_.BytesWaiting(), 999);
  EXPECT_TRUE(port_.ReceivePacket(0) == reply.substr(1));
  EXPECT_EQ(port_.BytesWaiting(), 0);

  ASSERT_TRUE(pty_.Put("stale"));
  ASSERT_EQ(waiting(5), 5);
  port_.Purge();
  EXPECT_EQ(port_.BytesWaiting(), 0);
  ASSERT_TRUE(pty_.Put("fresh"));
  EXPECT_EQ(port_.ReceiveByte(kArrivalLimitMs), 'f');
}

// Read back on the driver's side, through the master. A pseudo-terminal
// forces 8 data bits and clears parity-enable, so those go unchecked; nor
// has it modem lines, which is no error.
TEST_F(SerialPortPtyTest, DriverHoldsTheConfiguredSettingsAndRefusesBadOnes) {
  // baud, data bits, parity, stop code, soft flow, hard flow; then what the
  // driver must hold: odd parity, sticky (mark/space) parity, two stop bits.
  for (const auto& [baud, bits, parity, stopCode, soft, hard, odd, sticky, twoStop] :
       {std::tuple{12345, 8, 'N', 2, false, false, false, false, true},
        std::tuple{19200, 7, 'M', 0, true, false, true, true, false},
        std::tuple{250000, 6, 's', 1, true, true, false, true, true}}) {
    SCOPED_TRACE(baud);
    port_.Configure(baud, bits, parity, stopCode, soft, hard);
    port_.ReadState();
    EXPECT_EQ(port_.ActualBaud(), baud);
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty_.master, &tio), 0);
    EXPECT_EQ((tio.c_cflag & PARODD) != 0, odd);
    EXPECT_EQ((tio.c_cflag & CMSPAR) != 0, sticky);
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, twoStop);
    EXPECT_EQ((tio.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF), soft);
    EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, hard);
  }
  EXPECT_THROW(port_.Configure(0, 8, 'N', 0, false, false), SerialPortError);
  EXPECT_THROW(port_.Configure(9600, 9, 'N', 0, false, false), SerialPortError);
  EXPECT_THROW(port_.Configure(9600, 8, 'X', 0, false, false), SerialPortError);
  EXPECT_THROW(port_.Configure(9600, 8, 'N', 3, false, false), SerialPortError);
  EXPECT_NO_THROW(port_.SetDTR(true));
  EXPECT_NO_THROW(port_.SetRTS(false));
  EXPECT_EQ(port_.LastError(), SerialPort::kErrNone);
}

// With RaiseErrors off and on.
TEST_F(SerialPortPtyTest, OperationsOnAClosedPortReportNotOpen) {
  const std::pair<const char*, std::function<void(SerialPort&)>> ops[] = {
      {"SendBuffer", [](SerialPort& p) { p.SendBuffer("x"); }},
      {"ReceiveByte", [](SerialPort& p) { p.ReceiveByte(10000); }},
      {"ReceivePacket", [](SerialPort& p) { p.ReceivePacket(10000); }},
      {"BytesWaiting", [](SerialPort& p) { p.BytesWaiting(); }},
      {"Purge", [](SerialPort& p) { p.Purge(); }},
      {"SetDTR", [](SerialPort& p) { p.SetDTR(true); }},
      {"SetRTS", [](SerialPort& p) { p.SetRTS(true); }},
      {"ReadState", [](SerialPort& p) { p.ReadState(); }},
      {"Configure", [](SerialPort& p) { p.Configure(9600, 8, 'N', 0, false, false); }},
      {"SetReceiveBufferSize", [](SerialPort& p) { p.SetReceiveBufferSize(4096); }}};
  port_.Close();
  for (const auto& [name, op] : ops) {
    SCOPED_TRACE(name);
    port_.RaiseErrors = false;
    op(port_);
    EXPECT_EQ(port_.LastError(), SerialPort::kErrNotOpen);
    port_.RaiseErrors = true;
    EXPECT_THROW(op(port_), SerialPortError);
  }
}

}  // namespace
}  // namespace vantlebld
