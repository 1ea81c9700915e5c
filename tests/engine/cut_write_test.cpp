// A write cut short at any block, by a hang-up or by a PIC gone silent,
// over a PIC that holds an earlier write of the same file: one model of
// each family, the erase-pass ones included. Reset must still reach the
// bootloader, as the PIC's own decoders follow it, and the next write must
// land whole. (A stop between blocks leaves the PIC as a hang-up after the
// block on the line does; the stop itself: job_runner_test.cpp.)
#include <cstdlib>

#include "engine/jobs.h"
#include "sim/boot_path.h"
#include "sim/in_process_link.h"
#include "sim/written_file_check.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

// A write this short is cut at every block; a longer one at its first,
// middle and last few.
constexpr int kEveryBlockUpTo = 128;
constexpr int kFew = 4;
// The written program's remote reset, as every job's pre-codes send it.
const std::string kResetCodes("\x80\x12", 2);
constexpr char kPreCodes[] = "128 12h";

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

class CutWriteTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
  ~CutWriteTest() override { engine.Link = std::make_unique<TOfflineLink>(); }  // before the PICs

  // A PIC of the table, found by 55h, that runs the written program until
  // the next job's pre-codes reset it into its bootloader.
  std::unique_ptr<TVirtualPic> NewPic(const TSimFaults& faults = {}) const {
    return std::make_unique<TVirtualPic>(code, info,
                                         TSimOptions{.ActivationByte = 0x55,
                                                     .Faults = faults,
                                                     .RunAfterWrite = true,
                                                     .ResetCodes = kResetCodes});
  }
  // The file through the write job, the port closed after it.
  bool Write() {
    const TJobResult r = WriteJob(
        engine,
        {.Port = "sim", .IDCode = 0x55, .SearchSeconds = 1, .WaitMs = 100, .PreCodes = kPreCodes},
        file);
    engine.Disconnect();
    return r.Ok;
  }

  uint8_t code = 0;
  TPICInfo info;
  std::string text, file;
};

TEST_F(CutWriteTest, ACutWriteLeavesTheBootloaderReachableAndTheNextWriteLands) {
  const std::pair<uint8_t, const char*> models[] = {
      {0x31, "pic16f876a_blink32"}, {0x41, "pic18f252_blink"},
      {0x51, "pic18f46j50_blink"},  {0x61, "pic18f46k22_blink"},
      {0x73, "dspic30f4013_blink"}, {0x81, "dspic33fj128gp706_blink"}};
  for (const auto& [c, example] : models) {
    code = c;
    info = PicTable()[code];
    ASSERT_TRUE(DerivePicGeometry(info));
    text = ReadText(Example(example));
    file = dir.Write("job.hex", text);
    // The blocks of a first write, and of a second one over it: the one cut.
    std::unique_ptr<TVirtualPic> counted = NewPic();
    Install<TInProcessLink>(*counted);
    ASSERT_TRUE(Write());
    const int first = counted->Stats().BlocksReceived;
    ASSERT_TRUE(Write());
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
      std::unique_ptr<TVirtualPic> pic = NewPic(f), twin = NewPic();
      Install<TTwinLink>(*pic, *twin);
      ASSERT_TRUE(Write());
      EXPECT_FALSE(Write());
      const TBootPath path = JudgeBootPath(info, pic->Flash());
      EXPECT_TRUE(path.ReachesBootloader) << path.Line;
      EXPECT_EQ(pic->Stats().HostErrors, std::vector<std::string>{});
      ASSERT_TRUE(twin->ExportHex() == pic->ExportHex()) << "the twin lost track of the PIC";

      Install<TInProcessLink>(*twin);
      ASSERT_TRUE(Write());
      const TWrittenFileCheck check =
          CheckWrittenFile(info, text, twin->Flash(), twin->EEPROM(), true, false);
      EXPECT_TRUE(check.Ok) << testing::PrintToString(check.Lines);
    }
  }
}

}  // namespace
}  // namespace vantlebld::test
