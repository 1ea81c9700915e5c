// The boot-path judge and the written-file check, on real lines of the
// device table and flash images built by hand from instruction encodings.
//
// Zones worked out by hand: size = bytes/instr * (ErasePageInstr * BldPages +
// BldSlotInstr), at the top of flash; slot at its start, entry BldSlotInstr
// instructions later. Program addresses: 16F and dsPIC HEX byte / 2.
//   31h PIC16F876A   2*(4*56+32)  = 200h below 4000h: slot 1F00h, entry 1F20h
//   35h PIC16F88     2*(32*7+32)  = 200h below 2000h: slot 0F00h, entry 0F20h
//   41h PIC18F252    2*(32*8+4)   = 208h below 8000h: slot 7DF8h, entry 7E00h
//   71h dsPIC30F2010 4*(32*8+32)  = 480h below 4000h: slot 1DC0h, entry 1E00h
//   82h dsPIC33FJ32MC202 4*(512+128) = A00h below B000h: slot 5300h, entry 5400h
#include "sim/boot_path.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/pic_memory.h"
#include "sim/written_file_check.h"
#include "tests/sim/sim_test_support.h"

namespace vantlebld::test {
namespace {

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
    TPICInfo pic;
    pic.Family = c.Family;
    std::string why;
    EXPECT_EQ(ResetCodeTarget(pic, Code(c.Family, c.Words), why), c.Target) << c.Why;
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

}  // namespace
}  // namespace vantlebld::test
