// The engine's side of the link, against a link whose far end the test
// plays: opening with the line settings, the control lines, single bytes,
// purging, control-line scripts and the remote reset.
#include "engine/remote_reset.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

const LogLine kTrying{LogDetail, "Trying to connect to: ttyA "};

class LinkTest : public EngineFixture {
 protected:
  TFakeLink& link = Install<TFakeLink>();
};

TEST_F(LinkTest, ConnectSetsTheLineAndTheControlLines) {
  const struct {
    int32_t stopBits, rtsDtr;
    bool controlLines;
    const char* logged;
    const char* controls;  // on connecting, and again on every new rate
  } cases[] = {
      {1, 0, true, "8 N 0 False False", "R0 D0"},
      {2, 1, true, "8 N 2 False False", "R1 D1"},
      {0, 2, true, "8 N 0 False False", ""},   // left as the port opened
      {2, 1, false, "8 N 2 False False", ""},  // no reset circuit to reach
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged + std::string(" / ") + std::to_string(c.rtsDtr));
    link = TFakeLink{};
    link.Caps.ControlLines = c.controlLines;
    engine.StopBits = c.stopBits;
    engine.RTSDTRonConnect = c.rtsDtr;
    log.clear();
    ASSERT_TRUE(engine.Connect("ttyA", 57600));
    const LogLine params{LogDetail, std::string("Com parameters: ") + c.logged};
    EXPECT_EQ(log, (LogLines{kTrying, params, {0, "Connected to ttyA at 57600"}}));
    EXPECT_EQ(link.Controls, c.controls);
    engine.Configure(115200);
    EXPECT_EQ(log.back(), params);
    ASSERT_EQ(link.Settings.size(), 2u);
    EXPECT_EQ(link.Settings[0].Baud, 57600);
    EXPECT_EQ(link.Settings[1].Baud, 115200);
    EXPECT_EQ(link.Settings[1].StopBits, c.stopBits);
    EXPECT_EQ(link.Controls, *c.controls ? c.controls + std::string(" ") + c.controls : "");
  }
}

// A link that cannot open says why; one with nothing to open (offline)
// stays closed, and then neither a new rate nor a reconnection touches it.
TEST_F(LinkTest, FailedOrEmptyOpeningsLeaveTheLinkClosed) {
  link.OpenError = "Cannot open ttyA: No such file or directory";
  try {
    engine.Connect("ttyA", 57600);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(e.what(), link.OpenError);
  }
  EXPECT_EQ(log.back(), (LogLine{LogIndent6, "Could not connect to ttyA at 57600"}));
  link.OpenError.clear();
  link.Opens = false;
  log.clear();
  EXPECT_FALSE(engine.Connect("ttyA", 57600));
  engine.BaudRate = 57600;
  engine.Configure(9600);
  engine.Reconnect("ttyB", 9600);
  EXPECT_FALSE(engine.Disconnect());
  EXPECT_EQ(log, (LogLines{kTrying,
                           {LogDetail, "Com parameters: 8 N 0 False False"},
                           {LogDetail, "Cannot configure (port not active)"},
                           {LogDetail, "Disconnecting..."}}));
  EXPECT_EQ(link.Settings.size(), 1u);
  EXPECT_EQ(link.Controls, "");
  EXPECT_EQ(engine.BaudRate, 57600);
}

TEST_F(LinkTest, ReconnectOpensTheNamedPortAtTheNewRate) {
  ASSERT_TRUE(engine.Connect("ttyA", 115200));
  engine.Reconnect("ttyB", 57600);
  EXPECT_EQ(engine.BaudRate, 57600);
  EXPECT_TRUE(Logged({0, "Connected to ttyB at 57600"}));
  EXPECT_EQ(link.Name(), "ttyB");
  EXPECT_TRUE(engine.Disconnect());
  EXPECT_FALSE(link.IsOpen());
}

// Single bytes go out only where a PIC answers; the log shows them anyway.
TEST_F(LinkTest, BytesGoOutAndComeInUnchanged) {
  for (bool answers : {false, true}) {
    link.Caps.Answers = answers;
    log.clear();
    engine.SendByte(0xC1);
    EXPECT_EQ(log, (LogLines{{LogDetail, "Sent:C1h"}}));
  }
  const std::string text("a\0\xFF\r\n", 5);
  engine.SendString(text);
  EXPECT_EQ(link.Sends, (std::vector<std::string>{"\xC1", text}));
  link.Input = text;
  EXPECT_EQ(engine.ReadAll(), text);
  EXPECT_EQ(engine.ReadAll(), "");
  link.VanishAt = 1;
  const Raised r = CatchVantle([&] { engine.ReadAll(); });
  EXPECT_EQ(r.message, TFakeLink::kGone);
  EXPECT_EQ(r.kind, EVantleError::Kind::SerialLink);
}

TEST_F(LinkTest, SignalScriptPlaysTheControlLinesStepByStep) {
  engine.SignalScript("dRDr-");
  EXPECT_EQ(link.Controls, "D0 R1 D1 R0");
  EXPECT_EQ(link.Waits, std::vector<int32_t>(5, 10));
  link.Caps.ControlLines = false;
  engine.SignalScript("D");
  EXPECT_EQ(link.Controls, "D0 R1 D1 R0");
}

// Pre-codes go out a byte at a time, 1 ms apart: the low eight bits of each
// number up to the first word that is none, ten at most. Then the PIC has
// 100 ms to restart before the script plays. Only blanks: no pre-codes.
TEST_F(LinkTest, RemoteResetSendsThePreCodesThenPlaysTheScript) {
  const struct {
    const char* text;
    std::string sent;
    bool restIgnored = false;
  } cases[] = {
      {"128 80h", "\x80\x80"},
      {"300;$2d", "\x2C\x2D"},  // 300 = 12Ch
      {"1,2 zz 3", "\x01\x02"},
      {"zz 5", ""},
      {"1 2 3 4 5 6 7 8 9 10 11 12", "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A", true},
      {" \t ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    link = TFakeLink{};
    log.clear();
    RemoteReset(engine, c.text, "R");
    std::vector<std::string> bytes;
    for (char b : c.sent)
      bytes.push_back(std::string(1, b));
    EXPECT_EQ(link.Sends, bytes);
    std::vector<int32_t> waits(c.sent.size(), 1);
    if (c.text[0] != ' ') waits.push_back(100);
    waits.push_back(10);  // the script's one step
    EXPECT_EQ(link.Waits, waits);
    EXPECT_EQ(link.Controls, "R1");
    EXPECT_EQ(Logged({LogIndent6, "PreCodes: only the first 10 codes are sent, 2 more ignored"}),
              c.restIgnored);
  }
}

TEST_F(LinkTest, PurgeShowsWhatItDiscards) {
  const std::pair<std::string, LogLines> cases[] = {
      {"", {}},
      {"K", {{LogDetail, "Got an 'K' on purge."}, {LogDetail, "Purge Hex: 4B    Str: K"}}},
      {"KK", {{LogDetail, "Purge Hex: 4B 4B    Str: KK"}}},
      // Only the first 20 bytes are shown.
      {"ABCDEFGHIJKLMNOPQRSTUVWXY",
       {{LogDetail,
         "Purge Hex: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54    "
         "Str: ABCDEFGHIJKLMNOPQRST"}}},
  };
  for (const auto& [waiting, logged] : cases) {
    link.Input = waiting;
    log.clear();
    engine.Purge();
    EXPECT_EQ(log, logged) << waiting;
    EXPECT_EQ(link.Input, "");
  }
}

}  // namespace
}  // namespace vantlebld::test
