// Finding the bootloader and identifying the PIC behind it: the serial
// search over a pseudo-terminal whose device end the test plays, the
// offline mode, and identification.
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

const LogLine kSearching{0, "  Searching for PIC ..."};
const LogLine kNotFound{LogAppend, "Not found"};
const LogLine kRcv41{LogDetail, "Rcv:type=41h=\"A\" "};
const LogLine kFound{LogIndent3, "Found:PIC18F252"};
const LogLine kLinkError{LogIndent3, "Communication error *"};
const LogLine kKeepTrying{LogIndent3, " \"*K\" not found, instead found:\"AN\". Keep trying..."};

class SearchTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
  // The log without the wait line of each probe and the identification's
  // details (pinned by their own test).
  LogLines Shown() const {
    LogLines shown;
    for (const auto& l : log) {
      const bool detail =
          l.flags == LogDetail && (l.text.rfind("Wait ", 0) == 0 || l.text.rfind("pic.", 0) == 0 ||
                                   l.text.rfind("StartBldZone", 0) == 0);
      if (!detail) shown.push_back(l);
    }
    return shown;
  }
};

// replies[n - 1] goes on the line while the host waits after probe n.
struct SearchCase {
  const char* name;
  std::vector<std::string> replies;
  LogLines log;  // Shown(), exactly
  int probes;    // each sent with one progress report
  bool ignoreUntilK = false;
  int32_t waitMs = 30;  // one second of search: N = 1000 / waitMs
  uint8_t id = 0xC1;
  std::string before;  // waiting on the line when the search starts
  int closeAt = 0;     // the device end goes away at this probe
  int abortAt = 0;     // the abort button is pressed at this probe
  bool open = true;
  std::vector<int32_t> progress = {};  // the reports, when given
};

// clang-format off
const SearchCase kSearches[] = {
    {.name = "FirstProbeAnswered", .replies = {"AK"}, .log = {kSearching, kRcv41, kFound},
     .probes = 1, .id = 0x55, .progress = {100}},
    {"AnswerAfterSilentProbes", {"", "", "AK"}, {kSearching, kRcv41, kFound}, 3},
    {"EchoIsUnexpected", {"\xC1" "AK"},
     {kSearching, {LogIndent3, " Unexpected chars found: \"\xC1" "AK\""}}, 1},
    {"EchoIgnored", {"\xC1" "AK"},
     {kSearching, {LogDetail, " Ignoring some garbage: \"\xC1\""}, kRcv41, kFound}, 1, true},
    // A lone byte is no answer: it waits for the next probe's bytes.
    {"StrayByteIgnored", {"Z", "AK"},
     {kSearching, {LogDetail, " Ignoring some garbage: \"Z\""}, kRcv41, kFound}, 2, true},
    {"NoKAborts", {"AN", "AK"},
     {kSearching, {LogIndent3, " \"*K\" not found, instead found:\"AN\". Abort."}}, 1},
    // 1000 div 300 = 3: four probes; 200 div 3 rounds down.
    {.name = "NoKToTheEnd", .replies = {"AN", "AN", "AN", "AN"},
     .log = {kSearching, kKeepTrying, kKeepTrying, kKeepTrying, kKeepTrying, kNotFound},
     .probes = 4, .ignoreUntilK = true, .waitMs = 300, .progress = {100, 66, 33, 0}},
    {.name = "LeftoverBytesArePurged", .replies = {"AK"},
     .log = {kSearching, {LogDetail, "Purge Hex: 7E 4B    Str: \x7E" "K"}, kRcv41, kFound},
     .probes = 1, .before = "\x7E" "K"},
    {"UndefinedCode", {"\x7E" "K"},
     {kSearching, {LogDetail, "Rcv:type=7Eh=\"\x7E\" "}, {LogAppend, "unknown pic type: 7Eh"}}, 1},
    {.name = "IntervalLongerThanTheSearch", .log = {kSearching}, .probes = 0, .waitMs = 1500},
    {.name = "DeviceEndGoesAway", .log = {kSearching, kLinkError}, .probes = 2, .closeAt = 2},
    {.name = "Abort", .log = {kSearching}, .probes = 3, .abortAt = 3},
    {.name = "PortNeverOpened", .log = {kSearching, kLinkError}, .probes = 0, .open = false},
};
// clang-format on

TEST_F(SearchTest, SerialSearch) {
  for (const auto& c : kSearches) {
    SCOPED_TRACE(c.name);
    TLine line;
    engine.Disconnect();
    engine.WaitMs = c.waitMs;
    engine.IDCode = c.id;
    engine.AbortRequested = false;
    if (c.open) ConnectTo(line.path);
    log.clear();
    progress.clear();
    if (!c.before.empty()) {
      ASSERT_TRUE(line.Put(c.before));
      ASSERT_EQ(AwaitWaiting(2), 2);
    }
    int probe = 0;
    engine.OnIdle = [&](TVantleBootloader& e) {
      ++probe;
      if (probe == c.abortAt) e.AbortRequested = true;
      if (probe == c.closeAt) line.Close();
      if (probe <= int(c.replies.size())) line.Put(c.replies[probe - 1]);
    };
    const Raised r =
        CatchVantle([&] { EXPECT_EQ(engine.SearchPIC(c.ignoreUntilK), c.log.back() == kFound); });
    EXPECT_FALSE(r.thrown) << r.message;
    const auto shown = Shown();
    EXPECT_TRUE(shown.size() == c.log.size() && InOrder(shown, c.log))
        << testing::PrintToString(log);
    EXPECT_EQ(Count({LogDetail, Format("Wait %d ms", c.waitMs)}), c.probes - (c.abortAt > 0));
    EXPECT_EQ(int(progress.size()), c.probes);
    if (!c.progress.empty()) EXPECT_EQ(progress, c.progress);
    if (c.open && c.closeAt == 0) EXPECT_EQ(line.Sent(c.probes), std::string(c.probes, c.id));
    EXPECT_TRUE(engine.Port->RaiseErrors);
    if (c.log.back() == kFound) EXPECT_EQ(engine.PICType, 0x41);
  }
}

TEST_F(SearchTest, NonPositiveIntervalIsRefusedBeforeAnythingIsSent) {
  TLine line;
  ConnectTo(line.path);
  for (int32_t waitMs : {0, -5}) {
    engine.WaitMs = waitMs;
    EXPECT_TRUE(CatchVantle([&] { engine.SearchPIC(false); }).thrown) << waitMs;
  }
  EXPECT_TRUE(progress.empty() && engine.Port->RaiseErrors);
  EXPECT_EQ(line.Sent(0), "");
}

// Offline mode takes OfflineCode as the answer; the port stays closed (any
// use of it would fail), and errors reach the caller. (UDP mode: with the
// writer's UDP test.)
TEST_F(SearchTest, OfflineModeTakesTheOfflineCode) {
  engine.OperatingMode = 1;
  engine.OfflineCode = 0x41;
  EXPECT_TRUE(engine.SearchPIC(false));
  EXPECT_EQ(engine.PICType, 0x41);
  EXPECT_EQ(log.back(), kFound);
  EXPECT_FALSE(Logged(kSearching));
  engine.OfflineCode = 0x7E;
  EXPECT_EQ(CatchVantle([&] { engine.SearchPIC(true); }).message, "unsupported pic type");
  engine.OperatingMode = 3;
  log.clear();
  EXPECT_FALSE(engine.SearchPIC(false));
  EXPECT_TRUE(log.empty() && progress.empty());
}

TEST_F(SearchTest, IdentifyDerivesTheGeometryAndSizesTheImage) {
  ASSERT_TRUE(engine.IdentifyPIC(0x71));
  EXPECT_EQ(engine.PICType, 0x71);
  EXPECT_EQ(engine.pic.EESize, 1024);
  EXPECT_EQ(engine.FlashData.size(), 16384u);
  EXPECT_EQ(engine.FlashFlag.size(), 16384u);
  EXPECT_EQ(log, (LogLines{{LogDetail,
                            "pic.BytesPerInstrPC=4  pic.BytesPerInstrPIC=3  "
                            "pic.AddrIncrementPIC=2"},
                           {LogDetail, "StartBldZone=3B80  SizeOfBLDBytesPC=1152"},
                           {LogIndent3, "Found:dsPIC30F2010"}}));
  // A family outside the known ones keeps the byte fields it had.
  TPICInfo odd = PicTable()[0x41];
  odd.Code = 0x90;
  odd.Family = 9;
  PicTable()[0x90] = odd;
  log.clear();
  EXPECT_TRUE(engine.IdentifyPIC(0x90));
  EXPECT_TRUE(Logged({LogIndent3, "Internal Error 10"}));
  EXPECT_EQ(engine.pic.BytesPerInstrPC, 4);
}

}  // namespace
}  // namespace vantlebld::test
