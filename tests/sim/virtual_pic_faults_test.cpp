// The faults the virtual PIC can show the host, and the activation
// variants, on a PIC18F252.
#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "sim/virtual_pic.h"
#include "tests/sim/sim_test_support.h"

namespace vantlebld::test {
namespace {

constexpr uint8_t kCode = 0x41;
constexpr uint8_t kId = 0xC1;

class FaultTest : public ::testing::Test {
 protected:
  // A PIC with these options that has answered the activation byte.
  TVirtualPic& Identified(const TSimOptions& options) {
    pic = std::make_unique<TVirtualPic>(kCode, info, options);
    EXPECT_EQ(Send(*pic, {kId}, 0).substr(options.Faults.GarbageBeforeId.size()), "AK");
    return *pic;
  }
  // The block for unit n; its data start with 00h and count up from n.
  Bytes Block(uint8_t n) const {
    Bytes data(64);
    for (size_t i = 1; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>(n + i);
    return FlashBlock(info, 64u * n, data);
  }
  bool Written(uint8_t n) const { return pic->Flash()[64u * n + 1] == n + 1; }

  TPICInfo info = TablePic(kCode);
  std::unique_ptr<TVirtualPic> pic;
};

TEST_F(FaultTest, NakFirstRefusesGoodBlocks) {
  TSimOptions o;
  o.Faults.NakFirst = 2;
  TVirtualPic& p = Identified(o);
  EXPECT_EQ(Send(p, Block(1), 10), "N");
  EXPECT_EQ(Send(p, Block(1), 20), "N");
  EXPECT_FALSE(Written(1));
  EXPECT_EQ(Send(p, Block(1), 30), "K");
  EXPECT_TRUE(Written(1));
  EXPECT_EQ(p.Stats().NAnswers, 2);
  EXPECT_EQ(p.Stats().BlocksAccepted, 1);
}

TEST_F(FaultTest, DroppedBytesAreMadeUpByTheHostsFillers) {
  TSimOptions o;
  o.Faults.DropBytes = 2;
  o.Faults.DropBlock = 1;
  TVirtualPic& p = Identified(o);
  EXPECT_EQ(Send(p, Block(1), 10), "");
  // The host's catch-up: one 00h at a time after its answer time-out.
  EXPECT_EQ(Send(p, {0x00}, 360), "");
  EXPECT_EQ(Send(p, {0x00}, 560), "N");
  EXPECT_FALSE(Written(1));
  EXPECT_EQ(Send(p, Block(1), 570), "K");
  EXPECT_TRUE(Written(1));
  // The 00h data byte inside the blocks is no filler.
  EXPECT_EQ(p.Stats().FillerBytes, 2);
  EXPECT_EQ(p.Stats().BlocksReceived, 2);
}

TEST_F(FaultTest, ReplacedAnswers) {
  TSimOptions rubbish, silent, hangup;
  rubbish.Faults.RubbishAt = 2;
  silent.Faults.SilentFrom = 2;
  hangup.Faults.HangupAt = 2;
  const struct {
    TSimOptions options;
    std::string second, third;
  } cases[] = {{rubbish, "AXY", "K"}, {silent, "", ""}, {hangup, "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    TVirtualPic& p = Identified(c.options);
    EXPECT_EQ(Send(p, Block(1), 10), "K");
    EXPECT_EQ(Send(p, Block(2), 20), c.second);
    EXPECT_TRUE(Written(2));  // the block itself was taken
    EXPECT_EQ(Send(p, Block(3), 30), c.third);
    EXPECT_EQ(p.HungUp(), c.options.Faults.HangupAt != 0);
  }
}

TEST_F(FaultTest, EchoGoesAtOnceAndAnswersAfterTheirDelays) {
  TSimOptions o;
  o.Faults.Echo = true;
  o.Faults.AnswerDelayMs = 30;
  o.WriteMs = 50;
  pic = std::make_unique<TVirtualPic>(kCode, info, o);
  using TAnswers = std::vector<std::pair<std::string, int32_t>>;  // bytes, delay; in order
  const auto answers = [this](const Bytes& bytes) {
    TAnswers out;
    for (uint8_t b : bytes)
      for (const auto& a : pic->Receive(b, 5))
        out.emplace_back(a.Bytes, a.DelayMs);
    return out;
  };
  EXPECT_EQ(answers({kId}), (TAnswers{{"\xC1", 0}, {"AK", 30}}));
  Bytes block = Block(1);
  TAnswers expected;
  for (uint8_t b : block)
    expected.emplace_back(std::string(1, static_cast<char>(b)), 0);
  expected.emplace_back("K", 80);
  EXPECT_EQ(answers(block), expected);
  block.back() ^= 0xFF;
  expected[block.size() - 1].first = std::string(1, static_cast<char>(block.back()));
  expected.back() = {"N", 30};  // nothing written, so no write time
  EXPECT_EQ(answers(block), expected);
}

TEST_F(FaultTest, ActivationVariants) {
  TSimOptions garbage, mute, late, other;
  garbage.Faults.GarbageBeforeId = "xyz";
  mute.Faults.NoAnswer = true;
  late.ListenAfterMs = 100;
  other.ActivationByte = 0x55;
  struct Probe {
    uint8_t byte;
    int64_t ms;
    std::string answer;
  };
  const struct {
    TSimOptions options;
    std::vector<Probe> probes;
    int activationBytes, bytesBeforeListening;
  } cases[] = {
      {garbage, {{kId, 0, "xyzAK"}}, 1, 0},
      {mute, {{kId, 0, ""}, {kId, 200, ""}, {kId, 400, ""}}, 3, 0},
      {late, {{kId, 0, ""}, {kId, 99, ""}, {kId, 100, "AK"}}, 1, 2},
      {other, {{kId, 0, ""}, {0x55, 200, "AK"}}, 2, 0},
  };
  for (const auto& c : cases) {
    TVirtualPic p(kCode, info, c.options);
    for (const auto& probe : c.probes)
      EXPECT_EQ(Send(p, {probe.byte}, probe.ms), probe.answer) << "at " << probe.ms << " ms";
    EXPECT_EQ(p.Stats().ActivationBytes, c.activationBytes);
    EXPECT_EQ(p.Stats().BytesBeforeListening, c.bytesBeforeListening);
  }
}

// The written program takes over when the job has ended.
TEST_F(FaultTest, RunAfterWriteEchoesOnceTheLineIsQuietAfterTheLastAnswer) {
  TSimOptions o;
  o.RunAfterWrite = true;
  o.WriteMs = 50;
  TVirtualPic& p = Identified(o);
  EXPECT_EQ(Send(p, Block(1), 100), "K");
  // The 'K' leaves 50 ms after the block; the quiet time counts from there.
  const int64_t start = 150 + TVirtualPic::kRunAfterIdleMs;
  EXPECT_EQ(p.ProgramStartMs(), start);
  p.Advance(start - 1);
  EXPECT_FALSE(p.ProgramRunning());
  EXPECT_EQ(Send(p, {'h', 'i', kId}, start), "hi\xC1");
  EXPECT_EQ(p.Stats().ProgramBytes, 3);
  EXPECT_TRUE(Written(1));
}

TEST_F(FaultTest, JobEndsWithTheClosedPortOrAQuietLineAfterBlocks) {
  TSimOptions plain, run, runMute, atStart;
  run.RunAfterWrite = runMute.RunAfterWrite = true;
  runMute.Faults.NoAnswer = true;
  atStart.RunProgramAtStart = true;
  const Bytes block = Block(1);
  const Bytes halfBlock(block.begin(), block.begin() + 10);
  const struct {
    const char* what;
    TSimOptions options;
    Bytes sent;
    bool afterQuiet, afterClose;
  } cases[] = {
      {"no program to run", plain, block, false, false},
      {"never identified", runMute, block, false, false},
      {"in the middle of a block", run, halfBlock, false, true},
      {"identified, no block yet", run, {}, false, true},
      {"a block written", run, block, true, true},
      {"running from the start", atStart, {}, true, true},
  };
  for (const auto& c : cases) {
    for (const bool close : {false, true}) {
      TVirtualPic p(kCode, info, c.options);
      Send(p, {kId}, 0);
      Send(p, c.sent, 10);
      if (close) {
        p.HostClosed();
      } else {
        p.Advance(100'000);
      }
      EXPECT_EQ(p.ProgramRunning(), close ? c.afterClose : c.afterQuiet)
          << c.what << (close ? ", port closed" : ", line quiet");
    }
  }
}

}  // namespace
}  // namespace vantlebld::test
