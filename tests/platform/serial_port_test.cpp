// SerialPort against a pseudo-terminal: the test holds the master side (the
// "device"), the port under test opens the slave as it would a USB adapter.
#include "platform/serial_port.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/lines.h"

namespace vantlebld {
namespace {

using std::chrono::milliseconds;

constexpr int kArrivalLimitMs = 2000;  // only reached when broken

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
    port_.Open(pty_.path);
    port_.Configure(115200, false);
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
    port.Open(name);
    EXPECT_FALSE(port.Active()) << name;
    for (const std::string& text : texts)
      EXPECT_NE(port.LastErrorDesc().find(text), std::string::npos) << port.LastErrorDesc();
  }
  ::unlink(denied);
  port_.SendBuffer("mine");
  EXPECT_EQ(pty_.Sent(4), "mine");
}

// Every value must go out unchanged: NUL, XON/XOFF, CR/LF, bit 7. The
// large block exceeds the kernel's buffers, so it needs several writes.
TEST_F(SerialPortPtyTest, EveryByteValueGoesOutUnchangedAndInOrder) {
  const std::string block = Bytes(200000, 7);
  const std::string special("\x00\x11\x13\r\n\xFF", 6);
  const std::string expected = special + block;
  std::string received;
  std::thread reader([&] { received = pty_.Sent(expected.size()); });
  EXPECT_EQ(port_.SendBuffer(special), 6);
  EXPECT_EQ(port_.SendBuffer(block), static_cast<int32_t>(block.size()));
  reader.join();
  EXPECT_TRUE(received == expected) << "received " << received.size() << " bytes";
}

// A burst handed over in pieces 1 ms apart (inside the port's quiet gap)
// comes back whole, every value unchanged; a scheduling hiccup may split
// it once or twice, but not into a packet per piece.
TEST_F(SerialPortPtyTest, ReceivePacketCollectsABurstArrivingInPieces) {
  const std::string burst = Bytes(800, 0x83);
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

}  // namespace
}  // namespace vantlebld
