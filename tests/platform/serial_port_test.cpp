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
    if (master >= 0) ::close(master);
    master = -1;
  }
  bool Write(const std::string& bytes) {
    return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `count` bytes came or the line stayed quiet too long.
  std::string Read(size_t count) {
    std::string out;
    char buf[4096];
    pollfd pfd{master, POLLIN, 0};
    while (out.size() < count && ::poll(&pfd, 1, kArrivalLimitMs) > 0) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

  int master = -1;
  std::string path;
};

// Bytes cross the pseudo-terminal asynchronously: polls BytesWaiting()
// until it reaches `count` (or gives up) and returns the last count seen.
int32_t WaitUntilWaiting(SerialPort& port, int32_t count) {
  for (int ms = 0; ms < kArrivalLimitMs && port.BytesWaiting() < count; ++ms)
    std::this_thread::sleep_for(milliseconds(1));
  return port.BytesWaiting();
}

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

TEST_F(SerialPortPtyTest, SecondOpenIsRefusedAndFirstKeepsWorking) {
  SerialPort second;
  second.RaiseErrors = false;
  second.Open(pty_.path);
  EXPECT_FALSE(second.Active());
  EXPECT_NE(second.LastError(), SerialPort::kErrNone);
  port_.SendString("mine");
  EXPECT_EQ(pty_.Read(4), "mine");
}

TEST(SerialPortOpenTest, MissingPortErrorNamesPathAndSystemReason) {
  SerialPort port;
  port.RaiseErrors = false;
  port.Open("ttyNOSUCH0");  // a bare name is looked for in /dev
  EXPECT_FALSE(port.Active());
  EXPECT_NE(port.LastErrorDesc().find("/dev/ttyNOSUCH0"), std::string::npos);
  EXPECT_NE(port.LastErrorDesc().find(std::strerror(ENOENT)), std::string::npos);
}

TEST(SerialPortOpenTest, DeniedOpenCarriesDialoutHint) {
  if (::geteuid() == 0) GTEST_SKIP() << "root is never denied";
  char path[] = "/tmp/vantlebld_noperm_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ::chmod(path, 0);
  SerialPort port;
  port.RaiseErrors = false;
  port.Open(path);
  ::unlink(path);
  EXPECT_FALSE(port.Active());
  EXPECT_NE(port.LastErrorDesc().find(std::strerror(EACCES)), std::string::npos);
  EXPECT_NE(port.LastErrorDesc().find("usermod -aG dialout"), std::string::npos);
}

// Every value must cross unchanged both ways: NUL, XON/XOFF, CR/LF, bit 7.
TEST_F(SerialPortPtyTest, EveryByteValueCrossesBothWays) {
  const std::string all = Bytes(256);
  EXPECT_EQ(port_.SendBuffer(all), 256);
  EXPECT_EQ(pty_.Read(256), all);
  ASSERT_TRUE(pty_.Write(all));
  std::string got;
  for (int i = 0; i < 256; ++i)
    got.push_back(static_cast<char>(port_.ReceiveByte(kArrivalLimitMs)));
  EXPECT_EQ(got, all);
}

// The large block exceeds the kernel's buffers, so it needs several writes.
TEST_F(SerialPortPtyTest, SendByteStringAndLargeBlockGoOutInOrder) {
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

TEST_F(SerialPortPtyTest, TimeOutSemantics) {
  port_.RaiseErrors = false;
  EXPECT_EQ(port_.ReceiveByte(kShortTimeoutMs), 0);
  EXPECT_EQ(port_.LastError(), SerialPort::kErrTimeout);
  ASSERT_TRUE(pty_.Write("x"));
  EXPECT_EQ(port_.ReceiveByte(kArrivalLimitMs), 'x');
  EXPECT_EQ(port_.LastError(), SerialPort::kErrNone);

  port_.RaiseErrors = true;
  try {
    port_.ReceiveByte(kShortTimeoutMs);
    ADD_FAILURE() << "time-out did not throw";
  } catch (const SerialPortError& e) {
    EXPECT_STREQ(e.what(), "Communication error 9997: Timeout");
  }
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
  while (received.size() < burst.size()) {
    const std::string packet = port_.ReceivePacket(kArrivalLimitMs);
    if (packet.empty()) break;
    received += packet;
    ++packets;
  }
  device.join();
  EXPECT_TRUE(received == burst) << "received " << received.size() << " bytes";
  EXPECT_LE(packets, 3);
}

// The receive buffer size is a request for room, never a cap.
TEST_F(SerialPortPtyTest, BytesWaitingCountsWithoutConsumingAndPurgeDiscards) {
  port_.SetReceiveBufferSize(16);
  const std::string reply = Bytes(1000, 3);
  ASSERT_TRUE(pty_.Write(reply));
  ASSERT_EQ(WaitUntilWaiting(port_, 1000), 1000);
  EXPECT_EQ(port_.BytesWaiting(), 1000);
  EXPECT_EQ(port_.ReceiveByte(kArrivalLimitMs), 3);
  EXPECT_EQ(port_.BytesWaiting(), 999);
  EXPECT_TRUE(port_.ReceivePacket(0) == reply.substr(1));
  EXPECT_EQ(port_.BytesWaiting(), 0);

  ASSERT_TRUE(pty_.Write("stale"));
  ASSERT_EQ(WaitUntilWaiting(port_, 5), 5);
  port_.Purge();
  EXPECT_EQ(port_.BytesWaiting(), 0);
  ASSERT_TRUE(pty_.Write("fresh"));
  EXPECT_EQ(port_.ReceiveByte(kArrivalLimitMs), 'f');
}

TEST_F(SerialPortPtyTest, ModemLinesOnAPseudoTerminalAreNotErrors) {
  EXPECT_NO_THROW(port_.SetDTR(true));
  EXPECT_NO_THROW(port_.SetRTS(false));
  EXPECT_EQ(port_.LastError(), SerialPort::kErrNone);
}

// Read back on the driver's side, through the master. A pseudo-terminal
// forces 8 data bits and clears parity-enable, so those go unchecked.
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
}

using NamedOp = std::pair<std::string, std::function<void(SerialPort&)>>;
// Big enough to stall in the driver while nobody reads the master.
const NamedOp kSend{"Send", [](SerialPort& p) { p.SendBuffer(Bytes(200000)); }};
const NamedOp kReceiveByte{"ReceiveByte", [](SerialPort& p) { p.ReceiveByte(10000); }};
const NamedOp kReceivePacket{"ReceivePacket", [](SerialPort& p) { p.ReceivePacket(10000); }};

// On a port never opened and on a closed one, with RaiseErrors off and on;
// the closed port then reopens by bare name.
TEST_F(SerialPortPtyTest, OperationsOnAClosedPortReportNotOpen) {
  const std::vector<NamedOp> ops = {
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
  SerialPort never;
  for (SerialPort* port : {&port_, &never}) {
    for (const auto& [name, op] : ops) {
      SCOPED_TRACE(name);
      port->RaiseErrors = false;
      op(*port);
      EXPECT_EQ(port->LastError(), SerialPort::kErrNotOpen);
      port->RaiseErrors = true;
      try {
        op(*port);
        ADD_FAILURE() << "did not throw";
      } catch (const SerialPortError& e) {
        EXPECT_STREQ(e.what(), "Communication error 9998: Port not open");
      }
    }
  }
  port_.Open(pty_.path.substr(5));  // "pts/N"
  port_.SendString("again");
  EXPECT_EQ(pty_.Read(5), "again");
}

// Closing the master hangs up the slave, as unplugging an adapter does, before
// the call or while it waits. The call must throw a link error, not a
// time-out (which would also mean it sat out its full waiting time).
class SerialPortHangUpTest : public SerialPortPtyTest,
                             public ::testing::WithParamInterface<std::tuple<NamedOp, bool>> {};

TEST_P(SerialPortHangUpTest, ThrowsALinkErrorNotATimeOut) {
  const auto& [op, whileWaiting] = GetParam();
  if (!whileWaiting) pty_.HangUp();
  std::thread unplug([&] {
    std::this_thread::sleep_for(milliseconds(30));
    pty_.HangUp();
  });
  int code = SerialPort::kErrNone;
  try {
    op.second(port_);
  } catch (const SerialPortError& e) {
    code = e.Code();
  }
  unplug.join();
  EXPECT_NE(code, SerialPort::kErrNone) << "nothing thrown";
  EXPECT_NE(code, SerialPort::kErrTimeout);
  EXPECT_NE(code, SerialPort::kErrNotOpen);
}

INSTANTIATE_TEST_SUITE_P(Operations, SerialPortHangUpTest,
                         ::testing::Combine(::testing::Values(kSend, kReceiveByte, kReceivePacket),
                                            ::testing::Bool()),
                         [](const auto& p) {
                           return std::get<0>(p.param).first +
                                  (std::get<1>(p.param) ? "WhileWaiting" : "Before");
                         });

}  // namespace
}  // namespace vantlebld
