// The link layer over a real pseudo-terminal: opening and configuring the
// port, closing and reopening it, single bytes, purging, control-line
// scripts, and the UDP datagrams of the test mode.
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/format.h"
#include "tests/engine/sim_link_fixture.h"

namespace vantlebld::test {
namespace {

class LinkTest : public SimLinkFixture {
 protected:
  // The line settings of the port, read from the device end.
  termios LineSettings() const {
    termios t{};
    EXPECT_EQ(::tcgetattr(line.Master(), &t), 0) << std::strerror(errno);
    return t;
  }
  LogLine Trying(const std::string& port) const {
    return {LogDetail, "Trying to connect to: " + port + " "};
  }

  TScriptedLine line;
};

struct BaudCase {
  int32_t baud;
  speed_t speed;
  int32_t rtsDtr;
};
void PrintTo(const BaudCase& c, std::ostream* os) {
  *os << c.baud << " rts-dtr " << c.rtsDtr;
}

class LinkConnectTest : public LinkTest, public ::testing::WithParamInterface<BaudCase> {};

// Control lines: a pseudo-terminal has none, which is no error.
TEST_P(LinkConnectTest, ConnectsAndReportsTheRateInForce) {
  const BaudCase& c = GetParam();
  engine.RTSDTRonConnect = c.rtsDtr;
  ASSERT_FALSE(line.Path().empty());
  EXPECT_TRUE(engine.Connect(line.Path(), c.baud, ""));
  const std::vector<LogLine> expected = {
      Trying(line.Path()),
      {LogDetail, "Com parameters: 8 N 0 False False"},
      {0, Format("Connected to %s at %d", line.Path().c_str(), c.baud)},
  };
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(engine.Port->Active());
  EXPECT_TRUE(engine.Port->RaiseErrors);
  const termios t = LineSettings();
  EXPECT_EQ(::cfgetospeed(&t), c.speed);
}

INSTANTIATE_TEST_SUITE_P(Rates, LinkConnectTest,
                         ::testing::Values(BaudCase{115200, B115200, 0}, BaudCase{57600, B57600, 1},
                                           BaudCase{9600, B9600, 2}));

struct ParamsCase {
  int32_t stopBits;  // the settings' override
  const char* params;
  const char* logged;
  bool twoStopBits;
  bool softFlow;
};
void PrintTo(const ParamsCase& c, std::ostream* os) {
  *os << "\"" << c.params << "\" stop bits " << c.stopBits;
}

class LinkParamsTest : public LinkTest, public ::testing::WithParamInterface<ParamsCase> {};

TEST_P(LinkParamsTest, ParameterTextAndStopBitOverrideReachTheLine) {
  const ParamsCase& c = GetParam();
  engine.StopBits = c.stopBits;
  ASSERT_TRUE(engine.Connect(line.Path(), 115200, c.params));
  EXPECT_TRUE(Logged({LogDetail, std::string("Com parameters: ") + c.logged}));
  const termios t = LineSettings();
  EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
  EXPECT_EQ((t.c_iflag & IXON) != 0, c.softFlow);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LinkParamsTest,
    ::testing::Values(ParamsCase{1, "", "8 N 0 False False", false, false},
                      ParamsCase{2, "", "8 N 2 False False", true, false},
                      ParamsCase{0, "8 N 2 0 0", "8 N 0 False False", false, false},
                      ParamsCase{1, "8 N 2 0 0", "8 N 2 False False", true, false},
                      ParamsCase{1, "8 e 0 1 0", "8 e 0 True False", false, true}));

TEST_F(LinkTest, ConfigureChangesAnOpenPortInPlace) {
  engine.StopBits = 1;
  ASSERT_TRUE(engine.Connect(line.Path(), 115200, ""));
  log.clear();
  engine.StopBits = 2;
  engine.Configure(57600, "");
  EXPECT_EQ(log, (std::vector<LogLine>{{LogDetail, "Com parameters: 8 N 2 False False"}}));
  const termios t = LineSettings();
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(::cfgetospeed(&t), speed_t{B57600});
  EXPECT_TRUE(engine.Port->Active());
}

TEST_F(LinkTest, ConfigureOnAClosedPortOnlySaysSo) {
  engine.Configure(115200, "");
  EXPECT_EQ(log, (std::vector<LogLine>{{LogDetail, "Cannot configure (port not active)"}}));
  EXPECT_FALSE(engine.Port->Active());
}

TEST_F(LinkTest, MissingPortFailsWithTheSystemsReason) {
  const std::string missing = (dir.Path() / "ttyNONE").string();
  try {
    engine.Connect(missing, 57600, "");
    ADD_FAILURE() << "Connect returned";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find(std::strerror(ENOENT)), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  const std::vector<LogLine> expected = {
      Trying(missing),
      {LogIndent6, "Could not connect to " + missing + " at 57600"},
  };
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(engine.Port->Active());
  EXPECT_TRUE(engine.Port->RaiseErrors);
}

// The port was open when the configuration failed: it is closed again, so
// it can be opened anew.
TEST_F(LinkTest, FailedConfigurationClosesThePort) {
  const Raised r = CatchVantle([&] { engine.Connect(line.Path(), 115200, "x N 0 0 0"); });
  EXPECT_TRUE(r.thrown);
  EXPECT_NE(r.message.find("\"x\""), std::string::npos) << r.message;
  EXPECT_TRUE(Logged({LogIndent6, "Could not connect to " + line.Path() + " at 115200"}));
  EXPECT_FALSE(Logged({0, "Connected to " + line.Path() + " at 115200"}));
  EXPECT_FALSE(engine.Port->Active());
  EXPECT_TRUE(engine.Port->RaiseErrors);
  SerialPort other;
  other.RaiseErrors = false;
  other.Open(line.Path());
  EXPECT_TRUE(other.Active()) << other.LastErrorDesc();
}

TEST_F(LinkTest, OfflineOpensNothing) {
  engine.OperatingMode = 1;
  EXPECT_FALSE(engine.Connect(line.Path(), 115200, ""));
  EXPECT_EQ(log, std::vector<LogLine>{Trying(line.Path())});
  EXPECT_FALSE(engine.Port->Active());
  log.clear();
  EXPECT_FALSE(engine.Disconnect());
  EXPECT_EQ(log, (std::vector<LogLine>{{LogDetail, "Disconnecting..."}}));
}

TEST_F(LinkTest, UdpModeActivatesAndDeactivatesTheClient) {
  engine.OperatingMode = 2;
  EXPECT_TRUE(engine.Connect("any", 115200, ""));
  EXPECT_TRUE(engine.UDPClient->Active());
  EXPECT_FALSE(engine.Port->Active());
  EXPECT_TRUE(engine.Disconnect());
  EXPECT_FALSE(engine.UDPClient->Active());
}

TEST_F(LinkTest, DisconnectClosesThePortAndReportsItsState) {
  ConnectTo(line.Path());
  EXPECT_TRUE(engine.Disconnect());
  const std::vector<LogLine> expected = {{LogDetail, "Disconnecting..."}, {LogDetail, "OK"}};
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(engine.Port->Active());
}

TEST_F(LinkTest, ReconnectOnlyActsOnAnOpenPort) {
  TScriptedLine second;
  engine.BaudRate = 115200;
  engine.Reconnect(second.Path(), 57600);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(engine.Port->Active());
  EXPECT_EQ(engine.BaudRate, 115200);

  ConnectTo(line.Path());
  engine.Reconnect(second.Path(), 57600);
  EXPECT_EQ(engine.BaudRate, 57600);
  EXPECT_TRUE(Logged({0, "Connected to " + second.Path() + " at 57600"}));
  EXPECT_TRUE(engine.Port->Active());
  EXPECT_EQ(engine.Port->DeviceName(), second.Path());
  // The first line is free again.
  SerialPort other;
  other.RaiseErrors = false;
  other.Open(line.Path());
  EXPECT_TRUE(other.Active()) << other.LastErrorDesc();
}

TEST_F(LinkTest, BytesAndStringsGoOutUnchanged) {
  ConnectTo(line.Path());
  engine.SendByte(0xC1);
  EXPECT_EQ(log, (std::vector<LogLine>{{LogDetail, "Sent:C1h"}}));
  const std::string text("a\0\xFF\r\n", 5);
  engine.SendString(text);
  EXPECT_EQ(line.AwaitReceived(6), "\xC1" + text);
}

TEST_F(LinkTest, OfflineSendByteOnlyLogs) {
  engine.OperatingMode = 1;
  engine.SendByte(0x05);  // the port is closed: sending would fail
  EXPECT_EQ(log, (std::vector<LogLine>{{LogDetail, "Sent:05h"}}));
}

TEST_F(LinkTest, ReadAllTakesWhatIsWaiting) {
  ConnectTo(line.Path());
  EXPECT_EQ(engine.ReadAll(), "");
  ASSERT_TRUE(line.Inject(std::string("x\0y", 3)));
  ASSERT_EQ(AwaitWaiting(3), 3);
  EXPECT_EQ(engine.ReadAll(), std::string("x\0y", 3));
  EXPECT_EQ(engine.ReadAll(), "");
}

struct PurgeCase {
  const char* name;
  std::string waiting;
  std::vector<LogLine> logged;
};
void PrintTo(const PurgeCase& c, std::ostream* os) {
  *os << c.name;
}

class LinkPurgeTest : public LinkTest, public ::testing::WithParamInterface<PurgeCase> {};

TEST_P(LinkPurgeTest, PurgeShowsWhatItDiscards) {
  const PurgeCase& c = GetParam();
  ConnectTo(line.Path());
  ASSERT_TRUE(line.Inject(c.waiting));
  ASSERT_EQ(AwaitWaiting(static_cast<int32_t>(c.waiting.size())),
            static_cast<int32_t>(c.waiting.size()));
  engine.Purge();
  EXPECT_EQ(log, c.logged);
  EXPECT_EQ(engine.Port->BytesWaiting(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Waiting, LinkPurgeTest,
    ::testing::Values(
        PurgeCase{"LoneK",
                  "K",
                  {{LogDetail, "Got an 'K' on purge."}, {LogDetail, "Purge Hex: 4B    Str: K"}}},
        PurgeCase{"Answer", "AK", {{LogDetail, "Purge Hex: 41 4B    Str: AK"}}},
        PurgeCase{"TwoK", "KK", {{LogDetail, "Purge Hex: 4B 4B    Str: KK"}}},
        // Only the first 20 bytes are shown.
        PurgeCase{"Long",
                  "ABCDEFGHIJKLMNOPQRSTUVWXY",
                  {{LogDetail,
                    "Purge Hex: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54    "
                    "Str: ABCDEFGHIJKLMNOPQRST"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, PurgeWithNothingWaitingLogsNothing) {
  ConnectTo(line.Path());
  engine.Purge();
  EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
}

TEST_F(LinkTest, OfflinePurgeLeavesTheInputAlone) {
  ConnectTo(line.Path());
  ASSERT_TRUE(line.Inject("K"));
  ASSERT_EQ(AwaitWaiting(1), 1);
  engine.OperatingMode = 1;
  engine.Purge();
  EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
  EXPECT_EQ(engine.Port->BytesWaiting(), 1);
}

// A pseudo-terminal has no modem lines; what shows is that the script
// reaches the port (a closed one refuses) and that nothing fails.
TEST_F(LinkTest, SignalScriptDrivesThePortInNormalModeOnly) {
  ConnectTo(line.Path());
  for (const char* script : {"dR", "dr", "DRdr", "x-", ""}) {
    SCOPED_TRACE(script);
    EXPECT_NO_THROW(engine.SignalScript(script));
    EXPECT_TRUE(engine.Port->Active());
    EXPECT_EQ(engine.Port->LastError(), 0) << engine.Port->LastErrorDesc();
  }
  engine.Disconnect();
  // With the port closed, a line change fails, other characters and an
  // empty script do not touch the port.
  EXPECT_ANY_THROW(engine.SignalScript("D"));
  EXPECT_NO_THROW(engine.SignalScript("x"));
  EXPECT_NO_THROW(engine.SignalScript(""));
  for (uint8_t mode : {1, 2}) {
    engine.OperatingMode = mode;
    EXPECT_NO_THROW(engine.SignalScript("dRrD"));
  }
}

class LinkUdpTest : public SimLinkFixture {
 protected:
  void SetUp() override {
    SimLinkFixture::SetUp();
    ASSERT_NE(receiver.Port(), 0);
    engine.UDP_DestAddr = "127.0.0.1";
    engine.UDP_DestPort = receiver.Port();
  }
  TUdpReceiver receiver;
};

TEST_F(LinkUdpTest, DatagramIsTheCharacterAndTheBytes) {
  engine.UDPSend('W', std::string("a\0b", 3));
  EXPECT_EQ(receiver.Next(), std::optional<std::string>(std::string("Wa\0b", 4)));
  EXPECT_EQ(log, (std::vector<LogLine>{{LogDetail, "   UDP Sent: 4 bytes"}}));
  engine.UDPSend('R', "");
  EXPECT_EQ(receiver.Next(), std::optional<std::string>("R"));
  EXPECT_EQ(receiver.Next(50), std::nullopt);
}

TEST_F(LinkUdpTest, FailedSendIsLoggedNotRaised) {
  for (const auto& [host, port] : {std::pair<std::string, int32_t>{"127.0.0.1", 0},
                                   std::pair<std::string, int32_t>{"", receiver.Port()}}) {
    SCOPED_TRACE(host + ":" + std::to_string(port));
    log.clear();
    engine.UDP_DestAddr = host;
    engine.UDP_DestPort = port;
    EXPECT_NO_THROW(engine.UDPSend('R', "x"));
    EXPECT_EQ(log, (std::vector<LogLine>{{LogIndent3, "   UDP Write Fail"}}));
  }
  EXPECT_EQ(receiver.Next(50), std::nullopt);
}

}  // namespace
}  // namespace vantlebld::test
