// The engine's side of the link, against a link whose far end the test
// plays: failed openings, control-line scripts and the remote reset. The
// line settings and control lines of a job: jobs_test.cpp.
#include "engine/remote_reset.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

class LinkTest : public EngineFixture {
 protected:
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

}  // namespace
}  // namespace vantlebld::test
