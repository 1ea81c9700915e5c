// Finding the bootloader and identifying the PIC behind it: the search
// over a link whose device end the test scripts probe by probe, and the
// search on a link without answers.
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

const LogLine kSearching = Plain("  Searching for PIC ...");
const LogLine kNotFound = Joined("Not found");
const LogLine kRcv41 = Plain("Rcv:type=41h=\"A\" ", kDetail);
const LogLine kFound = Step("Found:PIC18F252");
const LogLine kGone = Step(TFakeLink::kGone);
const LogLine kKeepTrying = Step(" \"*K\" not found, instead found:\"AN\". Keep trying...");

class SearchTest : public EngineFixture {
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
};

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

// clang-format off
const SearchCase kSearches[] = {
    {.name = "FirstProbeAnswered", .replies = {"AK"}, .log = {kSearching, kRcv41, kFound},
     .probes = 1, .id = 0x55, .progress = {100}},
    {"AnswerAfterSilentProbes", {"", "", "AK"}, {kSearching, kRcv41, kFound}, 3},
    // An answer may come in pieces over several probes.
    {"AnswerInPieces", {"A", "K"}, {kSearching, kRcv41, kFound}, 2},
    {"EchoIgnored", {"\xC1" "AK"},
     {kSearching, Plain(" Ignoring some garbage: \"\xC1\"", kDetail), kRcv41, kFound}, 1, true},
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

TEST_F(SearchTest, SearchOnALinkThatAnswers) {
  const auto sink = engine.OnEvent;
  for (const auto& c : kSearches) {
    SCOPED_TRACE(c.name);
    TFakeLink& link = Install<TFakeLink>();
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
