// The virtual PIC in-process: what each family's firmware does with the
// host's blocks, the judges that follow its reset and compare its memory
// with the file, and vantlebld-sim's command line.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/format.h"
#include "sim/boot_path.h"
#include "sim/pic_memory.h"
#include "sim/sim_options.h"
#include "sim/virtual_pic.h"
#include "sim/written_file_check.h"
#include "tests/sim/sim_test_support.h"

namespace vantlebld::test {
namespace {

constexpr uint8_t kId = 0xC1;

// --- The firmware ---

// One model per family: B, C, J, K, D, E.
class FamilyTest : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FamilyTest, WritesGoodBlocksOutsideItsOwnCodeAndExportsAllOfItsMemory) {
  const TPICInfo info = TablePic(GetParam());
  TVirtualPic pic(GetParam(), info);
  const uint32_t unit = UnitBytes(info), at = 2 * unit, code = pic.Memory().CodeStart();
  const std::vector<uint8_t> erased = pic.Flash();
  Bytes hex(unit);  // counting up from 10h; dsPIC phantom bytes 00h
  for (size_t i = 0; i < unit; ++i)
    hex[i] = IsDsPIC(info.Family) && i % 4 == 3 ? 0x00 : static_cast<uint8_t>(0x10 + i);
  ASSERT_EQ(Send(pic, {kId}, 0), std::string({static_cast<char>(GetParam()), 'K'}));
  Bytes block = FlashBlock(info, at, hex);
  block.back() ^= 0x01;
  EXPECT_EQ(Send(pic, block, 5), "N");
  EXPECT_EQ(pic.Flash(), erased);
  block.back() ^= 0x01;
  EXPECT_EQ(Send(pic, block, 5), "K");
  EXPECT_TRUE(std::equal(hex.begin(), hex.end(), pic.Flash().begin() + at));
  EXPECT_TRUE(std::equal(&erased[at - 4], &erased[at], &pic.Flash()[at - 4]));
  // A block into the firmware is answered 'K' like any other, but leaves
  // the code alone: the host is at fault and is told so.
  EXPECT_EQ(Send(pic, FlashBlock(info, code, Bytes(unit, 0x00)), 5), "K");
  EXPECT_TRUE(std::equal(erased.begin() + code, erased.end(), pic.Flash().begin() + code));
  EXPECT_EQ(pic.Stats().HostErrors,
            std::vector{Format("host wrote into the bootloader's code at %06Xh (block 3)", code)});

  const auto exported = ParseHex(pic.ExportHex());
  for (uint32_t a = 0; a < pic.Flash().size(); ++a) {
    const auto it = exported.find(a);
    ASSERT_TRUE(it != exported.end() && it->second == pic.Flash()[a]) << Format("at %06Xh", a);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, FamilyTest,
                         ::testing::Values(0x31, 0x41, 0x51, 0x61, 0x71, 0x82));

TEST(VirtualPic, EraseCommandErasesOnePage) {
  for (const uint8_t code : {uint8_t{0x41}, uint8_t{0x51}, uint8_t{0x61}, uint8_t{0x81}}) {
    SCOPED_TRACE(Format("code %02Xh", code));
    const TPICInfo info = TablePic(code);
    TVirtualPic pic(code, info);
    const uint32_t page = static_cast<uint32_t>(info.ErasePageInstr) * info.BytesPerInstrPC,
                   unit = UnitBytes(info);
    const std::vector<uint8_t> erased = pic.Flash();
    Send(pic, {kId}, 0);
    // The last block below the page and every block of it.
    for (uint32_t a = page - unit; a < 2 * page; a += unit)
      ASSERT_EQ(Send(pic, FlashBlock(info, a, Bytes(unit, 0x5A)), 1), "K");
    // The erase command: a block of two 00h bytes at the page.
    EXPECT_EQ(Send(pic, FlashBlock(info, page, Bytes(2, 0x00)), 2), "K");
    EXPECT_TRUE(std::equal(&erased[page], &erased[2 * page], &pic.Flash()[page]));
    EXPECT_EQ(pic.Flash()[page - 2], 0x5A);
    EXPECT_TRUE(pic.Stats().HostErrors.empty());
  }
}

// Each block lands in the EEPROM or the configuration, read back through
// the export at the address a HEX file gives it; or the firmware cannot
// carry it out, answers 'K' all the same, changes nothing and tells the host.
TEST(VirtualPic, BlocksLandWhereAHexFileHasThemOrAreHostErrors) {
  const struct {
    uint8_t code;
    Bytes block;
    uint32_t hexAddress;
    Bytes hexBytes;
    const char* error;
  } cases[] = {
      {0x31, {0x40, 0x00, 0x01, 0xB6, 0x09}, 0x4200, {0xB6, 0x00}, nullptr},
      {0x31, Sealed({0x40, 0x05, 0x01, 0x5A}), 0x420A, {0x5A, 0x00}, nullptr},
      {0x41, {0x40, 0x00, 0xB6, 0x00, 0x0A}, 0xF00000, {0xB6}, nullptr},
      {0x41, {0xB0, 0x00, 0x03, 0x01, 0xFF, 0x4D}, 0x300003, {0xFF}, nullptr},
      {0x71, {0x00, 0xFC, 0x7F, 0x02, 0x12, 0x00, 0x71}, 0xFFF800, {0x12, 0, 0, 0}, nullptr},
      {0x71, Sealed({0x02, 0x00, 0xF8, 0x02, 0x34, 0x12}), 0x1F00004, {0x34, 0x12, 0, 0}, nullptr},
      {0x31, FlashBlock(TablePic(0x31), 0x4000, Bytes(64, 0)), 0, {}, "past the end of flash"},
      {0x31, FlashBlock(TablePic(0x31), 0x100, Bytes(32, 0)), 0, {}, "flash block of 32 bytes"},
      {0x41, Sealed({0xAF, 0xFF, 0xFF, 0x01, 0x00}), 0, {}, "configuration write at 2FFFFFh"},
      {0x81, Sealed({0x40, 0, 0, 0, 0x02, 0, 0, 0}), 0, {}, "not start an erase page"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Format("code %02Xh, %06Xh, %s", c.code, c.hexAddress, c.error ? c.error : ""));
    TVirtualPic pic(c.code, TablePic(c.code));
    const std::string untouched = pic.ExportHex();
    Send(pic, {kId}, 0);
    EXPECT_EQ(Send(pic, c.block, 1), "K");
    const auto hex = ParseHex(pic.ExportHex());
    for (size_t i = 0; i < c.hexBytes.size(); ++i)
      EXPECT_EQ(hex.at(c.hexAddress + static_cast<uint32_t>(i)), c.hexBytes[i]);
    const auto& errors = pic.Stats().HostErrors;
    ASSERT_EQ(errors.size(), c.error ? 1u : 0u);
    if (c.error) {
      EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
      EXPECT_EQ(pic.ExportHex(), untouched);
    }
  }
}

// The program's remote reset: after a job the program echoes until the
// reset codes arrive in a row (a code alone is only echoed), then the
// bootloader answers the activation byte again. The host waits out its
// answer time-out before the first block: the blocks of the earlier job
// must not let that quiet start the program, the next job's blocks do.
// (Each start's boot-path line: the CLI's watch test reads them.)
TEST(VirtualPic, ResetCodesRestartTheBootloader) {
  TVirtualPic pic(0x41, TablePic(0x41),
                  {.Faults = {}, .RunAfterWrite = true, .ResetCodes = std::string("\x80\x12", 2)});
  const Bytes block = FlashBlock(pic.Pic(), 0x100, Bytes(UnitBytes(pic.Pic()), 0x11));
  EXPECT_EQ(Send(pic, {kId}, 0), "AK");
  EXPECT_EQ(Send(pic, block, 1), "K");
  pic.Advance(1 + TVirtualPic::kRunAfterIdleMs);
  ASSERT_TRUE(pic.ProgramRunning());
  EXPECT_EQ(Send(pic, {'a', 0x80, 'b', 0x12, 0x80, 0x12}, 400),
            (std::string{'a', '\x80', 'b', '\x12', '\x80'}));
  EXPECT_FALSE(pic.ProgramRunning());
  EXPECT_EQ(Send(pic, {kId}, 402), "AK");
  pic.Advance(402 + 10 * TVirtualPic::kRunAfterIdleMs);
  EXPECT_FALSE(pic.ProgramRunning());
  EXPECT_EQ(Send(pic, block, 4000), "K");
  pic.Advance(4000 + TVirtualPic::kRunAfterIdleMs);
  EXPECT_TRUE(pic.ProgramRunning());
  EXPECT_EQ(pic.Stats().RemoteResets, 1);
}

// --- The boot-path judge and the written-file check ---
// On real lines of the device table and flash images built by hand from
// instruction encodings.
//
// Zones worked out by hand: size = bytes/instr * (ErasePageInstr * BldPages +
// BldSlotInstr), at the top of flash; slot at its start, entry BldSlotInstr
// instructions later. Program addresses: 16F and dsPIC HEX byte / 2.
//   31h PIC16F876A   2*(4*56+32)  = 200h below 4000h: slot 1F00h, entry 1F20h
//   35h PIC16F88     2*(32*7+32)  = 200h below 2000h: slot 0F00h, entry 0F20h
//   41h PIC18F252    2*(32*8+4)   = 208h below 8000h: slot 7DF8h, entry 7E00h
//   71h dsPIC30F2010 4*(32*8+32)  = 480h below 4000h: slot 1DC0h, entry 1E00h
//   82h dsPIC33FJ32MC202 4*(512+128) = A00h below B000h: slot 5300h, entry 5400h

// Instructions in HEX layout: 16-bit words low byte first, dsPIC 24-bit
// instructions low byte first and a phantom 00h.
Bytes Code(uint8_t family, const std::vector<uint32_t>& words) {
  Bytes b;
  for (uint32_t w : words) {
    b.insert(b.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
    if (IsDsPIC(family)) b.insert(b.end(), {static_cast<uint8_t>(w >> 16), 0x00});
  }
  return b;
}

// The fresh virtual PIC's flash (jump at 0 to the entry, stub there to the
// slot), or the one given, with the words put at HEX byte at.
Bytes Flash(const TPICInfo& pic, uint32_t at, const std::vector<uint32_t>& words,
            Bytes flash = {}) {
  if (flash.empty()) flash = TPicMemory(pic).Flash();
  const Bytes code = Code(pic.Family, words);
  std::copy(code.begin(), code.end(), flash.begin() + at);
  return flash;
}

template <class... T>
std::vector<uint32_t> W(T... words) {
  return {static_cast<uint32_t>(words)...};
}

TEST(BootPath, FollowsResetToTheProgramOrSaysWhereItBreaks) {
  const std::string kBroken = "boot path broken: ";
  const struct {
    uint8_t Code;
    uint32_t At;
    std::vector<uint32_t> Words;
    int64_t Target;
    std::string Line;
    bool Reaches = false;  // reset reaches the bootloader's entry
  } cases[] = {
      // 16F: CLRF PCLATH, GOTO 5.
      {0x31, 0x3E00, W(0x018A, 0x2805), 5,
       "boot path: 000000 -> 001F20 (bootloader) -> 001F00 (slot) -> 000005", true},
      // GOTO 5 alone: the stub left PCLATH = 1Fh, page bits 18h -> 1805h.
      {0x31, 0x3E00, W(0x2805), 0x1805,
       "boot path: 000000 -> 001F20 (bootloader) -> 001F00 (slot) -> 001805", true},
      {0x31, 0x3E00, W(0x2005 /* CALL 5 */), -1,
       kBroken + "slot: CALL at 001F00h cannot be followed", true},
      // No relocation: GOTO 40h at 0 is the program start; through the
      // bootloader it must still reach the slot's CLRF PCLATH, GOTO 40h.
      {0x35, 0, W(0x2840), 0x40, "boot path: 000000 -> 000040"},
      {0x35, 0x1E00, W(0x018A, 0x2840), 0x40,
       "boot path: 000000 -> 000F20 (bootloader) -> 000F00 (slot) -> 000040", true},
      // PIC18: GOTO 400h = EF00h F002h (word address 200h).
      {0x41, 0x7DF8, W(0xEF00, 0xF002), 0x400,
       "boot path: 000000 -> 007E00 (bootloader) -> 007DF8 (slot) -> 000400", true},
      // BRA 400h from 0 (n = 1FFh) moved to 7DF8h: 7DF8h + 2 + 3FEh.
      {0x41, 0x7DF8, W(0xD1FF), -1, kBroken + "slot jumps past the end of flash at 0081F8h", true},
      {0x41, 0x7DF8, W(), -1, kBroken + "the reset slot is empty", true},
      // Erased words run as no-ops: an erased PIC slides into its bootloader,
      // unless code stands in the way (a page written after a cut erase).
      {0x41, 0, W(0xFFFF, 0xFFFF, 0x0E01 /* MOVLW 1 */), -1,
       kBroken + "address 0 is erased and slides into code at 000004h"},
      {0x41, 0, W(0xFFFF, 0xFFFF), -1,
       kBroken + "address 0 is erased: the PIC slides through erased flash into its bootloader, "
                 "and the reset slot is empty",
       true},
      // dsPIC: GOTO 100h = 040100h 000000h.
      {0x71, 0x3B80, W(0x040100, 0x000000), 0x100,
       "boot path: 000000 -> 001E00 (bootloader) -> 001DC0 (slot) -> 000100", true},
      {0x71, 0x3B80, W(0x070010 /* RCALL */), -1,
       kBroken + "slot: RCALL at 001DC0h cannot be followed", true},
      {0x82, 0xA600, W(0x040100, 0x000000), 0x100,
       "boot path: 000000 -> 005400 (bootloader) -> 005300 (slot) -> 000100", true},
      // BRA 100h from 0 (n = 7Fh) moved to 5300h: 5300h + 2 + FEh.
      {0x82, 0xA600, W(0x37007F), -1, kBroken + "slot jumps into the bootloader zone at 005400h",
       true},
  };
  for (const auto& c : cases) {
    const TPICInfo pic = TablePic(c.Code);
    const TBootPath path = JudgeBootPath(pic, Flash(pic, c.At, c.Words));
    EXPECT_EQ(path.Line, c.Line);
    EXPECT_EQ(path.Target, c.Target) << c.Line;
    EXPECT_EQ(path.Ok, c.Target >= 0) << c.Line;
    EXPECT_EQ(path.ReachesBootloader, c.Reaches) << c.Line;
  }
}

TEST(BootPathResetCode, TargetOfTheFileResetCodeFromTheResetState) {
  const struct {
    uint8_t Family;
    std::vector<uint32_t> Words;
    int64_t Target;
    std::string Why;
  } cases[] = {
      {kFamily16F, W(0x3008, 0x008A, 0x2805), 0x805, ""},  // MOVLW 08h, MOVWF PCLATH, GOTO 5
      // MOVWF PCLATH with W unknown, BSF PCLATH,3, BCF PCLATH,4, GOTO 5.
      {kFamily16F, W(0x008A, 0x158A, 0x120A, 0x2805), 0x805, ""},
      {kFamily16F, W(0x008A, 0x2805), -1,
       "reset code: GOTO with PCLATH unknown at 000001h cannot be followed"},
      {kFamily18F, W(0xD1FF), 0x400, ""},  // BRA: 0 + 2 + 2*1FFh
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(ResetCodeTarget({.Family = c.Family}, Code(c.Family, c.Words), why), c.Target)
        << c.Why;
    EXPECT_EQ(why, c.Why);
  }
}

// PIC18F252: GOTO 400h at 0 and two bytes at 400h.
const std::string kHex18F = ":0400000000EF02F01B\n:02040000AA55FB\n:00000001FF\n";

// What the host should leave: the reset code in the slot, AAh 55h at 400h;
// then the words put at HEX byte at.
Bytes Written18F(uint32_t at, const std::vector<uint32_t>& words) {
  const TPICInfo pic = TablePic(0x41);
  return Flash(pic, at, words, Flash(pic, 0x400, W(0x55AA), Flash(pic, 0x7DF8, W(0xEF00, 0xF002))));
}

// Each case: a line that says what the check found.
TEST(WrittenFileCheck, SaysWhatTheHostGotRightOrWrong) {
  const struct {
    bool ClearAll;
    uint32_t At;
    std::vector<uint32_t> Words;
    bool Ok;
    std::string Line;
  } cases[] = {
      {false, 0, W(), true, "boot path: 000000 -> 007E00 (bootloader) -> 007DF8 (slot) -> 000400"},
      {false, 0x400, W(0x54AA), false,
       "1 flash bytes differ from the HEX file, the first at 000401h"},
      // Cleared from 8 up to the slot at 7DF8h: 7DF0h bytes read FFh.
      {true, 0x400, W(0xFFFF), true, "flash holds the HEX file (32240 bytes compared)"},
      {true, 0x400, W(), false, "2 flash bytes differ from the HEX file, the first at 000400h"},
      {false, 0x7DF8, W(0xEF01), false,  // slot: GOTO 402h
       "the reset slot starts the program at 000402h, the HEX file's reset code at 000400h"},
  };
  for (const auto& c : cases) {
    const TWrittenFileCheck check = CheckWrittenFile(
        TablePic(0x41), kHex18F, Written18F(c.At, c.Words), Bytes(256, 0xFF), false, c.ClearAll);
    EXPECT_EQ(check.Ok, c.Ok) << c.Line;
    EXPECT_NE(std::find(check.Lines.begin(), check.Lines.end(), "virtual PIC: " + c.Line),
              check.Lines.end())
        << c.Line;
  }
}

// --- vantlebld-sim's command line ---
// Both value forms, the number notations and
// what is refused. The line faults themselves are played against the
// host's recovery in tests/engine/jobs_test.cpp, the program's stream in
// pty_server_test.cpp.
TEST(SimCommandLine, ReadsValuesAfterASpaceOrAnEqualsSignInAnyNumberNotation) {
  const TSimCommandLine c = ParseSimCommandLine({"--code", "41h", "--piccodes=t.ini", "--baud-pace",
                                                 "0x1C200", "--drop", "3@0Ah", "--run-after-write",
                                                 "--stream=10000000", "--reset-codes", "128, 12h"});
  EXPECT_EQ(std::tuple(c.Code, c.PicCodes, c.BaudPace, c.Options.StreamRate),
            std::tuple(0x41, "t.ini", 115200, 10'000'000));
  EXPECT_EQ(std::pair(c.Options.Faults.DropBytes, c.Options.Faults.DropBlock), std::pair(3, 10));
  EXPECT_TRUE(c.Options.RunAfterWrite && !c.Options.RunProgramAtStart);
  EXPECT_EQ(c.Options.ResetCodes, std::string("\x80\x12", 2));
  EXPECT_EQ(ParseSimCommandLine({"--code", "41"}).Code, 41);  // plain digits are decimal
}

TEST(SimCommandLine, RefusesWhatCannotBeRun) {
  const std::vector<std::string> refused[] = {
      {},
      {"--code", "0"},
      {"--code", "100h"},
      {"--code", "41", "--stream", "100"},  // nothing runs the stream
      {"--code", "41", "--run-after-write", "--stream", "10000001"},
      {"--code", "41", "--reset-codes", "128"},  // no program to reset
      {"--code", "41", "--run-program", "--reset-codes", "256"},
      {"--code", "41", "--drop", "3"},
      {"--code", "41", "--drop", "0@1"},
      {"--code", "41", "--id", "256"},
      {"--code", "41", "--echo=1"},
      {"--code", "41", "--link"},
      {"--code", "41", "stray"}};
  for (const auto& args : refused)
    EXPECT_THROW(ParseSimCommandLine(args), TSimUsageError) << testing::PrintToString(args);
}

}  // namespace
}  // namespace vantlebld::test
