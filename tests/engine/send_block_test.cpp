// The block exchange over a real line: a virtual PIC on a pty that answers
// N, rubbish, nothing, or hangs up; and the offline and UDP modes, where
// nothing is awaited.
#include "tests/engine/writer_fixture.h"

namespace vantlebld::test {
namespace {

class SendBlockTest : public WriterFixture {
 protected:
  // Reset code, a unit at 100h and EEPROM bytes: three flash blocks, the
  // slot's last, then the EEPROM.
  void PutProgram() {
    PutWords(0, {0x018A, 0x2900, 0x0000, 0x0000});
    for (int32_t a = 0x100; a < 0x140; ++a)
      Put(a, B({a & 0x3F}));
    engine.EEData[5] = 0xA5;
    engine.EEFlag[5] = kPresent;
  }
};

const LogLine kAck{kBlockLine, "Received \"K\": Ok"};
const LogLine kNak{kBlockLine, "Received \"N\": crc fail"};
const LogLine kFailed{LogIndent6, "Could not write"};
LogLine CatchUp(int attempt) {
  return {kBlockLine, Format("timeout %d, trying to catch up", attempt)};
}

struct FaultCase {
  const char* name;
  TSimFaults faults;
  int sends;                   // blocks put on the line, resends included
  int accepted;                // by the virtual PIC; -1: not counted
  std::vector<LogLine> lines;  // in this order, others between them; text* a prefix
};

TSimFaults Nak(int n) {
  TSimFaults f;
  f.NakFirst = n;
  return f;
}

const FaultCase kCases[] = {
    {"Clean", {}, 4, 4, {kAck, kAck, kAck, kAck}},
    {"TwoNaksThenK", Nak(2), 6, 4, {kNak, kNak, kAck, kAck}},
    {"ThreeNaks", Nak(3), 3, 0, {kNak, kNak, kNak, kFailed}},
    {"Rubbish",
     {.RubbishAt = 1},
     1,
     1,
     {{kBlockLine, "Received rubbish, Hex: 41 58 59   Str: AXY"}, kFailed}},
    {"CatchUp",
     {.DropBytes = 2, .DropBlock = 1},
     5,
     4,
     {CatchUp(1), {kBlockLine, "caught up after 2 bytes"}, kAck}},
    {"Silent", {.SilentFrom = 1}, 3, -1, {CatchUp(1), CatchUp(2), CatchUp(3), kFailed}},
    {"HangUp", {.HangupAt = 2}, 2, 2, {kAck, {LogIndent6, "Communication error *"}, kFailed}},
};

TEST_F(SendBlockTest, WriteUnderLineFaults) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Serial(0x31, c.faults);
    PutProgram();
    engine.ReallocateReset();
    const Raised r = CatchVantle([&] { engine.WriteFlash(true); });
    EXPECT_EQ(engine.LinkStats.BlocksSent, c.sends);
    auto at = log.begin();
    for (const auto& want : c.lines) {
      const bool prefix = want.text.back() == '*';
      const std::string text = prefix ? want.text.substr(0, want.text.size() - 1) : want.text;
      at = std::find_if(at, log.end(), [&](const LogLine& l) {
        return l.flags == want.flags && (prefix ? l.text.rfind(text, 0) == 0 : l.text == text);
      });
      ASSERT_NE(at, log.end()) << want;
      ++at;
    }
    // No catch-up beyond the ones expected, and the port raises errors
    // again for the next job whatever happened.
    const auto catchUps = [](const std::vector<LogLine>& lines) {
      return std::count_if(lines.begin(), lines.end(), [](const LogLine& l) {
        return l.flags == kBlockLine && l.text.rfind("timeout ", 0) == 0;
      });
    };
    EXPECT_EQ(catchUps(log), catchUps(c.lines));
    EXPECT_TRUE(engine.Port->RaiseErrors);
    const bool ok = c.lines.back() != kFailed;
    EXPECT_EQ(r.thrown, !ok);
    EXPECT_EQ(LoggedStarting(LogIndent3, "WRITE OK"), ok);
    if (!ok) {
      EXPECT_EQ(r.message, "Could not write");
      EXPECT_EQ(r.kind, EVantleError::Kind::SerialLink);
    }
    const int32_t differ = Differences();
    if (c.accepted >= 0) EXPECT_EQ(sim->Stats().BlocksAccepted, c.accepted);
    if (ok) {
      EXPECT_EQ(differ, 0);
      EXPECT_TRUE(sim->Stats().HostErrors.empty());
      EXPECT_EQ(sim->Pic().Flash()[0x3E00], 0x8A);  // the slot holds the file's reset code
      EXPECT_EQ(sim->Pic().Flash()[4], 0x20);       // GOTO 1F20h at 0
      EXPECT_EQ(sim->Pic().Flash()[0x13F], 0x3F);
      EXPECT_EQ(sim->Pic().EEPROM()[5], 0xA5);
    }
  }
}

TEST_F(SendBlockTest, OfflineAndUnknownModesOnlyLogTheBlock) {
  for (uint8_t mode : {1, 3}) {
    engine.OperatingMode = mode;
    log.clear();
    EXPECT_FALSE(engine.SendBlock(B({0x41, 0x4B})));
    EXPECT_EQ(log, (std::vector<LogLine>{{kBlockLine, "Hex: 41 4B    Str:AK"}}));
  }
}

TEST_F(SendBlockTest, UdpModeSendsOneDatagramPerBlock) {
  TUdpReceiver receiver;
  ASSERT_NE(receiver.Port(), 0);
  engine.OperatingMode = 2;
  engine.UDP_DestAddr = "127.0.0.1";
  engine.UDP_DestPort = receiver.Port();
  engine.OfflineCode = 0x31;
  ASSERT_TRUE(engine.Connect("", 0, ""));
  ASSERT_TRUE(engine.SearchPIC(false));
  EXPECT_EQ(receiver.Next(), "R");
  Identify(0x31);
  PutProgram();
  engine.ReallocateReset();
  ASSERT_TRUE(engine.WriteFlash(true));
  const auto blocks = Blocks();
  ASSERT_EQ(blocks.size(), 4u);
  for (const auto& block : blocks)
    EXPECT_EQ(receiver.Next(), " " + block);
  EXPECT_EQ(receiver.Next(50), std::nullopt);
  EXPECT_TRUE(LoggedStarting(LogIndent3, "WRITE OK"));
  engine.Disconnect();
}

}  // namespace
}  // namespace vantlebld::test
