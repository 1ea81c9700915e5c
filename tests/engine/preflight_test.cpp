// Writes the host must refuse before its first block, next to the files
// beside them that must still be written: each goes to a virtual PIC over
// an in-process link. A refused write leaves the PIC without a single
// block; a written one is judged by the PIC's own decoders (boot path and
// memory against the file read a second way). The map gives the same
// verdict as the write.
#include "engine/jobs.h"
#include "engine/memory_map.h"
#include "sim/boot_path.h"
#include "sim/in_process_link.h"
#include "sim/written_file_check.h"
#include "tests/engine/engine_fixture.h"

namespace vantlebld::test {
namespace {

std::string Hex(const std::vector<std::string>& records) {
  return JoinLines(records) + kHexEnd + "\n";
}
// PIC18 words as HEX bytes, low byte first.
std::initializer_list<uint8_t> kNoJump18 = {0x01, 0x0E, 0x81, 0x6E,
                                            0,    0,    0,    0};  // MOVLW, MOVWF, NOP, NOP
const std::string kMain18 = HexRecord(0x400, 0, {0x01, 0x0E, 0xFF, 0xD7});  // MOVLW 1, BRA $
const std::string kWont = "HEX file would not start: ";
const std::string kNoEEPROMHint =
    " (write without EEPROM with --no-eeprom, or untick Write EEPROM)";

struct PlanCase {
  const char* name;
  uint8_t code;
  std::string file;        // an example's name, or a HEX text made here
  std::string error = {};  // empty: written
  bool eeprom = true;
  bool force = false;  // the user said to write a file of another family anyway
};

// Zones by hand: PIC18F252 2*(32*8+4) = 208h below 8000h: slot 7DF8h,
// entry 7E00h; PIC16F876A slot at word 1F00h; dsPIC30F4013 4*(32*8+32) =
// 480h below 10000h: entry HEX FC00h, program address 7E00h.
// clang-format off
const PlanCase kPlans[] = {
    {"16F file on PIC18", 0x41, "pic16f877a_blink", "HEX file holds PIC16F code, the PIC is a PIC18F252"},
    // Forced, its CLRF PCLATH (018Ah), GOTO 100h (2900h) and two NOPs hold no PIC18 jump.
    {"16F file forced on PIC18", 0x41, "pic16f877a_blink",
     kWont + "its reset code at 000000h runs into the bootloader at 007E00h (no jump in the first 4 words)",
     true, true},
    {"PIC18 code from 0", 0x41, Hex({HexRecord(0, 0, kNoJump18), kMain18}),
     kWont + "its reset code at 000000h runs into the bootloader at 007E00h (no jump in the first 4 words)"},
    {"no code at all", 0x41, Hex({}),
     kWont + "it has no reset code at 000000h, so the PIC would stay in its bootloader at 007E00h"},
    // GOTO 7E00h: EF00h, F03Fh.
    {"GOTO into the zone", 0x41, Hex({HexRecord(0, 0, {0x00, 0xEF, 0x3F, 0xF0}), kMain18}),
     kWont + "its reset code at 000000h jumps to 007E00h, inside the bootloader zone (007DF8h on)"},
    {"RCALL first", 0x41, Hex({HexRecord(0, 0, {0x00, 0xD8, 0, 0}), kMain18}),
     kWont + "its reset code has a relative RCALL at 000000h, which jumps elsewhere from the reset "
             "slot (start the program with a GOTO)"},
    // MOVLW 1, MOVWF 20h, CALL 10h, GOTO 100h: PCLATH never set, no repair.
    {"16F GOTO without PCLATH", 0x31,
     Hex({HexRecord(0, 0, {0x01, 0x30, 0xA0, 0x00, 0x10, 0x20, 0x00, 0x29})}),
     kWont + "its GOTO at 000003h takes its page from PCLATH, which the reset code does not set: "
             "from the reset slot it would jump into the bootloader's page (set PCLATH before the GOTO)"},
    // MOV #1, W0 (200010h), NOP: no GOTO.
    {"dsPIC30 without GOTO", 0x73, Hex({HexRecord(0, 0, {0x10, 0, 0x20, 0, 0, 0, 0, 0})}),
     kWont + "its reset code at 000000h runs into the bootloader at 007E00h (no jump in its first 2 "
             "instructions)"},
    // PIC18F2620: 1024 bytes of EEPROM, EEPROM blocks reach 256 of them.
    {"EEPROM above FFh", 0x45,
     Hex({HexRecord(0, 0, {0x00, 0xEF, 0x02, 0xF0}), kMain18, HexBase(0xF0), HexRecord(0, 0, {1, 2}),
          HexRecord(0x100, 0, {3}), HexRecord(0x3FC, 0, {4, 5, 6, 7})}),
     "EEPROM data at 100h..3FFh cannot be written: this bootloader's EEPROM blocks address 256 bytes" +
         kNoEEPROMHint},
    {"EEPROM on a PIC without", 0x51,
     Hex({HexRecord(0, 0, {0x00, 0xEF, 0x02, 0xF0}), kMain18, HexBase(0xF0), HexRecord(0, 0, {1})}),
     "EEPROM data at 000h cannot be written: the PIC18F46J50 has no EEPROM" + kNoEEPROMHint},
    // Their neighbours, written.
    {"EEPROM above FFh without the pass", 0x45,
     Hex({HexRecord(0, 0, {0x00, 0xEF, 0x02, 0xF0}), kMain18, HexBase(0xF0), HexRecord(0x100, 0, {3})}),
     "", false},
    {"EEPROM below 100h", 0x45,
     Hex({HexRecord(0, 0, {0x00, 0xEF, 0x02, 0xF0}), kMain18, HexBase(0xF0), HexRecord(0xF0, 0, {1, 2, 3})})},
    // BRA 400h (D1FFh) made absolute in the slot.
    {"PIC18 bra main", 0x41, Hex({HexRecord(0, 0, {0xFF, 0xD1}), kMain18})},
    // GOTO 100h alone: repaired to CLRF PCLATH, GOTO 100h.
    {"16F repaired reset code", 0x31, Hex({HexRecord(0, 0, {0x00, 0x29}), HexRecord(0x200, 0, {0x01, 0x30})})},
};
// clang-format on

class PreflightTest : public EngineFixture {
 protected:
  void SetUp() override { LoadTable(); }
  ~PreflightTest() override { engine.Link = std::make_unique<TOfflineLink>(); }  // before the PIC
  TInProcessLink& Attach(uint8_t code) {
    info = PicTable()[code];
    EXPECT_TRUE(DerivePicGeometry(info));
    pic = std::make_unique<TVirtualPic>(code, info, TSimOptions{.ActivationByte = 0x55});
    return Install<TInProcessLink>(*pic);
  }
  static TJobOptions Options() {
    return {.Port = "sim", .IDCode = 0x55, .SearchSeconds = 1, .WaitMs = 100};
  }
  TPICInfo info;
  std::unique_ptr<TVirtualPic> pic;
};

TEST_F(PreflightTest, RefusedPlansSendNoBlockAndTheirNeighboursStart) {
  for (const PlanCase& c : kPlans) {
    SCOPED_TRACE(c.name);
    Attach(c.code);
    const std::string text = c.file.starts_with(":") ? c.file : ReadText(Example(c.file));
    const std::string file = dir.Write("plan.hex", text);
    TJobOptions o = Options();
    o.WriteEEPROM = c.eeprom;
    o.WriteForeignHex = [&](const std::string&) { return c.force; };
    log.clear();
    const TJobResult r = WriteJob(engine, o, file);
    EXPECT_EQ(r.Error, c.error);
    if (!c.error.empty()) {
      EXPECT_TRUE(pic->Identified());
      EXPECT_EQ(pic->Stats().BlocksReceived, 0);
      EXPECT_TRUE(Logged(Reason(c.error)));
    } else {
      const TBootPath path = JudgeBootPath(info, pic->Flash());
      EXPECT_TRUE(path.Ok) << path.Line;
      const TWrittenFileCheck check =
          CheckWrittenFile(info, text, pic->Flash(), pic->EEPROM(), c.eeprom, false);
      EXPECT_TRUE(check.Ok) << testing::PrintToString(check.Lines);
    }
    // The map of the same file says the same, without being forced.
    if (c.force) continue;
    const TMemoryMap map = MapHexFile(c.code, file, 115200, c.eeprom);
    EXPECT_EQ(map.Refused, !c.error.empty());
    EXPECT_EQ(map.Reason, c.error);
  }
}

TEST_F(PreflightTest, AWriteWithoutAFileEndsBeforeConnecting) {
  TInProcessLink& link = Attach(0x41);
  for (const std::string& name : {std::string(), (dir.Path() / "missing.hex").string()}) {
    const TJobResult r = WriteJob(engine, Options(), name);
    EXPECT_TRUE(r.Error.starts_with("File not found")) << r.Error;
    EXPECT_TRUE(link.Sent().empty());
    EXPECT_FALSE(pic->Identified());
  }
}

}  // namespace
}  // namespace vantlebld::test
