// The jobs (check, write, clear-all, EEPROM and configuration writes) over
// an in-process link into a virtual PIC: every model of the device table
// takes a file of its family and must start it through its bootloader,
// judged by the PIC's own decoders with its memory compared with the file
// read a second way; the options on the wire; how a job fails; the writes
// the host must refuse before their first block, next to the files beside
// them that must still be written, with the map giving the same verdict;
// and the block exchange under line faults.
#include <map>
#include <regex>

#include "engine/jobs.h"
#include "engine/memory_map.h"
#include "sim/in_process_link.h"
#include "sim/written_file_check.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

enum class TJob { Check, Write, ClearAll, EEPROM, Config };
constexpr TJob kCheck = TJob::Check, kWrite = TJob::Write, kClear = TJob::ClearAll,
               kEE = TJob::EEPROM, kCfg = TJob::Config;

std::string Hex(const std::vector<std::string>& records) {
  return JoinLines(records) + kHexEnd + "\n";
}
// PIC18 words as HEX bytes, low byte first: GOTO 400h (EF00h F002h) alone
// in the first block, and main at 400h (MOVLW 1, BRA $); the same started
// with BRA 400h (D1FFh).
const std::string kJump18 = HexRecord(0, 0, {0x00, 0xEF, 0x02, 0xF0});
const std::string kMain18 = HexRecord(0x400, 0, {0x01, 0x0E, 0xFF, 0xD7});
const std::string kGoto18 = Hex({kJump18, kMain18});
const std::string kBra18 = Hex({HexRecord(0, 0, {0xFF, 0xD1}), kMain18});
// dsPIC: GOTO 200h in the first block alone, BRA $ (37FFFFh) at 200h.
const std::string kGotoDs = Hex({HexRecord(0, 0, {0x00, 0x02, 0x04, 0, 0, 0, 0, 0}),
                                 HexRecord(0x400, 0, {0xFF, 0xFF, 0x37, 0})});
// A fourth byte of a group set: no dsPIC code, written only when the user says so.
const std::string kPhantom = Hex({HexRecord(0, 0, {0x00, 0x01, 0x04, 0, 0, 0, 0, 0x55})});
// 16F: CLRF PCLATH, GOTO 100h; EEPROM offset 5 at 4200h + 2 * 5; a word
// whose high byte uses bits 6-7, so PIC18 code.
const std::string k16FReset = HexRecord(0, 0, {0x8A, 0x01, 0x00, 0x29});
const std::string kWrite16F = Hex({k16FReset, HexRecord(0x420A, 0, {0xA5, 0})});
const std::string kForeign16F = Hex({k16FReset, HexRecord(0x200, 0, {0x12, 0xEF})});
const std::string kForeign = "HEX file holds PIC18 code, the PIC is a PIC16F876A";
const std::string kBigger =
    "EEPROM address 128 (080h) is outside the PIC16F873A's EEPROM, 000h..07Fh";
const std::string kDsEEPROM = "Address outside the EEPROM [7FFC00h..7FFFFFh]";
const std::string kWont = "HEX file would not start: ";
const std::string kNoJump = kWont + "its reset code at 000000h runs into the bootloader at 007E00h";
const std::string kNoEEPROM = " (write without EEPROM with --no-eeprom, or untick Write EEPROM)";

struct JobCase {
  TJob job;
  uint8_t code;
  std::string file = {};              // an example's name, or a HEX text made here
  std::string error = {};             // empty: the job succeeds
  int flashBlocks = -1;               // flash writes and erases the PIC took; -1: not counted
  int estimate = -1;                  // the blocks the progress counts with; -1: not checked
  bool eeprom = true;                 // the EEPROM pass runs
  bool force = false;                 // a file of another family is written all the same
  int32_t address = 0, value = 0;     // of the EEPROM and configuration writes
  std::map<uint32_t, uint8_t> lands;  // where they land: EEPROM offset or configuration byte
  bool silent = false;                // the PIC never answers the activation byte
  LogLine logged = {};                // a line of the EEPROM or configuration write
};

// Every model writes an example of its family whole.
const std::pair<uint8_t, const char*> kExamples[] = {
    {0x31, "pic16f876a_blink32"},     {0x32, "pic16f877a_blink"},
    {0x33, "pic16f877a_blink"},       {0x34, "pic16f877a_blink"},
    {0x35, "pic16f88_blink"},         {0x41, "pic18f252_blink"},
    {0x42, "pic18f452_blink8m"},      {0x43, "pic18f252_blink"},
    {0x44, "pic18f452_blink8m"},      {0x45, "pic18f252_blink"},
    {0x46, "pic18f452_blink8m"},      {0x51, "pic18f46j50_blink"},
    {0x52, "pic18f46j50_blink"},      {0x72, "dspic30f3014_blink8m"},
    {0x74, "dspic30f4013_blink"},     {0x81, "dspic33fj128gp706_blink"},
    {0x82, "dspic33fj32mc202_blink"}, {0x83, "dspic33fj128gp706_blink"}};

// Flash blocks counted: the units with file bytes and the slot's; unit 0
// goes out on 16F for the jump, on PIC18 only for more than the reset code.
// Zones by hand: PIC18F252 2*(32*8+4) = 208h below 8000h: slot 7DF8h,
// entry 7E00h; PIC16F876A slot at word 1F00h; dsPIC30F4013 4*(32*8+32) =
// 480h below 10000h: entry HEX FC00h, program address 7E00h.
// clang-format off
const JobCase kJobs[] = {
    {kCheck, 0x41},
    {.job = kCheck, .code = 0x41, .error = "Not found!", .silent = true},
    // K: every unit below the zone (FDF8h) goes out, under a warning; it has
    // no EEPROM pass, so a file with EEPROM data is written only without one,
    // and refused before its first block with it.
    {.job = kWrite, .code = 0x61, .file = "pic18f46k22_blink", .flashBlocks = 0xFE00 / 64,
     .estimate = 0xFE00 / 64},
    {kWrite, 0x62, "pic18f252_blink", "", 0xFE00 / 64, 0xFE00 / 64, false},
    {kWrite, 0x61, "pic18f252_blink", "EEPROM data at 000h..007h cannot be written: this "
     "bootloader does not write the EEPROM of a PIC18F46K22" + kNoEEPROM, 0},
    {kWrite, 0x71, kGotoDs},
    // Its first EEPROM word, 42h 56h at HEX FFF800h, goes to 7FFC00h.
    {.job = kWrite, .code = 0x73, .file = "dspic30f4013_blink",
     .logged = Step("eeprom addr:7FFC00h <- 5642h")},
    {kWrite, 0x31, kWrite16F, "", 2},
    {kWrite, 0x41, kGoto18, "", 2},
    // The erase pass, pages of the zone's start down to 0 (J: F800h / 400h
    // + 1; dsPIC33: 2A000h / 800h + 1), takes the jump at 0 too: it is sent
    // again with the two units and the slot's. The progress counts exactly
    // the blocks that go out.
    {kWrite, 0x51, kGoto18, "", 0xF800 / 0x400 + 1 + 3, 0xF800 / 0x400 + 1 + 3},
    {kWrite, 0x81, kGotoDs, "", 0x2A000 / 0x800 + 1 + 3, 0x2A000 / 0x800 + 1 + 3},
    // Every unit below the zone (3E00h / 64 of them), then the slot's.
    {kClear, 0x31, kWrite16F, "", 0x3E00 / 64 + 1},
    {kWrite, 0x31, kForeign16F, "", 3, -1, true, true},
    {kWrite, 0x31, kForeign16F, kForeign},
    {kWrite, 0x41, "pic16f877a_blink", "HEX file holds PIC16F code, the PIC is a PIC18F252"},
    {kWrite, 0x73, "pic16f877a_blink", "HEX file holds PIC16F or PIC18 code, the PIC is a dsPIC30F4013"},
    {kWrite, 0x71, kPhantom, "", -1, -1, true, true},
    // Code of a larger PIC: part of it would be lost.
    {kWrite, 0x71, "dspic30f3014_blink8m", "HEX file has code past the end of flash, at 06000h"},
    // Reset code that would not start the program from the slot. Forced,
    // the 16F file's CLRF PCLATH (018Ah), GOTO 100h (2900h) and two NOPs
    // hold no PIC18 jump; nor do MOVLW, MOVWF, NOP, NOP.
    {kWrite, 0x41, "pic16f877a_blink", kNoJump + " (no jump in the first 4 words)", -1, -1, true, true},
    {kWrite, 0x41, Hex({HexRecord(0, 0, {0x01, 0x0E, 0x81, 0x6E, 0, 0, 0, 0}), kMain18}),
     kNoJump + " (no jump in the first 4 words)"},
    {kWrite, 0x41, Hex({}),
     kWont + "it has no reset code at 000000h, so the PIC would stay in its bootloader at 007E00h"},
    // GOTO 7E00h: EF00h, F03Fh.
    {kWrite, 0x41, Hex({HexRecord(0, 0, {0x00, 0xEF, 0x3F, 0xF0}), kMain18}),
     kWont + "its reset code at 000000h jumps to 007E00h, inside the bootloader zone (007DF8h on)"},
    {kWrite, 0x41, Hex({HexRecord(0, 0, {0x00, 0xD8, 0, 0}), kMain18}),
     kWont + "its reset code has a relative RCALL at 000000h, which jumps elsewhere from the reset "
             "slot (start the program with a GOTO)"},
    // MOVLW 1, MOVWF 20h, CALL 10h, GOTO 100h: PCLATH never set, no repair.
    {kWrite, 0x31, Hex({HexRecord(0, 0, {0x01, 0x30, 0xA0, 0x00, 0x10, 0x20, 0x00, 0x29})}),
     kWont + "its GOTO at 000003h takes its page from PCLATH, which the reset code does not set: "
             "from the reset slot it would jump into the bootloader's page (set PCLATH before the GOTO)"},
    // MOV #1, W0 (200010h), NOP: no GOTO.
    {kWrite, 0x73, Hex({HexRecord(0, 0, {0x10, 0, 0x20, 0, 0, 0, 0, 0})}),
     kNoJump + " (no jump in its first 2 instructions)"},
    // Their neighbours, written: BRA 400h made absolute in the slot; GOTO
    // 100h alone, repaired to CLRF PCLATH, GOTO 100h.
    {kWrite, 0x41, kBra18},
    {kWrite, 0x31, Hex({HexRecord(0, 0, {0x00, 0x29}), HexRecord(0x200, 0, {0x01, 0x30})})},
    // PIC18F2620: 1024 bytes of EEPROM, EEPROM blocks reach 256 of them.
    {kWrite, 0x45, Hex({kJump18, kMain18, HexBase(0xF0), HexRecord(0, 0, {1, 2}),
                        HexRecord(0x100, 0, {3}), HexRecord(0x3FC, 0, {4, 5, 6, 7})}),
     "EEPROM data at 100h..3FFh cannot be written: this bootloader's EEPROM blocks address 256 "
     "bytes" + kNoEEPROM},
    {kWrite, 0x51, Hex({kJump18, kMain18, HexBase(0xF0), HexRecord(0, 0, {1})}),
     "EEPROM data at 000h cannot be written: the PIC18F46J50 has no EEPROM" + kNoEEPROM},
    {kWrite, 0x45, Hex({kJump18, kMain18, HexBase(0xF0), HexRecord(0x100, 0, {3})}), "", -1, -1, false},
    {kWrite, 0x45, Hex({kJump18, kMain18, HexBase(0xF0), HexRecord(0xF0, 0, {1, 2, 3})})},
    // Single locations: a dsPIC configuration word keeps all 16 bits at
    // program address F80000h, HEX 1F00000h; 33h has 128 EEPROM bytes.
    {.job = kEE, .code = 0x31, .address = 5, .value = 0xA5, .lands = {{5, 0xA5}},
     .logged = Plain("EEPROM16F Location:[005h] <- A5h", kDetail)},
    {.job = kEE, .code = 0x41, .address = 0, .value = 0xB6, .lands = {{0, 0xB6}},
     .logged = Step("eeprom addr:000h <- B6h")},
    {.job = kCfg, .code = 0x41, .address = 0x300003, .value = 0x0F, .lands = {{0x300003, 0x0F}},
     .logged = Step("cfg addr:300003h <- 0Fh")},
    {.job = kEE, .code = 0x71, .address = 0x7FFC00, .value = 0x12, .lands = {{0, 0x12}, {1, 0}},
     .logged = Step("eeprom addr:7FFC00h <- 12h")},
    {.job = kCfg, .code = 0x71, .address = 0xF80000, .value = 0x1234,
     .lands = {{0x1F00000, 0x34}, {0x1F00001, 0x12}, {0x1F00002, 0}, {0x1F00003, 0}},
     .logged = Step("eeprom addr:F80000h <- 1234h")},
    {.job = kEE, .code = 0x33, .address = 127, .value = 1, .lands = {{127, 1}}},
    {.job = kEE, .code = 0x33, .error = kBigger, .address = 128},
    {.job = kCfg, .code = 0x41, .error = "Configuration address 2FFFFFh is outside the PIC18 configuration area (300000h..3FFFFFh)", .address = 0x2FFFFF},
    {.job = kCfg, .code = 0x41, .error = "Configuration address F80000h is outside the PIC18 configuration area (300000h..3FFFFFh)", .address = 0xF80000},
    {.job = kEE, .code = 0x71, .error = kDsEEPROM, .address = 0x800000},
    {.job = kEE, .code = 0x61, .error = "The PIC18F46K22 has no EEPROM this bootloader writes one location of (PIC16F, PIC18F and dsPIC30F parts only)"},
    {.job = kEE, .code = 0x81, .error = "The dsPIC33FJ128GP706 has no EEPROM this bootloader writes one location of (PIC16F, PIC18F and dsPIC30F parts only)"},
    {.job = kCfg, .code = 0x31, .error = "The PIC16F876A takes no configuration writes from this bootloader (PIC18F and dsPIC30F parts only)", .address = 0x300000},
    {.job = kCfg, .code = 0x81, .error = "The dsPIC33FJ128GP706 takes no configuration writes from this bootloader (PIC18F and dsPIC30F parts only)", .address = 0xF80000},
};
// clang-format on

class JobsTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
  // A virtual PIC of the table on the engine's link, activated by 55h.
  TInProcessLink& Attach(uint8_t code, TSimOptions options) {
    info = PicTable()[code];
    EXPECT_TRUE(DerivePicGeometry(info));
    options.ActivationByte = 0x55;
    pic = std::make_unique<TVirtualPic>(code, info, options);
    return Install<TInProcessLink>(*pic);
  }
  TJobResult Run(const JobCase& c, const TJobOptions& o) {
    file = dir.Write("job.hex", text);
    switch (c.job) {
      case TJob::Check:
        return CheckJob(engine, o);
      case TJob::Write:
        return WriteJob(engine, o, file);
      case TJob::ClearAll:
        return ClearAllJob(engine, o, file);
      case TJob::EEPROM:
        return WriteEEPROMJob(engine, o, c.address, static_cast<uint8_t>(c.value));
      case TJob::Config:
        return WriteConfigJob(engine, o, c.address, c.value);
    }
    return {};
  }
  TJobOptions Options() const {
    return {.Port = "sim", .IDCode = 0x55, .SearchSeconds = 1, .WaitMs = 100};
  }
  ~JobsTest() override { engine.Link = std::make_unique<TOfflineLink>(); }  // before the PIC

  TPICInfo info;
  std::unique_ptr<TVirtualPic> pic;
  std::string text, file;  // the HEX file of the job, and where it is
};

TEST_F(JobsTest, EveryModelAndJobOverAVirtualPic) {
  std::vector<JobCase> cases(std::begin(kJobs), std::end(kJobs));
  for (const auto& [code, example] : kExamples)
    cases.push_back({kWrite, code, example});
  for (const auto& c : cases) {
    SCOPED_TRACE(Format("code %02Xh %s %s", c.code, c.file.substr(0, 30).c_str(), c.error.c_str()));
    TInProcessLink& link = Attach(c.code, {.Faults = {.NoAnswer = c.silent}});
    text = c.file.starts_with(":") ? c.file : ReadText(Example(c.file));
    engine.RTSDTRonConnect = 1;
    TJobOptions o = Options();
    o.PreCodes = "5, 12h";
    o.ResetSignals = "rR";
    o.WriteEEPROM = c.eeprom;
    std::string asked;
    o.WriteForeignHex = [&](const std::string& reason) {
      asked = reason;
      return c.force;
    };
    std::vector<bool> found;
    o.SearchEnded = [&](bool f) { found.push_back(f); };
    log.clear();
    progress.clear();
    const TJobResult r = Run(c, o);
    EXPECT_EQ(r.Error, c.error);
    EXPECT_EQ(r.Ok, c.error.empty());
    // The pre-codes, then the activation byte until answered: 1000 ms / 100
    // ms, and one more, when it never is.
    const std::string wire = "\x05\x12" + std::string(c.silent ? 11 : 1, '\x55');
    EXPECT_EQ(link.Sent().substr(0, wire.size() + c.silent), wire);
    // Both lines on as the port opens, then the reset signals.
    EXPECT_EQ(link.ControlChanges(), "R1 D1 R0 R1");
    EXPECT_EQ(found, std::vector<bool>{!c.silent});
    // Only a file of another family asks; a refusal gives the question's reason.
    EXPECT_TRUE(c.force ? !asked.empty() : asked.empty() || asked == r.Error) << asked;
    EXPECT_EQ(link.IsOpen(), r.Ok);
    const LogLines failed = {Problem("ERROR!"), Reason(c.error)};
    EXPECT_EQ(InOrder(log, failed), !r.Ok) << testing::PrintToString(log);
    EXPECT_EQ(pic->Stats().HostErrors, std::vector<std::string>{});
    if (c.flashBlocks >= 0) EXPECT_EQ(pic->Stats().FlashBlocks, c.flashBlocks);
    if (c.estimate >= 0) EXPECT_EQ(engine.BlocksToWrite, c.estimate);
    // A job refused before its blocks leaves the PIC as it was.
    if (!r.Ok && c.flashBlocks < 0) EXPECT_EQ(pic->Stats().BlocksReceived, 0);
    // The map of the same file says the same, without being forced.
    if (c.job == kWrite && !c.force) {
      const TMemoryMap map = MapHexFile(c.code, file, 115200, c.eeprom);
      EXPECT_EQ(std::pair(map.Refused, map.Reason), std::pair(!c.error.empty(), c.error));
    }
    if (r.Ok && (c.job == kWrite || c.job == kClear)) {
      // The progress counts the blocks up to 100 and not beyond.
      EXPECT_EQ(progress.back(), 100);
      EXPECT_LE(*std::ranges::max_element(progress), 100);
      const TWrittenFileCheck check =
          CheckWrittenFile(info, text, pic->Flash(), pic->EEPROM(), c.eeprom, c.job == kClear);
      EXPECT_TRUE(check.Ok) << testing::PrintToString(check.Lines);
    }
    if (c.job == kCfg) EXPECT_EQ(pic->Config(), c.lands);
    if (!c.logged.text.empty()) EXPECT_TRUE(Logged(c.logged)) << testing::PrintToString(log);
    for (const auto& [a, v] : c.job == kEE ? c.lands : std::map<uint32_t, uint8_t>{})
      EXPECT_EQ(pic->EEPROM().at(a), v) << a;
  }
}

TEST_F(JobsTest, AWriteWithoutAFileEndsBeforeConnecting) {
  TInProcessLink& link = Attach(0x41, {});
  for (const std::string& name : {std::string(), (dir.Path() / "missing.hex").string()}) {
    const TJobResult r = WriteJob(engine, Options(), name);
    EXPECT_TRUE(r.Error.starts_with("File not found")) << r.Error;
    EXPECT_TRUE(link.Sent().empty());
    EXPECT_FALSE(pic->Identified());
  }
}

// --- The block exchange ---

const LogLine kAck = Step("Received \"K\": Ok", kDetail);
const LogLine kNak = Step("Received \"N\": crc fail", kDetail);
const LogLine kFailed = Reason("Could not write block *");
LogLine CatchUp(int attempt) {
  return Step(Format("timeout %d, trying to catch up", attempt), kDetail);
}

// A 16F program (CLRF PCLATH, GOTO 100h), a unit at 80h and an EEPROM
// byte: three flash blocks, the slot's last, then the EEPROM block, against
// a virtual PIC that takes 100 ms to write a block and answers N, rubbish,
// nothing, or hangs up.
TEST_F(JobsTest, WriteUnderLineFaults) {
  const struct {
    const char* name;
    TSimFaults faults;
    int sends;                // blocks put on the line, resends included
    int accepted;             // by the virtual PIC; -1: not counted
    LogLines lines;           // in this order, others between them
    int fillers = -1;         // 00h bytes the PIC took as the host's catch-up; -1: not counted
    std::string cause = "-";  // words of the hint of a failed write
  } cases[] = {
      // clang-format off
      {"Clean", {}, 4, 4, {kAck, kAck, kAck, kAck}},
      {"TwoNaksThenK", {.NakFirst = 2}, 6, 4, {kNak, kNak, kAck, kAck}},
      {"ThreeNaks", {.NakFirst = 3}, 3, 0, {kNak, kNak, kNak, kFailed}, -1, "3 N answers and 0 time-outs"},
      {"Rubbish", {.RubbishAt = 1}, 1, 1,
       {Step("Received rubbish, Hex: 41 58 59   Str: AXY", kDetail), kFailed}, -1,
       "answered 41 58 59"},
      {"CatchUp", {.DropBytes = 2, .DropBlock = 1}, 5, 4,
       {CatchUp(1), Step("caught up after 2 bytes", kDetail), kAck}, 2},
      {"Silent", {.SilentFrom = 1}, 3, -1, {CatchUp(1), CatchUp(2), CatchUp(3), kFailed}, -1,
       "0 N answers and 3 time-outs"},
      {"HangUp", {.HangupAt = 2}, 2, 2, {kAck, Problem("Communication error *"), kFailed}, -1,
       "the port failed: Communication error"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Attach(0x31, {.WriteMs = 100, .Faults = c.faults});
    text = Hex({k16FReset, HexRecord(0x100, 0, {0x12, 0x34}), HexRecord(0x420A, 0, {0xA5, 0})});
    log.clear();
    progress.clear();
    const TJobResult r = Run({kWrite, 0x31}, Options());
    EXPECT_EQ(engine.LinkStats.BlocksSent, c.sends);
    EXPECT_EQ(engine.LinkStats.NAnswers, std::count(c.lines.begin(), c.lines.end(), kNak));
    EXPECT_TRUE(InOrder(log, c.lines)) << testing::PrintToString(log);
    // No catch-up beyond the ones expected.
    EXPECT_EQ(Count(Step("timeout *", kDetail)),
              std::count_if(c.lines.begin(), c.lines.end(),
                            [](const LogLine& l) { return l.text.starts_with("   timeout "); }));
    const bool ok = c.lines.back() != kFailed;
    const std::regex done(R"(   WRITE OK  at \d{1,2}:\d\d,   time:\d+\.\d{3} sec)");
    EXPECT_EQ(std::ranges::any_of(log, [&](auto& l) { return std::regex_match(l.text, done); }),
              ok);
    // A failed write names its block, and the cause with what to try.
    EXPECT_EQ(r.Error.starts_with("Could not write block "), !ok) << r.Error;
    EXPECT_EQ(r.Hint.find(c.cause) != std::string::npos, !ok) << r.Hint;
    if (c.accepted >= 0) EXPECT_EQ(pic->Stats().BlocksAccepted, c.accepted);
    if (c.fillers >= 0) EXPECT_EQ(pic->Stats().FillerBytes, c.fillers);
    if (!ok) continue;
    // What the PIC holds afterwards is judged in fault_matrix_test.cpp.
    // After the search's count-down, the bar moves as each flash block is
    // answered, and ends at 100.
    progress.erase(std::unique(progress.begin(), progress.end()), progress.end());
    ASSERT_GE(progress.size(), 4u);
    EXPECT_EQ(std::vector(progress.end() - 4, progress.end()),
              (std::vector<int32_t>{0, 33, 67, 100}));
  }
}

}  // namespace
}  // namespace vantlebld::test
