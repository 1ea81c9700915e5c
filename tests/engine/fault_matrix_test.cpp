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
  TSimFaults faults;  // the block a fault names is set by PlaceFault
  bool recovers;
  std::string error = {};
  int64_t boundMs = 0;  // from the faulted block (or the first probe) to the job's end
  bool ignoreUntilK = false;
};

// clang-format off
const TFault kBlockFaults[] = {
    {"one N", {.NakFirst = 1}, true},
    {"two Ns", {.NakFirst = 2}, true},
    {"two bytes lost", {.DropBytes = 2}, true},
    {"three Ns", {.NakFirst = 3}, false, "Could not write", 3 * kAnswerWaitMs},
    {"rubbish", {}, false, "Could not write", kAnswerWaitMs},
    {"silence", {}, false, "Could not write", 3 * kSilentSendMs},
    {"hang-up", {}, false, "Could not write", kAnswerWaitMs},
};
const TFault kLineFaults[] = {
    {"answers late", {.AnswerDelayMs = kWaitMs / 2}, true},
    {"rubbish before the type code, ignored", {.GarbageBeforeId = "xy"}, true, "", 0, true},
    {"rubbish before the type code", {.GarbageBeforeId = "xy"}, false, "Not found!", kSearchMs},
    {"echo", {.Echo = true}, false, "Not found!", kSearchMs},
    {"no answer", {.NoAnswer = true}, false, "Not found!", kSearchMs},
};
// clang-format on

void PlaceFault(const TFault& f, int block, TSimFaults& s) {
  const std::string name = f.name;
  if (f.faults.NakFirst) s.NakFrom = block;
  if (f.faults.DropBytes) s.DropBlock = block;
  if (name == "rubbish") s.RubbishAt = block;
  if (name == "silence") s.SilentFrom = block;
  if (name == "hang-up") s.HangupAt = block;
}

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

  TJobResult Write(uint8_t code, const std::string& example, const TSimFaults& faults,
                   bool ignoreUntilK) {
    info = PicTable()[code];
    EXPECT_TRUE(DerivePicGeometry(info));
    pic = std::make_unique<TVirtualPic>(
        code, info, TSimOptions{.ActivationByte = 0x55, .WriteMs = kWriteMs, .Faults = faults});
    link = &Install<TTimedLink>(*pic);
    text = ReadText(Example(example));
    const TJobOptions o{.Port = "sim",
                        .IDCode = 0x55,
                        .SearchSeconds = kSearchSeconds,
                        .WaitMs = kWaitMs,
                        .IgnoreUntilK = ignoreUntilK};
    return WriteJob(engine, o, dir.Write("job.hex", text));
  }

  void Judge(const TFault& f, int block) {
    const TJobResult r = Write(code, example, faults, f.ignoreUntilK);
    EXPECT_EQ(r.Ok, f.recovers);
    EXPECT_EQ(r.Error, f.error);
    // Whatever happened, no block reached the bootloader zone.
    EXPECT_EQ(pic->Stats().HostErrors, std::vector<std::string>{});
    if (f.recovers) {
      const TWrittenFileCheck check =
          CheckWrittenFile(info, text, pic->Flash(), pic->EEPROM(), true, false);
      EXPECT_TRUE(check.Ok) << testing::PrintToString(check.Lines);
      return;
    }
    // The PIC can be written again: reset still reaches the bootloader, the
    // path may break only after it, in the reset slot.
    const std::string path = JudgeBootPath(info, pic->Flash()).Line;
    EXPECT_TRUE(path.starts_with("boot path: ") || path.starts_with("boot path broken: slot") ||
                path == "boot path broken: the reset slot is empty")
        << path;
    const int64_t from = block > 0 && block <= static_cast<int>(link->blockMs.size())
                             ? link->blockMs[static_cast<size_t>(block - 1)]
                             : 0;
    EXPECT_LE(link->NowMs() - from, static_cast<int64_t>(f.boundMs * kMargin) + kSlackMs);
  }

  uint8_t code = 0;
  std::string example;
  TSimFaults faults;
  TPICInfo info;
  std::unique_ptr<TVirtualPic> pic;
  TTimedLink* link = nullptr;
  std::string text;
};

TEST_F(FaultMatrixTest, EveryFamilyRidesOutOrFailsInTime) {
  const struct {
    uint8_t code;
    const char* example;
  } devices[] = {{0x32, "pic16f877a_blink"},
                 {0x41, "pic18f252_blink"},
                 {0x73, "dspic30f4013_blink"},
                 {0x81, "dspic33fj128gp706_blink"}};
  for (const auto& d : devices) {
    code = d.code;
    example = d.example;
    // The blocks of a clean write, counted by the PIC.
    faults = {};
    ASSERT_TRUE(Write(code, example, faults, false).Ok);
    const int blocks = pic->Stats().BlocksReceived;
    ASSERT_GE(blocks, 4);
    for (const TFault& f : kBlockFaults) {
      for (int block : {1, 2, (blocks + 1) / 2, blocks}) {
        SCOPED_TRACE(Format("%02Xh %s at block %d of %d", code, f.name, block, blocks));
        faults = f.faults;
        PlaceFault(f, block, faults);
        Judge(f, block);
      }
    }
    for (const TFault& f : kLineFaults) {
      SCOPED_TRACE(Format("%02Xh %s", code, f.name));
      faults = f.faults;
      Judge(f, 0);
    }
  }
}

}  // namespace
}  // namespace vantlebld::test
