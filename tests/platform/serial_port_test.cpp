// SerialPort against a pseudo-terminal: the test holds the master side (the
// "device"), the port under test opens the slave as it would a USB adapter.
#include "platform/serial_port.h"

#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace vantlebld {
namespace {

using std::chrono::milliseconds;

// Bound for bytes to arrive (only reached when broken); time-out for receives
// meant to time out.
constexpr int kArrivalLimitMs = 2000;
constexpr int kShortTimeoutMs = 20;

// `count` bytes counting up from `first`, wrapping through all 256 values.
std::string Bytes(size_t count, int first = 0) {
  std::string out;
  for (size_t i = 0; i < count; ++i)
    out.push_back(static_cast<char>((first + static_cast<int>(i)) & 0xFF));
  return out;
}

// The device end of a pseudo-terminal; `path` is what the port opens.
struct Pty {
  Pty() {
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    ::close(slave);
    path = name;
  }
  ~Pty() { HangUp(); }
  // Closes the master, as pulling a USB adapter hangs up its line.
  void HangUp() {
    if (master >= 0) ::close(std::exchange(master, -1));
  }
  bool Write(const std::string& bytes) {
    return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `count` bytes came or the line stayed quiet too long.
  std::string Read(size_t count) {
    std::string out;
    char buf[4096];
    pollfd pfd{master, POLLIN, 0};
    for (ssize_t n = 0; out.size() < count && ::poll(&pfd, 1, kArrivalLimitMs) > 0 &&
                        (n = ::read(master, buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<size_t>(n));
    return out;
  }

  int master = -1;
  std::string path;
};

class SerialPortPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(pty_.master, 0) << std::strerror(errno);
    port_.Open(pty_.path);
    port_.Configure(115200, 8, 'N', 0, false, false);
  }

  Pty pty_;
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
  EXPECT_EQ(pty_.Read(4), "mine");
}

// Every value must go out unchanged: NUL, XON/XOFF, CR/LF, bit 7. The
// large block exceeds the kernel's buffers, so it needs several writes.
TEST_F(SerialPortPtyTest, EveryByteValueGoesOutUnchangedAndInOrder) {
  const std::string block = Bytes(200000, 7);
  const std::string expected = std::string("\x00\x11\x13\r\n\xFF", 6) + block;
  std::string received;
  std::thread reader([&] { received = pty_.Read(expected.size()); });
  port_.SendByte(0x00);
  port_.SendString("\x11\x13\r\n");
  port_.SendByte(0xFF);
  EXPECT_EQ(port_.SendBuffer(block), static_cast<int32_t>(block.size()));
  reader.join();
  EXPECT_TRUE(received == expected) << "received " << received.size() << " bytes";
}

using NamedOp = std::pair<std::string, std::function<void(SerialPort&)>>;
// Big enough to stall in the driver while nobody reads the master.
const NamedOp kSend{"Send", [](SerialPort& p) { p.SendBuffer(Bytes(200000)); }};
const NamedOp kReceiveByte{"ReceiveByte", [](SerialPort& p) { p.ReceiveByte(10000); }};
const NamedOp kReceivePacket{"ReceivePacket", [](SerialPort& p) { p.ReceivePacket(10000); }};
const auto kQuickByte = [](SerialPort& p) { p.ReceiveByte(kShortTimeoutMs); };

// The text of the SerialPortError the operation throws; "" when none.
std::string Thrown(SerialPort& port, const std::function<void(SerialPort&)>& op) {
  try {
    op(port);
  } catch (const SerialPortError& e) {
    return e.what();
  }
  return "";
}

TEST_F(SerialPortPtyTest, TimeOutSemantics) {
  port_.RaiseErrors = false;
  EXPECT_EQ(port_.ReceiveByte(kShortTimeoutMs), 0);
  EXPECT_EQ(port_.LastError(), SerialPort::kErrTimeout);
  ASSERT_TRUE(pty_.Write("x"));
  EXPECT_EQ(port_.ReceiveByte(kArrivalLimitMs), 'x');
  EXPECT_EQ(port_.LastError(), SerialPort::kErrNone);

  port_.RaiseErrors = true;
  EXPECT_EQ(Thrown(port_, kQuickByte), "Communication error 9997: Timeout");
  // A packet read that gets nothing is a normal outcome: never thrown.
  EXPECT_EQ(port_.ReceivePacket(kShortTimeoutMs), "");
  EXPECT_EQ(port_.LastError(), SerialPort::kErrTimeout);
}

// A burst handed over in pieces 1 ms apart (inside the port's quiet gap)
// comes back whole; a scheduling hiccup may split it once or twice, but not
// into a packet per piece.
TEST_F(SerialPortPtyTest, ReceivePacketCollectsABurstArrivingInPieces) {
  const std::string burst = Bytes(800);
  std::thread device([&] {  // starts once the port is waiting
    for (size_t i = 0; i < burst.size(); i += 100) {
      std::this_thread::sleep_for(milliseconds(i == 0 ? 20 : 1));
      pty_.Write(burst.substr(i, 100));
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
  ASSERT_TRUE(pty_.Write(reply));
  ASSERT_EQ(waiting(1000), 1000);
  EXPECT_EQ(port_.BytesWaiting(), 1000);
  EXPECT_EQ(port_.ReceiveByte(kArrivalLimitMs), 0x83);
  EXPECT_EQ(port_.BytesWaiting(), 999);
  EXPECT_TRUE(port_.ReceivePacket(0) == reply.substr(1));
  EXPECT_EQ(port_.BytesWaiting(), 0);

  ASSERT_TRUE(pty_.Write("stale"));
  ASSERT_EQ(waiting(5), 5);
  port_.Purge();
  EXPECT_EQ(port_.BytesWaiting(), 0);
  ASSERT_TRUE(pty_.Write("fresh"));
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

// With RaiseErrors off and on; the closed port then reopens by bare name.
TEST_F(SerialPortPtyTest, OperationsOnAClosedPortReportNotOpen) {
  const NamedOp ops[] = {
      kSend,
      kReceiveByte,
      kReceivePacket,
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
    EXPECT_EQ(Thrown(port_, op), "Communication error 9998: Port not open");
  }
  port_.Open(pty_.path.substr(5));  // "pts/N"
  port_.SendString("again");
  EXPECT_EQ(pty_.Read(5), "again");
}

// Closing the master hangs up the slave, as unplugging an adapter does, before
// the call or while it waits. The call must throw a link error, not a
// time-out (which would also mean it sat out its full waiting time).
TEST(SerialPortHangUpTest, ThrowsALinkErrorNotATimeOut) {
  for (const NamedOp& op : {kSend, kReceiveByte, kReceivePacket}) {
    for (const bool whileWaiting : {false, true}) {
      SCOPED_TRACE(op.first + (whileWaiting ? " while waiting" : " before"));
      Pty pty;
      SerialPort port;
      port.Open(pty.path);
      if (!whileWaiting) pty.HangUp();
      std::thread unplug([&] {
        std::this_thread::sleep_for(milliseconds(30));
        pty.HangUp();
      });
      const std::string error = Thrown(port, op.second);
      unplug.join();
      EXPECT_NE(error, "") << "nothing thrown";
      EXPECT_EQ(error.find("Timeout"), std::string::npos) << error;
      EXPECT_EQ(error.find("not open"), std::string::npos) << error;
    }
  }
}

}  // namespace
}  // namespace vantlebld
