// The jobs (check, write, clear-all, EEPROM and configuration writes) over
// an in-process link into a virtual PIC: what the PIC holds afterwards,
// the options on the wire, and how a job fails.
#include <map>
#include <optional>

#include "engine/jobs.h"
#include "sim/boot_path.h"
#include "sim/in_process_link.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

enum class TJob { Check, Write, ClearAll, EEPROM, Config };

const std::string k16FReset = HexRecord(0, 0, {0x8A, 0x01, 0x00, 0x29});  // CLRF PCLATH, GOTO 100h
const std::string k18FReset = HexRecord(0, 0, {0x20, 0xEF, 0x00, 0xF0});  // GOTO 40h
const std::string kPic18Word = HexRecord(0x200, 0, {0x12, 0xEF});  // no 14-bit word: PIC18 code
const std::string kForeign = "HEX file holds PIC18 code, the PIC is a PIC16F876A";

// A job, and what the PIC holds after it: the program its boot path leads
// to (followed by the boot-path judge), bytes of its memories, and the
// flash blocks it took.
struct JobCase {
  const char* name;
  TJob job;
  uint8_t code;
  std::vector<std::string> file;  // HEX records before the end record
  int64_t bootsTo = -1;           // -1: no program written
  std::map<uint32_t, uint8_t> flash = {}, eeprom = {}, config = {};
  int flashBlocks = 0;
  std::string error = {};            // empty: the job succeeds
  std::optional<bool> foreign = {};  // the answer when asked about the file
  bool silent = false;               // the PIC never answers the activation byte
};

// clang-format off
const JobCase kJobs[] = {
    {.name = "Check", .job = TJob::Check, .code = 0x41},
    // Flash blocks: the units with file bytes and the slot's. Unit 0 goes out
    // on 16F for the jump to the bootloader, on PIC18 only for more bytes
    // than the reset code. EEPROM offset 5 sits at 4200h + 2 * 5.
    {.name = "Write16F", .job = TJob::Write, .code = 0x31,
     .file = {k16FReset, HexRecord(0x420A, 0, {0xA5, 0})}, .bootsTo = 0x100, .eeprom = {{5, 0xA5}},
     .flashBlocks = 2},
    {.name = "Write18F", .job = TJob::Write, .code = 0x41,
     .file = {k18FReset, HexRecord(0x40, 0, {0x12, 0x34})}, .bootsTo = 0x40,
     .flash = {{0x40, 0x12}, {0x41, 0x34}}, .flashBlocks = 2},
    // Every unit below the zone (3E00h / 64 of them), then the slot's.
    {.name = "ClearAll", .job = TJob::ClearAll, .code = 0x31, .file = {k16FReset}, .bootsTo = 0x100,
     .flashBlocks = 0x3E00 / 64 + 1},
    {.name = "EEPROM", .job = TJob::EEPROM, .code = 0x31, .eeprom = {{5, 0xA5}}},
    {.name = "Config", .job = TJob::Config, .code = 0x41, .config = {{0x300003, 0x0F}}},
    {.name = "ForeignWritten", .job = TJob::Write, .code = 0x31, .file = {k16FReset, kPic18Word},
     .bootsTo = 0x100, .flash = {{0x200, 0x12}, {0x201, 0xEF}}, .flashBlocks = 3, .foreign = true},
    {.name = "ForeignRefused", .job = TJob::Write, .code = 0x31, .file = {k16FReset, kPic18Word},
     .error = kForeign, .foreign = false},
    // The reset slot of the PIC18F252: 32768 - 2 * (32 * 8 + 4) = 7DF8h.
    {.name = "IntoTheZone", .job = TJob::Write, .code = 0x41,
     .file = {k18FReset, HexRecord(0x7DF8, 0, {0})}, .error = "Overwriting bootloader denied"},
    {.name = "SilentPic", .job = TJob::Check, .code = 0x41, .error = "Not found!", .silent = true},
};
// clang-format on

class JobsTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
  TJobResult Run(const JobCase& c, const TJobOptions& o) {
    const std::string file = dir.Write("job.hex", JoinLines(c.file) + kHexEnd + "\n");
    switch (c.job) {
      case TJob::Check:
        return CheckJob(engine, o);
      case TJob::Write:
        return WriteJob(engine, o, file);
      case TJob::ClearAll:
        return ClearAllJob(engine, o, file);
      case TJob::EEPROM:
        return WriteEEPROMJob(engine, o, 5, 0xA5);
      case TJob::Config:
        return WriteConfigJob(engine, o, 0x300003, 0x0F);
    }
    return {};
  }
};

TEST_F(JobsTest, JobsOverAVirtualPic) {
  for (const auto& c : kJobs) {
    SCOPED_TRACE(c.name);
    TPICInfo info = PicTable()[c.code];
    ASSERT_TRUE(DerivePicGeometry(info));
    TVirtualPic pic(c.code, info, {.ActivationByte = 0x55, .Faults = {.NoAnswer = c.silent}});
    TInProcessLink& link = Install<TInProcessLink>(pic);
    engine.RTSDTRonConnect = 1;
    TJobOptions o{.Port = "sim",
                  .IDCode = 0x55,
                  .SearchSeconds = 1,
                  .WaitMs = 100,
                  .PreCodes = "5, 12h",
                  .ResetSignals = "rR"};
    std::string asked;
    o.WriteForeignHex = [&](const std::string& reason) {
      asked = reason;
      return c.foreign.value_or(false);
    };
    std::vector<bool> found;
    o.SearchEnded = [&](bool f) { found.push_back(f); };
    log.clear();
    const TJobResult r = Run(c, o);
    EXPECT_EQ(r.Error, c.error);
    EXPECT_EQ(r.Ok, c.error.empty());
    // The pre-codes, then the activation byte until answered: 1000 ms / 100
    // ms, and one more. Nothing more goes out when the job fails.
    const std::string wire = "\x05\x12" + std::string(c.silent ? 11 : 1, '\x55');
    EXPECT_EQ(link.Sent().substr(0, r.Ok ? wire.size() : std::string::npos), wire);
    // Both lines on as the port opens, then the reset signals.
    EXPECT_EQ(link.ControlChanges(), "R1 D1 R0 R1");
    EXPECT_EQ(found, std::vector<bool>{!c.silent});
    EXPECT_EQ(asked, c.foreign ? kForeign : "");
    EXPECT_EQ(link.IsOpen(), r.Ok);
    const LogLines failed = {{LogIndent6, "ERROR!"}, {LogIndent3 | LogIndent6, c.error}};
    EXPECT_EQ(InOrder(log, failed), !r.Ok) << testing::PrintToString(log);
    const TBootPath path = JudgeBootPath(info, pic.Flash());
    EXPECT_EQ(path.Target, c.bootsTo) << path.Line;
    for (const auto& [a, v] : c.flash)
      EXPECT_EQ(pic.Flash()[a], v) << a;
    for (const auto& [a, v] : c.eeprom)
      EXPECT_EQ(pic.EEPROM()[a], v) << a;
    EXPECT_EQ(pic.Config(), c.config);
    EXPECT_EQ(pic.Stats().FlashBlocks, c.flashBlocks);
    EXPECT_TRUE(pic.Stats().HostErrors.empty());
    engine.Link = std::make_unique<TOfflineLink>();  // before the PIC goes
  }
}

}  // namespace
}  // namespace vantlebld::test
