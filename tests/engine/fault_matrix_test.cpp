// The fault matrix: one PIC of each family takes an example through the
// write job over an in-process link while the virtual PIC misbehaves at
// the first, second, middle or last block, or on the whole line. A fault
// the exchange can ride out must leave the file written and the PIC
// starting it through its bootloader, judged by the PIC's own decoders; any
// other must fail the job within the time its time-outs allow, and leave
// the bootloader zone untouched.
#include "engine/jobs.h"
#include "sim/boot_path.h"
#include "sim/in_process_link.h"
#include "sim/written_file_check.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

// The host's time-out, and the time the firmware takes to write a block.
constexpr int32_t kWaitMs = 100;
constexpr int32_t kWriteMs = 20;
constexpr int32_t kSearchSeconds = 1;
// A block's answer is waited for 150 ms longer than the time-out; silence
// is followed by up to ten 00h fillers, each waited for a time-out; a
// block goes out three times at most.
constexpr int64_t kAnswerWaitMs = kWaitMs + 150;
constexpr int64_t kSilentSendMs = kAnswerWaitMs + 10 * kWaitMs;
// The search probes every time-out for its seconds, and once more.
constexpr int64_t kSearchMs = kSearchSeconds * 1000 + kWaitMs;
// What the bounds allow beyond the time-outs: pauses between blocks,
// the rubbish collected after a wrong answer.
constexpr double kMargin = 1.1;
constexpr int64_t kSlackMs = 50;

struct TFault {
  const char* name;
  TSimFaults faults;
  int TSimFaults::*at;  // the field set to the faulted block; null: the whole line
  bool recovers;
  std::string error = {};
  int64_t boundMs = 0;  // from the faulted block (or the first probe) to the job's end
  bool ignoreUntilK = false;
};

using F = TSimFaults;
// clang-format off
const TFault kFaults[] = {
    {"one N", {.NakFirst = 1}, &F::NakFrom, true},
    {"two Ns", {.NakFirst = 2}, &F::NakFrom, true},
    {"two bytes lost", {.DropBytes = 2}, &F::DropBlock, true},
    {"three Ns", {.NakFirst = 3}, &F::NakFrom, false, "Could not write", 3 * kAnswerWaitMs},
    {"rubbish", {}, &F::RubbishAt, false, "Could not write", kAnswerWaitMs},
    {"silence", {}, &F::SilentFrom, false, "Could not write", 3 * kSilentSendMs},
    {"hang-up", {}, &F::HangupAt, false, "Could not write", kAnswerWaitMs},
    {"answers late", {.AnswerDelayMs = kWaitMs / 2}, nullptr, true},
    {"rubbish before the type code, ignored", {.GarbageBeforeId = "xy"}, nullptr, true, "", 0, true},
    {"rubbish before the type code", {.GarbageBeforeId = "xy"}, nullptr, false, "Not found!", kSearchMs},
    {"echo", {.Echo = true}, nullptr, false, "Not found!", kSearchMs},
    {"no answer", {.NoAnswer = true}, nullptr, false, "Not found!", kSearchMs},
};
// clang-format on

// Keeps the time at which the virtual PIC completed each block.
class TTimedLink : public TInProcessLink {
 public:
  explicit TTimedLink(TVirtualPic& pic) : TInProcessLink(pic), pic_(pic) {}
  void Send(const std::string& bytes) override {
    TInProcessLink::Send(bytes);
    while (static_cast<int>(blockMs.size()) < pic_.Stats().BlocksReceived)
      blockMs.push_back(NowMs());
  }
  std::vector<int64_t> blockMs;

 private:
  TVirtualPic& pic_;
};

class FaultMatrixTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
  ~FaultMatrixTest() override { engine.Link = std::make_unique<TOfflineLink>(); }

  TJobResult Write(const TSimFaults& faults, bool ignoreUntilK = false) {
    pic = std::make_unique<TVirtualPic>(
        code, info, TSimOptions{.ActivationByte = 0x55, .WriteMs = kWriteMs, .Faults = faults});
    link = &Install<TTimedLink>(*pic);
    const TJobOptions o{.Port = "sim",
                        .IDCode = 0x55,
                        .SearchSeconds = kSearchSeconds,
                        .WaitMs = kWaitMs,
                        .IgnoreUntilK = ignoreUntilK};
    return WriteJob(engine, o, dir.Write("job.hex", text));
  }

  uint8_t code = 0;
  TPICInfo info;
  std::string text;
  std::unique_ptr<TVirtualPic> pic;
  TTimedLink* link = nullptr;
};

TEST_F(FaultMatrixTest, EveryFamilyRidesOutOrFailsInTime) {
  const std::pair<uint8_t, const char*> devices[] = {{0x32, "pic16f877a_blink"},
                                                     {0x41, "pic18f252_blink"},
                                                     {0x73, "dspic30f4013_blink"},
                                                     {0x81, "dspic33fj128gp706_blink"}};
  for (const auto& [c, example] : devices) {
    code = c;
    info = PicTable()[code];
    ASSERT_TRUE(DerivePicGeometry(info));
    text = ReadText(Example(example));
    // The blocks of a clean write, counted by the PIC.
    ASSERT_TRUE(Write({}).Ok);
    const int blocks = pic->Stats().BlocksReceived;
    ASSERT_GE(blocks, 4);
    for (const TFault& f : kFaults) {
      for (int block : f.at ? std::vector{1, 2, (blocks + 1) / 2, blocks} : std::vector{0}) {
        SCOPED_TRACE(Format("%02Xh %s at block %d of %d", code, f.name, block, blocks));
        TSimFaults faults = f.faults;
        if (f.at) faults.*f.at = block;
        const TJobResult r = Write(faults, f.ignoreUntilK);
        EXPECT_EQ(r.Ok, f.recovers);
        // A failed write names the block it stopped at, and why.
        const bool writeFailed = f.error == "Could not write";
        EXPECT_EQ(writeFailed ? r.Error.substr(0, f.error.size()) : r.Error, f.error);
        EXPECT_EQ(r.Error.starts_with(f.error + " block "), writeFailed) << r.Error;
        EXPECT_EQ(r.Hint.empty(), f.error.empty()) << r.Hint;
        // Whatever happened, no block reached the bootloader zone.
        EXPECT_EQ(pic->Stats().HostErrors, std::vector<std::string>{});
        if (f.recovers) {
          const TWrittenFileCheck check =
              CheckWrittenFile(info, text, pic->Flash(), pic->EEPROM(), true, false);
          EXPECT_TRUE(check.Ok) << testing::PrintToString(check.Lines);
          continue;
        }
        // The PIC can be written again: reset still reaches the bootloader;
        // the path may break only after it, in the reset slot.
        const TBootPath path = JudgeBootPath(info, pic->Flash());
        EXPECT_TRUE(path.ReachesBootloader) << path.Line;
        const int64_t from = block > 0 ? link->blockMs.at(static_cast<size_t>(block - 1)) : 0;
        EXPECT_LE(link->NowMs() - from, static_cast<int64_t>(f.boundMs * kMargin) + kSlackMs);
      }
    }
  }
}

}  // namespace
}  // namespace vantlebld::test
