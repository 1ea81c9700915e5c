// Reset-vector relocation and bootloader protection: the user program's
// first instructions move into the reset slot at the start of the
// bootloader zone, address 0 gets a jump to the bootloader's entry, and a
// HEX file that reaches into the bootloader's own code is refused.
#include "engine/assert.h"
#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/pic_instructions.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr int kData = 0;
constexpr int32_t kSlotBytes = kResetSlotBytes;

}  // namespace

std::string TVantleBootloader::ForeignHexReason() const {
  std::string holds;
  if (Is16F(pic.Family) && Hex18FCode) {
    holds = HexDsPIC ? "dsPIC" : "PIC18";  // no 14-bit word has the top bits of a byte set
  } else if (IsDsPIC(pic.Family) && !HexDsPIC) {
    holds = Hex18FCode ? "PIC18" : "PIC16F or PIC18";  // a dsPIC group's fourth byte is always 0
  } else if (Is18F(pic.Family) && HexByteCount > 0) {
    // A small PIC18 program could pass for either; it takes --force then.
    if (HexDsPIC) {
      holds = "dsPIC";
    } else if (!Hex18FCode) {
      holds = "PIC16F";
    }
  }
  if (holds.empty()) return {};
  return Format("HEX file holds %s code, the PIC is a %s", holds.c_str(), pic.Name.c_str());
}

void TVantleBootloader::Note(TRelocationNote::TKind kind, int64_t address, const std::string& text,
                             bool plain) {
  RelocationNotes.push_back({kind, address, text, {}});
  Report({TRelocationWarningEvent{RelocationNotes.back(), plain}});
}

void TVantleBootloader::ReallocateReset(bool allowForeignHex) {
  RelocationNotes.clear();
  if (Is16F(pic.Family)) {
    Prepare16FPre();
  } else if (Is18F(pic.Family)) {
    Prepare18FPre();
  } else if (IsDsPIC(pic.Family)) {
    PrepareDSPre();
  } else {
    throw EVantleError(
        Format("Type %02Xh has family %d in the device table, which this program "
               "cannot write: check its line in piccodes.ini",
               PICType, pic.Family));
  }
  if (const std::string foreign = ForeignHexReason(); !foreign.empty() && !allowForeignHex) {
    Say(TLineRole::Problem, foreign);
    throw EVantleError(foreign);
  }
  const int32_t slot = pic.StartBldZone;
  // The device table refuses zones without room for the slot; the image is
  // sized from the same table.
  VANTLE_ASSERT(slot >= kSlotBytes && int64_t{slot} + kSlotBytes <= pic.FlashSize &&
                    static_cast<int64_t>(FlashData.size()) >= pic.FlashSize,
                "Reset slot outside the flash image");
  const bool relocate = (pic.Options & kOptionNoRelocation) == 0;
  if (relocate) {
    Say(TLineRole::Plain,
        Format("  Reallocate RESET to [%.5Xh..%.5Xh] (byte addr)", slot, slot + kSlotBytes - 1),
        true);
  }
  if (HexFlashPastEnd >= 0) {
    const std::string why = Format("HEX file has code past the end of flash, at %.5llXh",
                                   static_cast<unsigned long long>(HexFlashPastEnd));
    Say(TLineRole::Problem, why);
    throw EVantleError(why);
  }
  // Checked on the file's own marks, before the copy marks the slot: a
  // byte of the file in the slot would be lost under the moved reset code.
  // Also without relocation, the zone is the bootloader's.
  RefuseBootloaderZoneData();
  if (!relocate) {
    Say(TLineRole::Plain, "  NO Realloc ", true);
    return;
  }
  for (int32_t i = 0; i < kSlotBytes; ++i) {
    SetByte(slot + i, kData, GetByte(i, kData));
    MarkPresent(slot + i);
    ClearPresent(i);
  }
  if (Is16F(pic.Family)) {
    Prepare16FAfter();
  } else if (Is18F(pic.Family)) {
    MakeSlotBranch18FAbsolute();
    Prepare18FAfter();
  } else {
    MakeSlotBranchDSAbsolute();
    PrepareDSAfter();
  }
}

void TVantleBootloader::RefuseBootloaderZoneData() {
  const int32_t zoneFirst = pic.StartBldZone;
  // On dsPIC the two instructions after the slot's first two may come from
  // the file; everything else of the zone is the slot or the firmware.
  const int32_t holeFirst = zoneFirst + kSlotBytes;
  const int32_t holeEnd = zoneFirst + 4 * pic.BytesPerInstrPC;
  const int32_t zoneLast = zoneFirst + pic.SizeOfBLDBytesPC - 1;
  for (int32_t a = zoneFirst; a <= zoneLast; ++a) {
    if (a >= holeFirst && a < holeEnd) continue;
    if (IsPresent(a)) {
      Say(TLineRole::Problem, "Overwriting bootloader denied");
      Say(TLineRole::Problem,
          Format("Address: %.5Xh. Protected=[%.5Xh..%.5Xh]", a, zoneFirst, zoneLast), true);
      throw EVantleError(
          "Overwriting bootloader denied", EVantleError::Kind::General,
          Format("The HEX file has data at %.6Xh, inside the bootloader zone %.6Xh..%.6Xh: keep "
                 "the program below %.6Xh (or check the zone's size in piccodes.ini)",
                 a, zoneFirst, zoneLast, zoneFirst));
    }
  }
}

void TVantleBootloader::Prepare16FPre() {
  Say(TLineRole::Plain, "Prepare16FPre - check HEX and GOTO", true);
  using enum TRelocationNote::TKind;
  if (Hex18FCode) Note(ForeignCode, -1, "PIC16F and HEX(18F)");
  bool hasGoto = false, pclathWhole = false, bit3 = false, bit4 = false;
  for (int32_t w = 0; w < 4; ++w) {
    const uint16_t word = GetWord(w, kData);
    hasGoto |= (word & k16FGotoMask) == k16FGoto;
    pclathWhole |= (word & k16FPclathWholeMask) == k16FPclathWhole;
    bit3 |= (word & k16FPclathBitMask) == k16FPclathBit3;
    bit4 |= (word & k16FPclathBitMask) == k16FPclathBit4;
  }
  if (!hasGoto) {
    Note(NoGoto, 0, "GOTO not found in first 4 words!");
    Say(TLineRole::Problem,
        "If using a compiler, maybe you should write some directive to enable the use of "
        "bootloaders, or "
        "maybe you could fix it by adding an interrupt handler to your program.");
  }
  // The reset code runs from the slot at the top of flash: unless it sets
  // PCLATH itself, its GOTO would jump into the bootloader's page.
  if (pclathWhole || (bit3 && bit4)) return;
  Note(PclathUnset, 0, "PCLATH not fully initialised before GOTO! ");
  const auto repaired = [this](const char* outcome) {
    RelocationNotes.back().Repair = outcome;
    Say(TLineRole::Continued, outcome);
  };
  const auto harmless = [this](int32_t w) {
    const bool present = IsPresent(2 * w) || IsPresent(2 * w + 1);
    return !present || (GetWord(w, kData) & k16FHarmlessMask) == 0;
  };
  const auto isGoto = [this](int32_t w) { return (GetWord(w, kData) & k16FGotoMask) == k16FGoto; };
  if (isGoto(0) && harmless(1) && !(harmless(2) && harmless(3))) {
    SetWord(1, kData, GetWord(0, kData));
    SetWord(0, kData, k16FClrfPclath);
    repaired("... successfully repaired.");
  } else if (harmless(3)) {
    SetWord(3, kData, GetWord(2, kData));
    SetWord(2, kData, GetWord(1, kData));
    SetWord(1, kData, GetWord(0, kData));
    SetWord(0, kData, k16FClrfPclath);
    repaired("... successfully repaired.");
  } else {
    repaired("... could not repair !!!");
    Say(TLineRole::Problem,
        "Maybe you should use some directive in your compiler to enable the use of bootloaders");
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
  Report({TRelocatedEvent{pic.Family, pic.StartBldZone, t, RelocationNotes}});
}

namespace {

bool Is18FGoto(uint16_t w) {
  return (w & k18FGotoMask) == k18FGoto1;
}
bool Is18FBra(uint16_t w) {
  return (w & k18FBraMask) == k18FBra;
}
// The name of a PIC18 relative instruction other than BRA, or nullptr.
const char* Relative18FName(uint16_t w) {
  if ((w & k18FBraMask) == k18FRcall) return "RCALL";
  if ((w & k18FCondMask) == k18FCond) return "conditional branch";
  return nullptr;
}
const char* RelativeDsName(uint8_t opcode) {
  if (opcode == kDsBra) return "BRA";
  if (opcode == kDsRcall) return "RCALL";
  if ((opcode >= kDsCondFirst && opcode <= kDsCondLast) ||
      (opcode >= kDsCondAccFirst && opcode <= kDsCondAccLast))
    return "conditional branch";
  return nullptr;
}
bool IsDsGoto(const TVantleBootloader& e, int32_t at) {
  return e.GetByte(at + 2, kData) == kDsGotoOpcode && e.GetByte(at + 3, kData) == 0 &&
         e.GetByte(at + 5, kData) == 0 && e.GetByte(at + 6, kData) == 0 &&
         e.GetByte(at + 7, kData) == 0;
}
// The index of the first of words 0..2 that is an unconditional BRA before
// any GOTO, or -1: such a BRA is made absolute in the slot.
int32_t MovableBra18F(const TVantleBootloader& e, int32_t firstWord) {
  for (int32_t i = 0; i < 4; ++i) {
    const uint16_t w = e.GetWord(firstWord + i, kData);
    if (Is18FGoto(w)) return -1;
    if (Is18FBra(w)) return i < 3 ? i : -1;
  }
  return -1;
}

}  // namespace

void TVantleBootloader::Put18FGoto(int32_t word, int32_t target) {
  const int32_t k = target / 2;  // GOTO takes a word address
  SetWord(word, kData, static_cast<uint16_t>(k18FGoto1 | (k & 0xFF)));
  SetWord(word + 1, kData, static_cast<uint16_t>(k18FGoto2 | ((k >> 8) & 0x0FFF)));
}

void TVantleBootloader::PutDsGoto(int32_t at, int32_t target) {
  const uint8_t bytes[kSlotBytes] = {static_cast<uint8_t>(target & 0xFF),
                                     static_cast<uint8_t>((target >> 8) & 0xFF),
                                     kDsGotoOpcode,
                                     0,
                                     static_cast<uint8_t>((target >> 16) & 0xFF),
                                     0,
                                     0,
                                     0};
  for (int32_t i = 0; i < kSlotBytes; ++i)
    SetByte(at + i, kData, bytes[i]);
}

void TVantleBootloader::Prepare18FPre() {
  Say(TLineRole::Plain, "Prepare18FPre - Check HEX and GOTO", true);
  using enum TRelocationNote::TKind;
  if (!Hex18FCode) Note(ForeignCode, -1, "PIC18F and HEX(16F)");
  bool hasGoto = MovableBra18F(*this, 0) >= 0;  // made absolute in the slot
  for (int32_t w = 0; w < 4; ++w)
    hasGoto |= Is18FGoto(GetWord(w, kData));
  if (!hasGoto) Note(NoGoto, 0, "GOTO not found in first 4 words");
}

void TVantleBootloader::MakeSlotBranch18FAbsolute() {
  const int32_t slotWord = pic.StartBldZone / 2;
  const int32_t bra = MovableBra18F(*this, slotWord);
  if (bra >= 0) {
    // The target it had at its original address, word bra of address 0.
    const int32_t n = GetWord(slotWord + bra, kData) & 0x07FF;
    const int32_t offset = n >= 0x400 ? n - 0x800 : n;
    const int32_t target = 2 * bra + 2 + 2 * offset;
    if (target >= 0 && target < pic.StartBldZone) {
      Put18FGoto(slotWord + bra, target);
      Note(TRelocationNote::TKind::MadeAbsolute, 2 * bra,
           Format("BRA at %.6Xh made absolute: GOTO %.6Xh", 2 * bra, target));
      return;
    }
  }
  // Any relative instruction left in the reset code now counts from the
  // slot; name the first one reached.
  for (int32_t i = 0; i < 4; ++i) {
    const uint16_t w = GetWord(slotWord + i, kData);
    if (Is18FGoto(w)) return;
    const char* name = Is18FBra(w) ? "BRA" : Relative18FName(w);
    if (name != nullptr) {
      Note(TRelocationNote::TKind::Relative, 2 * i,
           Format("%s at %.6Xh is relative: run from the reset slot, the program may not start",
                  name, 2 * i));
      return;
    }
  }
}

void TVantleBootloader::Prepare18FAfter() {
  const int32_t t = pic.StartBldZone / 2 + pic.BldSlotInstr;
  Put18FGoto(0, 2 * t);
  Report({TRelocatedEvent{pic.Family, pic.StartBldZone, 2 * t, RelocationNotes}});
}

void TVantleBootloader::PrepareDSPre() {
  Say(TLineRole::Plain, "PrepareDSPre - Check HEX and GOTO", true);
  if (!HexDsPIC) {
    Note(TRelocationNote::TKind::ForeignCode, -1, "dsPIC and other HEX");
    return;
  }
  // A BRA first is made absolute in the slot.
  if (!IsDsGoto(*this, 0) && GetByte(2, kData) != kDsBra)
    Note(TRelocationNote::TKind::NoGoto, 0, "GOTO not found. How is this possible?", true);
}

void TVantleBootloader::MakeSlotBranchDSAbsolute() {
  const int32_t slot = pic.StartBldZone;
  if (IsDsGoto(*this, slot)) return;
  for (int32_t i = 0; i < 2; ++i) {
    const int32_t at = slot + 4 * i;
    const char* name = RelativeDsName(GetByte(at + 2, kData));
    if (name == nullptr) continue;
    if (i == 0 && GetByte(at + 2, kData) == kDsBra) {
      const auto n = static_cast<int16_t>(GetByte(at, kData) | (GetByte(at + 1, kData) << 8));
      const int32_t target = 2 + 2 * int32_t{n};  // from program address 0
      if (target >= 0 && 2 * target < pic.StartBldZone) {
        PutDsGoto(slot, target);
        Note(TRelocationNote::TKind::MadeAbsolute, 0,
             Format("BRA at 000000h made absolute: GOTO %.6Xh", target));
        return;
      }
    }
    Note(TRelocationNote::TKind::Relative, 4 * i,
         Format("%s at %.6Xh is relative: run from the reset slot, the program may not start", name,
                2 * i));
    return;
  }
}

void TVantleBootloader::PrepareDSAfter() {
  const int32_t t = (pic.StartBldZone + pic.BldSlotInstr * 4) / 2;
  VANTLE_ASSERT(t % kDsEntryAlign == 0, "Bootloader entry not on a 64-address boundary");
  PutDsGoto(0, t);
  Report({TRelocatedEvent{pic.Family, pic.StartBldZone, t, RelocationNotes}});
}

}  // namespace vantlebld
