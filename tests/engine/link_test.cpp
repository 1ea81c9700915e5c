// The engine's side of the link, against a link whose far end the test
// plays: failed openings, control-line scripts and the remote reset;
// finding the bootloader and identifying the PIC behind it, the search
// scripted probe by probe. The line settings and control lines of a job:
// jobs_test.cpp.
#include "engine/remote_reset.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

class LinkTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
  // The log without the identification's details (pinned by their own
  // test) and the wait line of each probe (the link records the waits).
  LogLines Shown() const {
    LogLines shown;
    for (const auto& l : log)
      if (!l.detail || !(l.text.starts_with("Wait ") || l.text.starts_with("pic.") ||
                         l.text.starts_with("StartBldZone")))
        shown.push_back(l);
    return shown;
  }
  TFakeLink& link = Install<TFakeLink>();
};

// A link that cannot open says why; one with nothing to open (offline)
// stays closed, and then a new rate does not touch it.
TEST_F(LinkTest, FailedOrEmptyOpeningsLeaveTheLinkClosed) {
  link.OpenError = "Cannot open ttyA: No such file or directory";
  try {
    engine.Connect("ttyA", 57600);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(e.what(), link.OpenError);
  }
  EXPECT_EQ(log.back(), (Problem("Could not connect to ttyA at 57600")));
  link.OpenError.clear();
  link.Opens = false;
  EXPECT_FALSE(engine.Connect("ttyA", 57600));
  engine.Configure(9600);
  EXPECT_FALSE(engine.Disconnect());
  EXPECT_EQ(link.Settings.size(), 1u);
  EXPECT_EQ(link.Controls, "");
}

// Pre-codes go out a byte at a time, 1 ms apart: the low eight bits of each
// number up to the first word that is none, ten at most. Then the PIC has
// 100 ms to restart before the script plays its control lines, 10 ms a
// step (a '-' only waits). Only blanks: no pre-codes.
TEST_F(LinkTest, RemoteResetSendsThePreCodesThenPlaysTheScript) {
  const struct {
    const char* text;
    std::string sent;
    bool restIgnored = false;
  } cases[] = {
      {"300;$2d", "\x2C\x2D"},  // 300 = 12Ch
      {"1,2 zz 3", "\x01\x02"},
      {"1 2 3 4 5 6 7 8 9 10 11 12", "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A", true},
      {" \t ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    link = TFakeLink{};
    log.clear();
    RemoteReset(engine, c.text, "dRDr-");
    std::vector<std::string> bytes;
    for (char b : c.sent)
      bytes.push_back(std::string(1, b));
    EXPECT_EQ(link.Sends, bytes);
    std::vector<int32_t> waits(c.sent.size(), 1);
    if (c.text[0] != ' ') waits.push_back(100);
    waits.insert(waits.end(), 5, 10);
    EXPECT_EQ(link.Waits, waits);
    EXPECT_EQ(link.Controls, "D0 R1 D1 R0");
    EXPECT_EQ(Logged(Problem("PreCodes: only the first 10 codes are sent, 2 more ignored")),
              c.restIgnored);
  }
}

// --- The search ---

const LogLine kSearching = Plain("  Searching for PIC ...");
const LogLine kNotFound = Joined("Not found");
const LogLine kRcv41 = Plain("Rcv:type=41h=\"A\" ", kDetail);
const LogLine kFound = Step("Found:PIC18F252");
const LogLine kGone = Step(TFakeLink::kGone);
const LogLine kKeepTrying = Step(" \"*K\" not found, instead found:\"AN\". Keep trying...");

// replies[n - 1] arrives with probe n.
struct SearchCase {
  const char* name;
  std::vector<std::string> replies;
  LogLines log;  // Shown(), exactly
  int probes;    // each sent with one progress report
  bool ignoreUntilK = false;
  int32_t waitMs = 30;  // one second of search: N = 1000 / waitMs, N + 1 probes
  uint8_t id = 0xC1;
  std::string before;                  // waiting on the line when the search starts
  int vanishAt = 0;                    // the device end goes away at this probe
  int abortAt = 0;                     // the abort button is pressed at this probe
  std::vector<int32_t> progress = {};  // the reports, when given
};

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += text;
  return out;
}

// clang-format off
const SearchCase kSearches[] = {
    {.name = "FirstProbeAnswered", .replies = {"AK"}, .log = {kSearching, kRcv41, kFound},
     .probes = 1, .id = 0x55, .progress = {100}},
    {"AnswerAfterSilentProbes", {"", "", "AK"}, {kSearching, kRcv41, kFound}, 3},
    // An answer may come in pieces over several probes.
    {"AnswerInPieces", {"A", "K"}, {kSearching, kRcv41, kFound}, 2},
    {"EchoIgnored", {"\xC1" "AK"},
     {kSearching, Plain(" Ignoring some garbage: Hex: C1   Str: .", kDetail), kRcv41, kFound}, 1, true},
    // What the device sent reaches the log escaped: an escape sequence as
    // dots, a flood cut to its first bytes.
    {"TerminalCodesShownEscaped", {"\x1B[2J" "\x07\xFF"},
     {kSearching, Step(" Unexpected chars found: Hex: 1B 5B 32 4A 07 FF   Str: .[2J..")}, 1},
    {"FloodCut", {std::string(40, 'x')},
     {kSearching, Step(" Unexpected chars found: Hex: " + Repeat("78 ", 32) + "  Str: " +
                       std::string(32, 'x') + " ... (40 bytes in all)")}, 1},
    {"NoKAborts", {"AN", "AK"},
     {kSearching, Step(" \"*K\" not found, instead found:\"AN\". Abort.")}, 1},
    // 1000 div 300 = 3: four probes; 200 div 3 rounds down.
    {.name = "NoKToTheEnd", .replies = {"AN", "AN", "AN", "AN"},
     .log = {kSearching, kKeepTrying, kKeepTrying, kKeepTrying, kKeepTrying, kNotFound},
     .probes = 4, .ignoreUntilK = true, .waitMs = 300, .progress = {100, 66, 33, 0}},
    {.name = "LeftoverBytesArePurged", .replies = {"AK"},
     .log = {kSearching, Plain("Purge Hex: 7E 4B    Str: \x7E" "K", kDetail), kRcv41, kFound},
     .probes = 1, .before = "\x7E" "K"},
    {"UndefinedCode", {"\x7E" "K"},
     {kSearching, Plain("Rcv:type=7Eh=\"\x7E\" ", kDetail), Joined("unknown pic type: 7Eh")}, 1},
    {.name = "DeviceEndGoesAway", .log = {kSearching, kGone}, .probes = 2, .vanishAt = 2},
    {.name = "Abort", .log = {kSearching}, .probes = 3, .abortAt = 3},
};
// clang-format on

TEST_F(LinkTest, SearchOnALinkThatAnswers) {
  const auto sink = engine.OnEvent;
  for (const auto& c : kSearches) {
    SCOPED_TRACE(c.name);
    link = TFakeLink{};
    link.Replies = c.replies;
    link.Input = c.before;
    link.VanishAt = c.vanishAt;
    engine.WaitMs = c.waitMs;
    engine.IDCode = c.id;
    // Each search its own stop request, as each job gets one.
    auto stop = std::make_shared<TCancelToken>();
    engine.Cancel = stop;
    // The person presses Abort Search as the probe goes out; the sink is
    // the fixture's, never the last case's (whose link is gone).
    engine.OnEvent = [&, sink](const TJobEvent& e) {
      sink(e);
      if (std::holds_alternative<TProbeEvent>(e.Value) && int(link.Sends.size()) == c.abortAt)
        stop->Cancel();
    };
    log.clear();
    progress.clear();
    const Raised r =
        CatchVantle([&] { EXPECT_EQ(engine.SearchPIC(c.ignoreUntilK), c.log.back() == kFound); });
    EXPECT_FALSE(r.thrown) << r.message;
    const auto shown = Shown();
    EXPECT_TRUE(shown.size() == c.log.size() && InOrder(shown, c.log))
        << testing::PrintToString(log);
    EXPECT_EQ(link.Sends, std::vector<std::string>(size_t(c.probes), std::string(1, char(c.id))));
    const int waited = c.probes - (c.abortAt > 0);
    EXPECT_EQ(link.Waits, std::vector<int32_t>(size_t(waited), c.waitMs));
    EXPECT_EQ(int(progress.size()), c.probes);
    if (!c.progress.empty()) EXPECT_EQ(progress, c.progress);
    if (c.log.back() == kFound) EXPECT_EQ(engine.PICType, 0x41);
  }
}

}  // namespace
}  // namespace vantlebld::test
