// The link layer over a pseudo-terminal whose device end the test plays:
// opening and configuring the port, closing and reopening it, single
// bytes, purging and control-line scripts. (UDP mode: with the writer's.)
#include <cerrno>
#include <cstring>

#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

class LinkTest : public EngineFixture {
 protected:
  // The line settings of the port, read from the device end.
  termios Settings() const {
    termios t{};
    EXPECT_EQ(::tcgetattr(line.master, &t), 0) << std::strerror(errno);
    return t;
  }
  LogLine Trying(const std::string& port) const {
    return {LogDetail, "Trying to connect to: " + port + " "};
  }
  // Another opener of the line gets it: the engine has let it go.
  static bool Free(const std::string& path) {
    SerialPort other;
    other.RaiseErrors = false;
    other.Open(path);
    return other.Active();
  }
  TLine line;
};

TEST_F(LinkTest, ParametersAndStopBitOverrideReachTheLine) {
  const struct {
    int32_t stopBits;  // the settings' override: 0 and 2 replace the text's
    const char* params;
    int32_t baud;
    speed_t speed;
    const char* logged;
    bool twoStopBits, softFlow;
  } cases[] = {
      {1, "", 115200, B115200, "8 N 0 False False", false, false},
      {2, "", 57600, B57600, "8 N 2 False False", true, false},
      {0, "8 N 2 0 0", 9600, B9600, "8 N 0 False False", false, false},
      {1, "8 N 2 0 0", 115200, B115200, "8 N 2 False False", true, false},
      {1, "8 e 0 1 0", 115200, B115200, "8 e 0 True False", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.params) + " / " + std::to_string(c.stopBits));
    engine.StopBits = c.stopBits;
    engine.RTSDTRonConnect = c.stopBits;  // a pty has no control lines: no error either way
    log.clear();
    ASSERT_TRUE(engine.Connect(line.path, c.baud, c.params));
    EXPECT_EQ(log, (LogLines{Trying(line.path),
                             {LogDetail, std::string("Com parameters: ") + c.logged},
                             {0, Format("Connected to %s at %d", line.path.c_str(), c.baud)}}));
    const termios t = Settings();
    EXPECT_EQ(::cfgetospeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ((t.c_iflag & IXON) != 0, c.softFlow);
    EXPECT_TRUE(engine.Port->RaiseErrors);
  }
  // Configure changes the open port in place.
  engine.StopBits = 2;
  log.clear();
  engine.Configure(57600, "");
  EXPECT_EQ(log, (LogLines{{LogDetail, "Com parameters: 8 N 2 False False"}}));
  const termios t = Settings();
  EXPECT_EQ(::cfgetospeed(&t), speed_t{B57600});
}

TEST_F(LinkTest, FailedConnectionsSayWhyAndLeaveThePortClosed) {
  const std::string missing = (dir.Path() / "ttyNONE").string();
  std::string error;
  try {
    engine.Connect(missing, 57600, "");
  } catch (const std::exception& e) {
    error = e.what();
  }
  EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
  EXPECT_NE(error.find(missing), std::string::npos) << error;
  EXPECT_EQ(log, (LogLines{Trying(missing),
                           {LogIndent6, "Could not connect to " + missing + " at 57600"}}));
  // The port was open when the configuration failed: it is closed again.
  const Raised r = CatchVantle([&] { engine.Connect(line.path, 115200, "x N 0 0 0"); });
  EXPECT_NE(r.message.find("\"x\""), std::string::npos) << r.message;
  EXPECT_EQ(log.back(), (LogLine{LogIndent6, "Could not connect to " + line.path + " at 115200"}));
  EXPECT_TRUE(engine.Port->RaiseErrors);
  EXPECT_TRUE(Free(line.path));
}

// Offline and UDP modes use no port: a byte is only logged and a control
// script not played, where the closed port would refuse both. (A pty has
// no modem lines: in serial mode the script shows only by reaching it.)
TEST_F(LinkTest, OnlySerialModeUsesThePort) {
  engine.Configure(115200, "");
  ConnectTo(line.path);
  EXPECT_NO_THROW(engine.SignalScript("dRDr-"));
  EXPECT_TRUE(engine.Disconnect());
  engine.Configure(115200, "");
  EXPECT_EQ(log, (LogLines{{LogDetail, "Disconnecting..."},
                           {LogDetail, "OK"},
                           {LogDetail, "Cannot configure (port not active)"}}));
  EXPECT_ANY_THROW(engine.SignalScript("D"));
  EXPECT_NO_THROW(engine.SignalScript("x"));
  for (uint8_t mode : {2, 1}) {
    engine.OperatingMode = mode;
    EXPECT_NO_THROW(engine.SignalScript("dRrD"));
  }
  log.clear();
  EXPECT_FALSE(engine.Connect(line.path, 115200, ""));
  EXPECT_FALSE(engine.Disconnect());
  engine.SendByte(0x05);
  EXPECT_EQ(
      log, (LogLines{Trying(line.path), {LogDetail, "Disconnecting..."}, {LogDetail, "Sent:05h"}}));
  EXPECT_FALSE(engine.Port->Active());
}

TEST_F(LinkTest, ReconnectOnlyActsOnAnOpenPort) {
  TLine second;
  engine.BaudRate = 115200;
  engine.Reconnect(second.path, 57600);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(engine.BaudRate, 115200);
  ConnectTo(line.path);
  engine.Reconnect(second.path, 57600);
  EXPECT_EQ(engine.BaudRate, 57600);
  EXPECT_TRUE(Logged({0, "Connected to " + second.path + " at 57600"}));
  EXPECT_TRUE(Free(line.path));
}

TEST_F(LinkTest, BytesGoOutAndComeInUnchanged) {
  ConnectTo(line.path);
  engine.SendByte(0xC1);
  EXPECT_EQ(log, (LogLines{{LogDetail, "Sent:C1h"}}));
  const std::string text("a\0\xFF\r\n", 5);
  engine.SendString(text);
  EXPECT_EQ(line.Sent(6), "\xC1" + text);
  EXPECT_EQ(engine.ReadAll(), "");
  ASSERT_TRUE(line.Put(text));
  ASSERT_EQ(AwaitWaiting(5), 5);
  EXPECT_EQ(engine.ReadAll(), text);
  EXPECT_EQ(engine.ReadAll(), "");
}

TEST_F(LinkTest, PurgeShowsWhatItDiscards) {
  const struct {
    uint8_t mode;
    std::string waiting;
    LogLines logged;
  } cases[] = {
      // clang-format off
      {0, "", {}},
      {0, "K", {{LogDetail, "Got an 'K' on purge."}, {LogDetail, "Purge Hex: 4B    Str: K"}}},
      {0, "KK", {{LogDetail, "Purge Hex: 4B 4B    Str: KK"}}},
      // Only the first 20 bytes are shown.
      {0, "ABCDEFGHIJKLMNOPQRSTUVWXY",
       {{LogDetail, "Purge Hex: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54    "
                    "Str: ABCDEFGHIJKLMNOPQRST"}}},
      {1, "K", {}},  // offline: the input is left alone
      // clang-format on
  };
  ConnectTo(line.path);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.waiting);
    ASSERT_TRUE(line.Put(c.waiting));
    const auto n = static_cast<int32_t>(c.waiting.size());
    ASSERT_EQ(AwaitWaiting(n), n);
    log.clear();
    engine.OperatingMode = c.mode;
    engine.Purge();
    EXPECT_EQ(log, c.logged);
    EXPECT_EQ(engine.Port->BytesWaiting(), c.mode == 0 ? 0 : n);
  }
}

}  // namespace
}  // namespace vantlebld::test
