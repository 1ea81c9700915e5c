// Finding the bootloader and identifying the PIC behind it: the serial
// search against a virtual PIC (or a scripted line) over a real
// pseudo-terminal, the offline and UDP modes, and identification.
#include <cerrno>
#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "engine/format.h"
#include "tests/engine/sim_link_fixture.h"

namespace vantlebld::test {
namespace {

const LogLine kFound18F252{LogIndent3, "Found:PIC18F252"};
const LogLine kUnknown7E{LogAppend, "unknown pic type: 7Eh"};

class SearchTest : public SimLinkFixture {
 protected:
  std::vector<LogLine> Problems() const {
    std::vector<LogLine> lines;
    for (const auto& l : log)
      if (l.flags == LogIndent3 && l.text.rfind("Found:", 0) != 0) lines.push_back(l);
    return lines;
  }
};

TEST_F(SearchTest, AnswerToTheFirstProbeIdentifiesThePic) {
  ConnectTo(Serve(0x41).Path());
  EXPECT_TRUE(engine.SearchPIC(false));
  const std::vector<LogLine> expected = {
      kSearching,
      {LogDetail, "Wait 30 ms"},
      {LogDetail, "Rcv:type=41h=\"A\" "},
      {LogDetail, "pic.BytesPerInstrPC=2  pic.BytesPerInstrPIC=2  pic.AddrIncrementPIC=2"},
      {LogDetail, "StartBldZone=7DF8  SizeOfBLDBytesPC=520"},
      kFound18F252,
  };
  EXPECT_EQ(log, expected);
  EXPECT_EQ(progress, std::vector<int32_t>{100});
  EXPECT_EQ(engine.PICType, 0x41);
  EXPECT_EQ(engine.pic.Name, "PIC18F252");
  EXPECT_TRUE(engine.Port->RaiseErrors);
  EXPECT_EQ(HangUpAndFinish(), TPtyServer::TEnd::HostClosed);
  EXPECT_TRUE(sim->Pic().Identified());
  EXPECT_EQ(sim->Stats().ActivationBytes, 1);
}

// The activation byte is the engine's IDCode, not a fixed C1h.
TEST_F(SearchTest, ProbesWithTheConfiguredActivationByte) {
  TSimOptions o;
  o.ActivationByte = 0x55;
  ConnectTo(Serve(0x41, o).Path());
  engine.IDCode = 0x55;
  EXPECT_TRUE(engine.SearchPIC(false));
  EXPECT_EQ(progress.size(), 1u);
  EXPECT_TRUE(Logged(kFound18F252));
}

// The firmware is deaf for a while after its reset: every probe before
// that goes unheard, the first one after it is answered.
TEST_F(SearchTest, FirstProbeAfterTheFirmwareListensIsAnswered) {
  TSimOptions o;
  o.ListenAfterMs = 300;
  engine.SearchSeconds = 3;
  ConnectTo(Serve(0x41, o).Path());
  EXPECT_TRUE(engine.SearchPIC(false));
  EXPECT_TRUE(Logged(kFound18F252));
  EXPECT_FALSE(Logged(kNotFound));
  EXPECT_EQ(HangUpAndFinish(), TPtyServer::TEnd::HostClosed);
  EXPECT_EQ(sim->Stats().ActivationBytes, 1);
  EXPECT_GE(sim->Stats().BytesBeforeListening, 1);
  // One probe per progress report: the unheard ones and the answered one.
  EXPECT_EQ(static_cast<int32_t>(progress.size()), sim->Stats().BytesBeforeListening + 1);
}

struct ProbeCount {
  int32_t seconds, waitMs;
  std::vector<int32_t> progress;  // one report per probe: N + 1 of them
};
void PrintTo(const ProbeCount& p, std::ostream* os) {
  *os << p.seconds << "s/" << p.waitMs << "ms";
}

class SearchProbeCountTest : public SearchTest, public ::testing::WithParamInterface<ProbeCount> {};

TEST_P(SearchProbeCountTest, SilentPicGetsNPlusOneProbesThenNotFound) {
  const ProbeCount& p = GetParam();
  TSimOptions o;
  o.Faults.NoAnswer = true;
  engine.SearchSeconds = p.seconds;
  engine.WaitMs = p.waitMs;
  ConnectTo(Serve(0x41, o).Path());
  EXPECT_FALSE(engine.SearchPIC(false));
  EXPECT_EQ(progress, p.progress);
  const auto probes = static_cast<int>(p.progress.size());
  EXPECT_EQ(Count({LogDetail, Format("Wait %d ms", p.waitMs)}), probes);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), kSearching);
  EXPECT_EQ(log.back(), kNotFound);
  EXPECT_EQ(Count(kNotFound), 1);
  EXPECT_TRUE(Problems().empty()) << testing::PrintToString(Problems());
  EXPECT_TRUE(engine.Port->RaiseErrors);
  EXPECT_EQ(HangUpAndFinish(), TPtyServer::TEnd::HostClosed);
  EXPECT_EQ(sim->Stats().ActivationBytes, probes);
}

std::vector<int32_t> CountDown(int32_t n) {
  std::vector<int32_t> v;
  for (int32_t k = n; k >= 0; --k)
    v.push_back(k * 100 / n);
  return v;
}

INSTANTIATE_TEST_SUITE_P(Intervals, SearchProbeCountTest,
                         ::testing::Values(ProbeCount{1, 50, CountDown(20)},
                                           // 1000 div 300 = 3; 200 div 3 rounds down.
                                           ProbeCount{1, 300, {100, 66, 33, 0}}));

TEST_F(SearchTest, IntervalLongerThanTheSearchSendsNothing) {
  engine.WaitMs = 1500;
  ConnectTo(Serve(0x41).Path());
  EXPECT_FALSE(engine.SearchPIC(false));
  EXPECT_EQ(log, std::vector<LogLine>{kSearching});
  EXPECT_TRUE(progress.empty());
  EXPECT_TRUE(engine.Port->RaiseErrors);
  engine.Disconnect();
  sim->Stop();
  EXPECT_EQ(sim->Stats().ActivationBytes + sim->Stats().BytesBeforeListening, 0);
}

TEST_F(SearchTest, NonPositiveIntervalIsRefusedBeforeAnythingIsSent) {
  ConnectTo(Serve(0x41).Path());
  for (int32_t waitMs : {0, -5}) {
    SCOPED_TRACE(waitMs);
    engine.WaitMs = waitMs;
    const Raised r = CatchVantle([&] { engine.SearchPIC(false); });
    EXPECT_TRUE(r.thrown);
    EXPECT_TRUE(engine.Port->RaiseErrors);
    EXPECT_TRUE(progress.empty());
  }
  engine.Disconnect();
  sim->Stop();
  EXPECT_EQ(sim->Stats().ActivationBytes, 0);
}

// What the firmware stand-in sends around its answer, with and without
// ignoreUntilK. Everything arrives within the first probe's wait.
struct FaultCase {
  const char* name;
  TSimFaults faults;
  bool ignoreUntilK;
  LogLine line;  // the line that reports the extra bytes
};
void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class SearchFaultTest : public SearchTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SearchFaultTest, ExtraBytesBeforeTheAnswer) {
  const FaultCase& c = GetParam();
  TSimOptions o;
  o.Faults = c.faults;
  ConnectTo(Serve(0x41, o).Path());
  const bool found = engine.SearchPIC(c.ignoreUntilK);
  EXPECT_EQ(found, c.ignoreUntilK);
  EXPECT_EQ(Count(c.line), 1) << testing::PrintToString(log);
  EXPECT_EQ(Logged(kFound18F252), c.ignoreUntilK);
  if (c.ignoreUntilK) {
    EXPECT_TRUE(Logged({LogDetail, "Rcv:type=41h=\"A\" "}));
    EXPECT_EQ(engine.PICType, 0x41);
  } else {
    EXPECT_EQ(log.back(), c.line);
    EXPECT_TRUE(Starting("Rcv:").empty());
  }
  EXPECT_EQ(progress.size(), 1u);
  EXPECT_FALSE(Logged(kNotFound));
  EXPECT_TRUE(engine.Port->RaiseErrors);
}

TSimFaults Echo() {
  TSimFaults f;
  f.Echo = true;
  return f;
}
TSimFaults Garbage(const std::string& text) {
  TSimFaults f;
  f.GarbageBeforeId = text;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    SimFaults, SearchFaultTest,
    ::testing::Values(
        FaultCase{"EchoUnexpected",
                  Echo(),
                  false,
                  {LogIndent3,
                   " Unexpected chars found: \"\xC1"
                   "AK\""}},
        FaultCase{"EchoIgnored", Echo(), true, {LogDetail, " Ignoring some garbage: \"\xC1\""}},
        FaultCase{"GarbageUnexpected",
                  Garbage("XY"),
                  false,
                  {LogIndent3, " Unexpected chars found: \"XYAK\""}},
        FaultCase{
            "GarbageIgnored", Garbage("XY"), true, {LogDetail, " Ignoring some garbage: \"XY\""}},
        FaultCase{"OneByteUnexpected",
                  Garbage("Z"),
                  false,
                  {LogIndent3, " Unexpected chars found: \"ZAK\""}},
        FaultCase{
            "OneByteIgnored", Garbage("Z"), true, {LogDetail, " Ignoring some garbage: \"Z\""}}),
    [](const auto& info) { return std::string(info.param.name); });

// An answer that comes back later than the next probe is still taken.
TEST_F(SearchTest, LateAnswerIsTakenByALaterProbe) {
  TSimOptions o;
  o.Faults.AnswerDelayMs = 200;
  ConnectTo(Serve(0x41, o).Path());
  EXPECT_TRUE(engine.SearchPIC(false));
  EXPECT_TRUE(Logged(kFound18F252));
  EXPECT_GE(progress.size(), 2u);
  EXPECT_TRUE(Problems().empty()) << testing::PrintToString(Problems());
}

// Byte sequences from a scripted line: reply n answers probe n.
struct ScriptCase {
  const char* name;
  std::vector<std::string> replies;
  bool ignoreUntilK;
  bool found;
  size_t probes;
  std::vector<LogLine> lines;  // logged, in this order, among the others
};
void PrintTo(const ScriptCase& c, std::ostream* os) {
  *os << c.name;
}

class SearchScriptTest : public SearchTest, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(SearchScriptTest, AnswersThatAreNotJustCodeAndK) {
  const ScriptCase& c = GetParam();
  TScriptedLine line(c.replies);
  ConnectTo(line.Path());
  EXPECT_EQ(engine.SearchPIC(c.ignoreUntilK), c.found);
  EXPECT_EQ(progress.size(), c.probes);
  std::vector<LogLine> seen;
  for (const auto& l : log)
    if (std::find(c.lines.begin(), c.lines.end(), l) != c.lines.end()) seen.push_back(l);
  EXPECT_EQ(seen, c.lines) << testing::PrintToString(log);
  EXPECT_EQ(Logged(kFound18F252), c.found);
  EXPECT_FALSE(Logged(kNotFound));
  EXPECT_TRUE(engine.Port->RaiseErrors);
  EXPECT_EQ(line.AwaitReceived(c.probes), std::string(c.probes, '\xC1'));
}

const LogLine kKeepTrying{LogIndent3, " \"*K\" not found, instead found:\"AN\". Keep trying..."};

INSTANTIATE_TEST_SUITE_P(Scripts, SearchScriptTest,
                         ::testing::Values(
                             // A lone byte is never an answer: it waits for the next probe's
                             // bytes, and the three then count as more than an answer.
                             ScriptCase{"StrayByteUnexpected",
                                        {"Z", "AK"},
                                        false,
                                        false,
                                        2,
                                        {{LogIndent3, " Unexpected chars found: \"ZAK\""}}},
                             ScriptCase{"StrayByteIgnored",
                                        {"Z", "AK"},
                                        true,
                                        true,
                                        2,
                                        {{LogDetail, " Ignoring some garbage: \"Z\""},
                                         {LogDetail, "Rcv:type=41h=\"A\" "},
                                         kFound18F252}},
                             ScriptCase{
                                 "NoKAborts",
                                 {"AN", "AK"},
                                 false,
                                 false,
                                 1,
                                 {{LogIndent3, " \"*K\" not found, instead found:\"AN\". Abort."}}},
                             ScriptCase{"NoKKeepsTrying",
                                        {"AN", "AN", "AK"},
                                        true,
                                        true,
                                        3,
                                        {kKeepTrying, kKeepTrying, kFound18F252}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SearchTest, WithoutKUntilTheEndIsNotFound) {
  TScriptedLine line(std::vector<std::string>(20, "AN"));
  engine.WaitMs = 300;  // N = 3: four probes
  ConnectTo(line.Path());
  EXPECT_FALSE(engine.SearchPIC(true));
  EXPECT_EQ(progress.size(), 4u);
  EXPECT_EQ(Count(kKeepTrying), 4);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), kNotFound);
}

// Bytes left on the line from before the search are not taken for an
// answer: the search starts from a purged input.
TEST_F(SearchTest, LeftoverBytesArePurgedFirst) {
  TScriptedLine line({"AK"});
  ConnectTo(line.Path());
  ASSERT_TRUE(
      line.Inject("\x7E"
                  "K"));
  ASSERT_EQ(AwaitWaiting(2), 2);
  EXPECT_TRUE(engine.SearchPIC(false));
  EXPECT_EQ(engine.PICType, 0x41);
  EXPECT_TRUE(Logged({LogDetail,
                      "Purge Hex: 7E 4B    Str: \x7E"
                      "K"}));
  EXPECT_FALSE(Logged(kUnknown7E));
}

// The firmware answers with a code the engine's table does not define.
TEST_F(SearchTest, UndefinedCodeFromTheLineEndsTheSearchQuietly) {
  ConnectTo(Serve(0x7E, {}, 0x41).Path());
  const Raised r = CatchVantle([&] { EXPECT_FALSE(engine.SearchPIC(false)); });
  EXPECT_FALSE(r.thrown) << r.message;
  EXPECT_EQ(log.back(), kUnknown7E);
  EXPECT_TRUE(Logged({LogDetail, "Rcv:type=7Eh=\"\x7E\" "}));
  EXPECT_TRUE(Starting("Found:").empty());
  EXPECT_FALSE(Logged(kNotFound));
  EXPECT_EQ(progress.size(), 1u);
  EXPECT_TRUE(engine.Port->RaiseErrors);
}

// The abort button sets the flag while the probe's idle callback runs;
// abortAt 0: the flag was already set when the search began.
class SearchAbortTest : public SearchTest, public ::testing::WithParamInterface<int> {};

TEST_P(SearchAbortTest, AbortEndsTheSearchWithinOneProbe) {
  const int abortAt = GetParam();
  TSimOptions o;
  o.Faults.NoAnswer = true;
  ConnectTo(Serve(0x41, o).Path());
  int idles = 0;
  engine.AbortRequested = abortAt == 0;
  engine.OnIdle = [&](TVantleBootloader& e) {
    if (++idles == abortAt) e.AbortRequested = true;
  };
  EXPECT_FALSE(engine.SearchPIC(false));
  const int probes = std::max(abortAt, 1);
  EXPECT_EQ(idles, probes);
  EXPECT_EQ(static_cast<int>(progress.size()), probes);
  EXPECT_EQ(Count({LogDetail, "Wait 30 ms"}), probes - 1);
  EXPECT_FALSE(Logged(kNotFound));
  EXPECT_TRUE(Problems().empty()) << testing::PrintToString(Problems());
  EXPECT_TRUE(engine.Port->RaiseErrors);
  EXPECT_EQ(HangUpAndFinish(), TPtyServer::TEnd::HostClosed);
  EXPECT_EQ(sim->Stats().ActivationBytes, probes);
}

INSTANTIATE_TEST_SUITE_P(Probes, SearchAbortTest, ::testing::Values(0, 1, 3));

// The PIC's end of the line goes away between two probes: the search
// says why and stops, instead of probing a dead line to the end.
TEST_F(SearchTest, LineClosedMidSearchEndsItWithTheReason) {
  TSimOptions o;
  o.Faults.NoAnswer = true;
  ConnectTo(Serve(0x41, o).Path());
  int idles = 0;
  engine.OnIdle = [&](TVantleBootloader&) {
    if (++idles == 2) sim.reset();  // closes the pseudo-terminal's master
  };
  EXPECT_FALSE(engine.SearchPIC(false));
  const auto errors = Starting("Communication error ");
  ASSERT_EQ(errors.size(), 1u) << testing::PrintToString(log);
  EXPECT_EQ(errors[0].flags, LogIndent3);
  EXPECT_EQ(progress.size(), 2u);
  EXPECT_FALSE(Logged(kNotFound));
  EXPECT_TRUE(engine.Port->RaiseErrors);
}

// The firmware hangs up by itself: activation byte 00h, so once it has
// answered (too late for this search) the next probes make up a block of
// 16F length 4, at whose end it hangs up.
TEST_F(SearchTest, PicHangingUpMidSearchEndsItWithTheReason) {
  TSimOptions o;
  o.ActivationByte = 0x00;
  o.Faults.AnswerDelayMs = 600000;
  o.Faults.HangupAt = 1;
  engine.IDCode = 0x00;
  engine.SearchSeconds = 3;  // N = 100
  ConnectTo(Serve(0x31, o).Path());
  EXPECT_FALSE(engine.SearchPIC(false));
  EXPECT_EQ(Starting("Communication error ").size(), 1u) << testing::PrintToString(log);
  EXPECT_FALSE(Logged(kNotFound));
  EXPECT_GE(progress.size(), 5u);
  EXPECT_LT(progress.size(), 101u);
  EXPECT_EQ(sim->Finish(), TPtyServer::TEnd::HungUp);
  EXPECT_EQ(sim->Stats().BlocksReceived, 1);
}

TEST_F(SearchTest, PortNeverOpenedEndsTheSearchWithTheReason) {
  EXPECT_FALSE(engine.SearchPIC(false));
  const auto errors = Starting("Communication error ");
  ASSERT_EQ(errors.size(), 1u) << testing::PrintToString(log);
  EXPECT_EQ(errors[0].flags, LogIndent3);
  EXPECT_TRUE(progress.empty());
  EXPECT_TRUE(engine.Port->RaiseErrors);
}

// Offline and UDP modes take OfflineCode as the answer; nothing is
// received, and errors are not caught.
class SearchModesTest : public SimLinkFixture {
 protected:
  TUdpReceiver receiver;
};

TEST_F(SearchModesTest, OfflineIdentifiesTheOfflineCodeWithoutTheLine) {
  engine.OperatingMode = 1;
  engine.OfflineCode = 0x41;
  EXPECT_TRUE(engine.SearchPIC(false));  // the port is closed: any use would fail
  EXPECT_EQ(engine.PICType, 0x41);
  EXPECT_TRUE(Logged(kFound18F252));
  EXPECT_TRUE(Starting("  Searching").empty());
  EXPECT_TRUE(progress.empty());
}

TEST_F(SearchModesTest, UdpSendsOneResetDatagramThenIdentifies) {
  ASSERT_NE(receiver.Port(), 0);
  engine.OperatingMode = 2;
  engine.OfflineCode = 0x41;
  engine.UDP_DestAddr = "127.0.0.1";
  engine.UDP_DestPort = receiver.Port();
  EXPECT_TRUE(engine.SearchPIC(true));
  EXPECT_EQ(receiver.Next(), std::optional<std::string>("R"));
  EXPECT_EQ(receiver.Next(50), std::nullopt);
  EXPECT_EQ(engine.PICType, 0x41);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), LogLine({LogDetail, "   UDP Sent: 1 bytes"}));
  EXPECT_TRUE(Logged(kFound18F252));
}

TEST_F(SearchModesTest, UdpSendFailureIsLoggedAndIdentificationGoesOn) {
  engine.OperatingMode = 2;
  engine.OfflineCode = 0x41;
  engine.UDP_DestAddr = "127.0.0.1";
  engine.UDP_DestPort = 0;
  EXPECT_TRUE(engine.SearchPIC(false));
  EXPECT_TRUE(Logged({LogIndent3, "   UDP Write Fail"}));
  EXPECT_TRUE(Logged(kFound18F252));
}

TEST_F(SearchModesTest, UndefinedOfflineCodeReachesTheCaller) {
  for (uint8_t mode : {1, 2}) {
    SCOPED_TRACE(int{mode});
    log.clear();
    engine.OperatingMode = mode;
    engine.OfflineCode = 0x7E;
    engine.UDP_DestAddr = "127.0.0.1";
    engine.UDP_DestPort = receiver.Port();
    const Raised r = CatchVantle([&] { engine.SearchPIC(true); });
    EXPECT_TRUE(r.thrown);
    EXPECT_EQ(r.message, "unsupported pic type");
    EXPECT_TRUE(Logged(kUnknown7E));
  }
  // The UDP mode sent its datagram before it looked the code up.
  EXPECT_EQ(receiver.Next(), std::optional<std::string>("R"));
}

TEST_F(SearchModesTest, UnknownModeFindsNothing) {
  engine.OperatingMode = 3;
  engine.OfflineCode = 0x41;
  EXPECT_FALSE(engine.SearchPIC(false));
  EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
}

// Identification: what is derived from one model of each family.
class SearchIdentifyTest : public SimLinkFixture, public ::testing::WithParamInterface<int> {};

TEST_P(SearchIdentifyTest, DerivesSizesByFamily) {
  const auto code = static_cast<uint8_t>(GetParam());
  const TPICInfo e = PicTable()[code];
  ASSERT_EQ(e.Code, code);
  const bool ds = e.Family == kFamilyDsPIC30 || e.Family == kFamilyDsPIC33;
  const int perPC = ds ? 4 : 2;
  const int perPIC = ds ? 3 : 2;
  const int increment = e.Family == kFamily16F ? 1 : 2;
  const int32_t zone = perPC * (e.ErasePageInstr * e.BldPages + e.BldSlotInstr);

  engine.PICType = 0;
  EXPECT_TRUE(engine.IdentifyPIC(code));
  EXPECT_EQ(engine.PICType, code);
  EXPECT_EQ(engine.pic.Name, e.Name);
  EXPECT_EQ(engine.pic.Family, e.Family);
  EXPECT_EQ(engine.pic.FlashSize, e.FlashSize);
  EXPECT_EQ(engine.pic.BytesPerInstrPC, perPC);
  EXPECT_EQ(engine.pic.BytesPerInstrPIC, perPIC);
  EXPECT_EQ(engine.pic.AddrIncrementPIC, increment);
  EXPECT_EQ(engine.pic.SizeOfBLDBytesPC, zone);
  EXPECT_EQ(engine.pic.StartBldZone, e.FlashSize - zone);
  EXPECT_EQ(engine.FlashData.size(), static_cast<size_t>(e.FlashSize));
  EXPECT_EQ(engine.FlashFlag.size(), static_cast<size_t>(e.FlashSize));
  const std::vector<LogLine> expected = {
      {LogDetail, Format("pic.BytesPerInstrPC=%d  pic.BytesPerInstrPIC=%d  pic.AddrIncrementPIC=%d",
                         perPC, perPIC, increment)},
      {LogDetail, Format("StartBldZone=%X  SizeOfBLDBytesPC=%d", e.FlashSize - zone, zone)},
      {LogIndent3, "Found:" + e.Name},
  };
  EXPECT_EQ(log, expected);
}

// One model of each family letter: B, C, J, K, D, E.
INSTANTIATE_TEST_SUITE_P(Families, SearchIdentifyTest,
                         ::testing::Values(0x31, 0x41, 0x51, 0x61, 0x71, 0x81),
                         [](const auto& info) { return Format("Code%02Xh", info.param); });

TEST_F(SearchModesTest, ResizingKeepsTheImageBytesThatFit) {
  ASSERT_TRUE(engine.IdentifyPIC(0x33));  // 8192 bytes
  engine.FlashData[100] = 0xAB;
  engine.FlashFlag[100] = kPresent;
  ASSERT_TRUE(engine.IdentifyPIC(0x41));  // 32768 bytes
  ASSERT_EQ(engine.FlashData.size(), 32768u);
  EXPECT_EQ(engine.FlashData[100], 0xAB);
  EXPECT_EQ(engine.FlashFlag[100], kPresent);
  EXPECT_EQ(engine.FlashData[20000], 0);
  EXPECT_EQ(engine.FlashFlag[20000], 0);
  ASSERT_TRUE(engine.IdentifyPIC(0x33));
  EXPECT_EQ(engine.FlashData.size(), 8192u);
  EXPECT_EQ(engine.FlashData[100], 0xAB);
}

TEST_F(SearchModesTest, FamilyOutsideTheKnownOnesKeepsTheByteFields) {
  ASSERT_TRUE(engine.IdentifyPIC(0x41));  // 2, 2, 2
  TPICInfo odd;
  odd.Code = 0x90;
  odd.Name = "ODD";
  odd.Family = 9;
  odd.FlashSize = 1024;
  odd.ErasePageInstr = 32;
  odd.BldPages = 1;
  odd.BldSlotInstr = 4;
  PicTable()[0x90] = odd;
  log.clear();
  EXPECT_TRUE(engine.IdentifyPIC(0x90));
  EXPECT_TRUE(Logged({LogIndent3, "Internal Error 10"}));
  EXPECT_EQ(engine.pic.BytesPerInstrPC, 2);
  EXPECT_EQ(engine.pic.SizeOfBLDBytesPC, 72);
  EXPECT_EQ(engine.pic.StartBldZone, 952);
  EXPECT_TRUE(Logged({LogIndent3, "Found:ODD"}));
}

TEST_F(SearchModesTest, OddSizesFailTheAssertion) {
  TPICInfo odd = PicTable()[0x41];
  odd.Code = 0x91;
  odd.FlashSize = 32767;
  PicTable()[0x91] = odd;
  const Raised r = CatchVantle([&] { engine.IdentifyPIC(0x91); });
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.kind, EVantleError::Kind::Assertion);
}

TEST_F(SearchModesTest, UndefinedCodesAreRefused) {
  for (uint8_t code : {0x00, 0x7E}) {
    SCOPED_TRACE(int{code});
    log.clear();
    const Raised r = CatchVantle([&] { engine.IdentifyPIC(code); });
    EXPECT_TRUE(r.thrown);
    EXPECT_EQ(r.message, "unsupported pic type");
    EXPECT_EQ(log, (std::vector<LogLine>{{LogAppend, Format("unknown pic type: %02Xh", code)}}));
  }
  // Without a loaded table no code is defined.
  PicTableLoaded() = false;
  log.clear();
  EXPECT_TRUE(CatchVantle([&] { engine.IdentifyPIC(0x41); }).thrown);
  EXPECT_EQ(log, (std::vector<LogLine>{{LogAppend, "unknown pic type: 41h"}}));
}

}  // namespace
}  // namespace vantlebld::test
