// Writes disturbed on the line, one PIC of each family taking an example
// through the write job over an in-process link.
//
// The fault matrix: the virtual PIC misbehaves at the first, second, middle
// or last block, or on the whole line. A fault the exchange can ride out
// must leave the file written and the PIC starting it through its
// bootloader, judged by the PIC's own decoders; any other must fail the job
// within the time its time-outs allow, and leave the bootloader zone
// untouched.
//
// A write cut short at any block, by a hang-up or by a PIC gone silent,
// over a PIC that holds an earlier write of the same file, the erase-pass
// models included: reset must still reach the bootloader, and the next
// write must land whole. (A stop between blocks leaves the PIC as a hang-up
// after the block on the line does; the stop itself: job_runner_test.cpp.)
#include <cstdlib>

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

// The link into the PIC the host writes. A twin PIC without faults hears
// every byte the PIC hears, up to its hang-up, and the port's closing: it
// ends up holding what the PIC holds and, unlike a PIC that hung up or went
// silent, takes the next write, as the PIC does after its reset.
class TTwinLink : public TInProcessLink {
 public:
  TTwinLink(TVirtualPic& pic, TVirtualPic& twin) : TInProcessLink(pic), pic_(pic), twin_(twin) {}
  void Send(const std::string& bytes) override {
    TInProcessLink::Send(bytes);
    for (char c : bytes) {
      if (pic_.HungUp() && twin_.Stats().BlocksReceived == pic_.Stats().BlocksReceived) break;
      twin_.Receive(static_cast<uint8_t>(c), NowMs());
    }
  }
  void Close() override {
    if (IsOpen()) twin_.HostClosed();
    TInProcessLink::Close();
  }

 private:
  TVirtualPic& pic_;
  TVirtualPic& twin_;
};

class DisturbedWriteTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
  ~DisturbedWriteTest() override {
    engine.Link = std::make_unique<TOfflineLink>();
  }  // before the PICs

  // The model and its example, in a file the write job reads.
  void Use(uint8_t c, const char* example) {
    code = c;
    info = PicTable()[code];
    ASSERT_TRUE(DerivePicGeometry(info));
    text = ReadText(Example(example));
    file = dir.Write("job.hex", text);
  }
  // A PIC of the table, found by 55h.
  std::unique_ptr<TVirtualPic> NewPic(TSimOptions options) const {
    options.ActivationByte = 0x55;
    return std::make_unique<TVirtualPic>(code, info, options);
  }
  TJobResult Write(const std::string& preCodes, bool ignoreUntilK = false) {
    return WriteJob(engine,
                    {.Port = "sim",
                     .IDCode = 0x55,
                     .SearchSeconds = kSearchSeconds,
                     .WaitMs = kWaitMs,
                     .PreCodes = preCodes,
                     .IgnoreUntilK = ignoreUntilK},
                    file);
  }
  void ExpectWritten(const TVirtualPic& pic) {
    const TWrittenFileCheck check =
        CheckWrittenFile(info, text, pic.Flash(), pic.EEPROM(), true, false);
    EXPECT_TRUE(check.Ok) << testing::PrintToString(check.Lines);
  }

  uint8_t code = 0;
  TPICInfo info;
  std::string text, file;
  std::unique_ptr<TVirtualPic> pic;
};

TEST_F(DisturbedWriteTest, EveryFamilyRidesOutOrFailsInTime) {
  const std::pair<uint8_t, const char*> devices[] = {{0x32, "pic16f877a_blink"},
                                                     {0x41, "pic18f252_blink"},
                                                     {0x73, "dspic30f4013_blink"},
                                                     {0x81, "dspic33fj128gp706_blink"}};
  for (const auto& [c, example] : devices) {
    Use(c, example);
    const auto write = [&](const TSimFaults& faults, bool ignoreUntilK = false) {
      pic = NewPic({.WriteMs = kWriteMs, .Faults = faults});
      Install<TTimedLink>(*pic);
      return Write("", ignoreUntilK);
    };
    // The blocks of a clean write, counted by the PIC.
    ASSERT_TRUE(write({}).Ok);
    const int blocks = pic->Stats().BlocksReceived;
    ASSERT_GE(blocks, 4);
    for (const TFault& f : kFaults) {
      for (int block : f.at ? std::vector{1, 2, (blocks + 1) / 2, blocks} : std::vector{0}) {
        SCOPED_TRACE(Format("%02Xh %s at block %d of %d", code, f.name, block, blocks));
        TSimFaults faults = f.faults;
        if (f.at) faults.*f.at = block;
        const TJobResult r = write(faults, f.ignoreUntilK);
        EXPECT_EQ(r.Ok, f.recovers);
        // A failed write names the block it stopped at, and why.
        const bool writeFailed = f.error == "Could not write";
        EXPECT_EQ(writeFailed ? r.Error.substr(0, f.error.size()) : r.Error, f.error);
        EXPECT_EQ(r.Error.starts_with(f.error + " block "), writeFailed) << r.Error;
        EXPECT_EQ(r.Hint.empty(), f.error.empty()) << r.Hint;
        // Whatever happened, no block reached the bootloader zone.
        EXPECT_EQ(pic->Stats().HostErrors, std::vector<std::string>{});
        if (f.recovers) {
          ExpectWritten(*pic);
          continue;
        }
        // The PIC can be written again: reset still reaches the bootloader;
        // the path may break only after it, in the reset slot.
        const TBootPath path = JudgeBootPath(info, pic->Flash());
        EXPECT_TRUE(path.ReachesBootloader) << path.Line;
        const auto& link = static_cast<const TTimedLink&>(*engine.Link);
        const int64_t from = block > 0 ? link.blockMs.at(static_cast<size_t>(block - 1)) : 0;
        EXPECT_LE(link.NowMs() - from, static_cast<int64_t>(f.boundMs * kMargin) + kSlackMs);
      }
    }
  }
}

// A write this short is cut at every block; a longer one at its first,
// middle and last few. The PIC runs the written program until the next
// job's pre-codes reset it into its bootloader (the edit-build-flash loop).
TEST_F(DisturbedWriteTest, ACutWriteLeavesTheBootloaderReachableAndTheNextWriteLands) {
  constexpr int kEveryBlockUpTo = 128, kFew = 4;
  const TSimOptions program = {.RunAfterWrite = true, .ResetCodes = std::string("\x80\x12", 2)};
  // The file through the write job, the port closed after it.
  const auto write = [this] {
    const bool ok = Write("128 12h").Ok;
    engine.Disconnect();
    return ok;
  };
  const std::pair<uint8_t, const char*> models[] = {
      {0x31, "pic16f876a_blink32"}, {0x41, "pic18f252_blink"},
      {0x51, "pic18f46j50_blink"},  {0x61, "pic18f46k22_blink"},
      {0x73, "dspic30f4013_blink"}, {0x81, "dspic33fj128gp706_blink"}};
  for (const auto& [c, example] : models) {
    Use(c, example);
    // The blocks of a first write, and of a second one over it: the one cut.
    std::unique_ptr<TVirtualPic> counted = NewPic(program);
    Install<TInProcessLink>(*counted);
    ASSERT_TRUE(write());
    EXPECT_FALSE(Write("").Ok) << "without the pre-codes the program only echoes";
    const int first = counted->Stats().BlocksReceived;
    ASSERT_TRUE(write());
    const int blocks = counted->Stats().BlocksReceived - first;
    std::vector<TSimFaults> cuts;
    for (int k = 1; k <= blocks; ++k) {
      if (blocks <= kEveryBlockUpTo || k <= kFew || k > blocks - kFew ||
          std::abs(2 * k - blocks) < kFew)
        cuts.push_back({.HangupAt = first + k});
    }
    cuts.push_back({.SilentFrom = first + (blocks + 1) / 2});

    for (const TSimFaults& f : cuts) {
      SCOPED_TRACE(Format("%02Xh %s block %d of %d", code,
                          f.HangupAt > 0 ? "hang-up at" : "silent from",
                          (f.HangupAt > 0 ? f.HangupAt : f.SilentFrom) - first, blocks));
      TSimOptions faulty = program;
      faulty.Faults = f;
      pic = NewPic(faulty);
      std::unique_ptr<TVirtualPic> twin = NewPic(program);
      Install<TTwinLink>(*pic, *twin);
      ASSERT_TRUE(write());
      EXPECT_FALSE(write());
      const TBootPath path = JudgeBootPath(info, pic->Flash());
      EXPECT_TRUE(path.ReachesBootloader) << path.Line;
      EXPECT_EQ(pic->Stats().HostErrors, std::vector<std::string>{});
      ASSERT_TRUE(twin->ExportHex() == pic->ExportHex()) << "the twin lost track of the PIC";

      Install<TInProcessLink>(*twin);
      ASSERT_TRUE(write());
      ExpectWritten(*twin);
    }
  }
}

}  // namespace
}  // namespace vantlebld::test
