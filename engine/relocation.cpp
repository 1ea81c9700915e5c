// Reset-vector relocation and bootloader protection: the user program's
// first instructions move into the reset slot at the start of the
// bootloader zone, address 0 gets a jump to the bootloader's entry, and a
// HEX file that reaches into the bootloader's own code is refused.
#include "engine/assert.h"
#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr int kData = 0;
constexpr int32_t kSlotBytes = 8;  // four 16F/18F words or two dsPIC instructions
constexpr uint8_t kOptionNoRelocation = 4;

// 14-bit PIC16F instructions.
constexpr uint16_t k16FGotoMask = 0x3800, k16FGoto = 0x2800;
constexpr uint16_t k16FPclathWholeMask = 0x3EFF, k16FPclathWhole = 0x008A;  // MOVWF/CLRF PCLATH
constexpr uint16_t k16FPclathBitMask = 0x3BFF;                              // BCF/BSF PCLATH,b
constexpr uint16_t k16FPclathBit3 = 0x118A, k16FPclathBit4 = 0x120A;
constexpr uint16_t k16FHarmlessMask = 0x3F9F;  // NOP in any of its forms
constexpr uint16_t k16FClrfPclath = 0x018A;
constexpr uint16_t k16FMovlw = 0x3000;
constexpr uint16_t k16FMovwfPclath = 0x008A;
constexpr uint16_t k16FGotoAddressMask = 0x07FF;
// PIC18 GOTO: two words, EFkk then Fkkk.
constexpr uint16_t k18FGotoMask = 0xFF00, k18FGoto1 = 0xEF00, k18FGoto2 = 0xF000;
// dsPIC GOTO: 04kkkk then 0000kk, each in a 4-byte HEX group.
constexpr uint8_t kDsGotoOpcode = 0x04;
// The dsPIC bootloader entry sits on a 64-address boundary.
constexpr int32_t kDsEntryAlign = 64;

}  // namespace

void TVantleBootloader::ReallocateReset() {
  if (Is16F(pic.Family)) {
    Prepare16FPre();
  } else if (Is18F(pic.Family)) {
    Prepare18FPre();
  } else if (IsDsPIC(pic.Family)) {
    PrepareDSPre();
  } else {
    throw EVantleError("Impossible");
  }
  if ((pic.Options & kOptionNoRelocation) != 0) {
    Log(LogDetail, "  NO Realloc ");
    return;
  }
  const int32_t slot = pic.StartBldZone;
  // The device table refuses zones without room for the slot; the image is
  // sized from the same table.
  VANTLE_ASSERT(slot >= kSlotBytes && int64_t{slot} + kSlotBytes <= pic.FlashSize &&
                    static_cast<int64_t>(FlashData.size()) >= pic.FlashSize,
                "Reset slot outside the flash image");
  Log(LogDetail,
      Format("  Reallocate RESET to [%.5Xh..%.5Xh] (byte addr)", slot, slot + kSlotBytes - 1));
  for (int32_t i = 0; i < kSlotBytes; ++i) {
    SetByte(slot + i, kData, GetByte(i, kData));
    MarkPresent(slot + i);
    ClearPresent(i);
  }
  const int32_t protectedFirst = slot + 4 * pic.BytesPerInstrPC;
  const int32_t protectedLast = slot + pic.SizeOfBLDBytesPC - 1;
  for (int32_t a = protectedFirst; a <= protectedLast; ++a) {
    if (IsPresent(a)) {
      Log(LogIndent6, "Overwriting bootloader denied");
      Log(LogIndent6 | LogDetail,
          Format("Address: %.5Xh. Protected=[%.5Xh..%.5Xh]", a, protectedFirst, protectedLast));
      throw EVantleError("Overwriting bootloader denied");
    }
  }
  if (Is16F(pic.Family)) {
    Prepare16FAfter();
  } else if (Is18F(pic.Family)) {
    Prepare18FAfter();
  } else {
    PrepareDSAfter();
  }
}

void TVantleBootloader::Prepare16FPre() {
  Log(LogDetail, "Prepare16FPre - check HEX and GOTO");
  if (Hex18FCode) Log(LogIndent6, "WARNING: PIC16F and HEX(18F)");
  bool hasGoto = false, pclathWhole = false, bit3 = false, bit4 = false;
  for (int32_t w = 0; w < 4; ++w) {
    const uint16_t word = GetWord(w, kData);
    hasGoto |= (word & k16FGotoMask) == k16FGoto;
    pclathWhole |= (word & k16FPclathWholeMask) == k16FPclathWhole;
    bit3 |= (word & k16FPclathBitMask) == k16FPclathBit3;
    bit4 |= (word & k16FPclathBitMask) == k16FPclathBit4;
  }
  if (!hasGoto) {
    Log(LogIndent6, "WARNING: GOTO not found in first 4 words!");
    Log(LogIndent6,
        "If using a compiler, maybe you should write some directive to enable the use of "
        "bootloaders, or "
        "maybe you could fix it by adding an interrupt handler to your program.");
  }
  // The reset code runs from the slot at the top of flash: unless it sets
  // PCLATH itself, its GOTO would jump into the bootloader's page.
  if (pclathWhole || (bit3 && bit4)) return;
  Log(LogIndent6, "WARNING: PCLATH not fully initialised before GOTO! ");
  const auto harmless = [this](int32_t w) {
    const bool present = IsPresent(2 * w) || IsPresent(2 * w + 1);
    return !present || (GetWord(w, kData) & k16FHarmlessMask) == 0;
  };
  const auto isGoto = [this](int32_t w) { return (GetWord(w, kData) & k16FGotoMask) == k16FGoto; };
  if (isGoto(0) && harmless(1) && !(harmless(2) && harmless(3))) {
    SetWord(1, kData, GetWord(0, kData));
    SetWord(0, kData, k16FClrfPclath);
    Log(LogAppend, "... sucessfully repaired.");
  } else if (harmless(3)) {
    SetWord(3, kData, GetWord(2, kData));
    SetWord(2, kData, GetWord(1, kData));
    SetWord(1, kData, GetWord(0, kData));
    SetWord(0, kData, k16FClrfPclath);
    Log(LogAppend, "... sucessfully repaired.");
  } else {
    Log(LogAppend, "... could not repair !!!");
    Log(LogIndent6,
        "Maybe you sould use some directive in your compiler to enable the use of bootloaders");
  }
}

void TVantleBootloader::Prepare16FAfter() {
  const int32_t t = (pic.StartBldZone + pic.BldSlotInstr * pic.BytesPerInstrPC) / 2;
  SetWord(0, kData, static_cast<uint16_t>(k16FMovlw | (t >> 8)));
  SetWord(1, kData, k16FMovwfPclath);
  SetWord(2, kData, static_cast<uint16_t>(k16FGoto | (t & k16FGotoAddressMask)));
  // The first block must go out even when the HEX file left it empty.
  MarkPresent(0);
  MarkPresent(1);
  MarkPresent(2);
  Log(LogDetail, Format("Prepare16FAfter - 0>+Goto %.4x", t));
}

void TVantleBootloader::Prepare18FPre() {
  Log(LogDetail, "Prepare18FPre - Check HEX and GOTO");
  if (!Hex18FCode) Log(LogIndent6, "WARNING: PIC18F and HEX(16F)");
  bool hasGoto = false;
  for (int32_t w = 0; w < 4; ++w)
    hasGoto |= (GetWord(w, kData) & k18FGotoMask) == k18FGoto1;
  if (!hasGoto) Log(LogIndent6, "WARNING: GOTO not found in first 4 words");
}

void TVantleBootloader::Prepare18FAfter() {
  const int32_t t = pic.StartBldZone / 2 + pic.BldSlotInstr;
  SetWord(0, kData, static_cast<uint16_t>(k18FGoto1 | (t & 0xFF)));
  SetWord(1, kData, static_cast<uint16_t>(k18FGoto2 | (t >> 8)));
  Log(LogDetail, Format("Prepare18FAfter - 0>Goto %.4x", 2 * t));
}

void TVantleBootloader::PrepareDSPre() {
  Log(LogDetail, "PrepareDSPre - Check HEX and GOTO");
  if (!HexDsPIC) {
    Log(LogIndent6, "WARNING: dsPIC and other HEX");
    return;
  }
  const bool isGoto = GetByte(2, kData) == kDsGotoOpcode && GetByte(3, kData) == 0 &&
                      GetByte(5, kData) == 0 && GetByte(6, kData) == 0 && GetByte(7, kData) == 0;
  if (!isGoto) Log(LogIndent6, "GOTO not found. How is this possible?");
}

void TVantleBootloader::PrepareDSAfter() {
  const int32_t t = (pic.StartBldZone + pic.BldSlotInstr * 4) / 2;
  VANTLE_ASSERT(t % kDsEntryAlign == 0, "Bootloader entry not on a 64-address boundary");
  const uint8_t bytes[kSlotBytes] = {static_cast<uint8_t>(t & 0xFF),
                                     static_cast<uint8_t>((t >> 8) & 0xFF),
                                     kDsGotoOpcode,
                                     0,
                                     static_cast<uint8_t>((t >> 16) & 0xFF),
                                     0,
                                     0,
                                     0};
  for (int32_t i = 0; i < kSlotBytes; ++i)
    SetByte(i, kData, bytes[i]);
  Log(LogDetail, Format("PrepareDSAfter - 0>Goto %x", t));
}

}  // namespace vantlebld
