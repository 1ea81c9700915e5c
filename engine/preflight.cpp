// The preflight of a write: what the planned blocks leave in the PIC,
// worked out before the first of them goes out. The flash is modelled
// byte by byte (written, erased, or left as it was) and the reset path is
// followed on that model with the families' instruction encodings.
#include <algorithm>
#include <optional>

#include "engine/format.h"
#include "engine/pic_instructions.h"
#include "engine/vantlebld_comm.h"
#include "engine/write_plan.h"

namespace vantlebld {

namespace {

constexpr int16_t kUntouched = -1;  // the block plan leaves the byte as the PIC has it
constexpr uint16_t k16FWordMask = 0x3FFF;
// A GOTO on a PIC16F with more than 2K words takes bits 12..11 of its
// target from PCLATH bits 4..3.
constexpr int32_t k16FPageBits = 0x18;
constexpr int64_t k16FOnePageBytes = 2 * 2048;
constexpr uint16_t k16FClrwMask = 0x3F80, k16FClrw = 0x0100;
constexpr uint16_t k18FGoto2Mask = 0xF000;

// The flash as the PIC holds it after the plan has run.
class TFlashAfter {
 public:
  TFlashAfter(const TVantleBootloader& e, bool dsPIC)
      : bytes_(static_cast<size_t>(std::max(e.pic.FlashSize, 0)), kUntouched), dsPIC_(dsPIC) {}

  void Erase(int64_t start, int64_t length) { Fill(start, length, nullptr); }
  void Write(int64_t start, int64_t length, const std::vector<uint8_t>& image) {
    Fill(start, length, &image);
  }
  bool Untouched(int64_t a) const { return Byte(a) == kUntouched; }
  int32_t Byte(int64_t a) const {
    return a >= 0 && a < static_cast<int64_t>(bytes_.size()) ? bytes_[static_cast<size_t>(a)]
                                                             : kUntouched;
  }
  // A 16-bit word, or -1 when either byte is untouched.
  int32_t Word(int64_t a) const {
    const int32_t lo = Byte(a), hi = Byte(a + 1);
    return lo < 0 || hi < 0 ? -1 : lo | hi << 8;
  }

 private:
  void Fill(int64_t start, int64_t length, const std::vector<uint8_t>* image) {
    const int64_t end = std::min<int64_t>(start + length, static_cast<int64_t>(bytes_.size()));
    for (int64_t a = std::max<int64_t>(start, 0); a < end; ++a) {
      int16_t v = 0xFF;
      if (image != nullptr && a < static_cast<int64_t>(image->size())) v = (*image)[size_t(a)];
      if (dsPIC_ && a % 4 == 3) v = 0;  // no such byte on the PIC; the HEX layout reads it as 0
      bytes_[static_cast<size_t>(a)] = v;
    }
  }
  std::vector<int16_t> bytes_;
  bool dsPIC_;
};

// Where the reset code at [start, end) goes, followed instruction by
// instruction until its first jump.
struct TReach {
  enum class TKind { Jump, NoJump, Relative, GotoCut, PageUnset, Untouched };
  TKind Kind = TKind::NoJump;
  int64_t At = 0;         // HEX address of the instruction that decided it
  int64_t Target = -1;    // HEX address the jump reaches; -1: unknown page
  const char* What = "";  // the relative instruction's name
};

class TResetPath {
 public:
  explicit TResetPath(const TVantleBootloader& e, const TFlashAfter& flash)
      : pic_(e.pic), flash_(flash) {}

  // pclathZero: PCLATH is 0 (after reset); else it holds the bootloader's.
  TReach Follow(int64_t start, int64_t end, bool pclathZero) const {
    if (Is16F(pic_.Family)) return Follow16F(start, end, pclathZero);
    if (Is18F(pic_.Family)) return Follow18F(start, end);
    return FollowDs(start, end);
  }

 private:
  TReach Follow16F(int64_t start, int64_t end, bool pclathZero) const {
    const bool paged = pic_.FlashSize > k16FOnePageBytes;
    // PCLATH: which bits are known and their value; set by the program
    // to a value only it knows.
    int32_t known = pclathZero ? 0xFF : 0, value = 0, w = -1;
    bool setUnknown = false;
    for (int64_t a = start; a + 2 <= end; a += 2) {
      const int32_t raw = flash_.Word(a);
      if (raw < 0) return {TReach::TKind::Untouched, a};
      const auto word = static_cast<uint16_t>(raw & k16FWordMask);
      if ((word & k16FGotoMask) == k16FGoto) {
        const int64_t k = word & k16FGotoAddressMask;
        if (!paged) return {TReach::TKind::Jump, a, 2 * k};
        if (setUnknown) return {TReach::TKind::Jump, a, -1};
        if ((known & k16FPageBits) != k16FPageBits) return {TReach::TKind::PageUnset, a};
        return {TReach::TKind::Jump, a, 2 * (int64_t{value & k16FPageBits} << 8 | k)};
      }
      if ((word & k16FMovlwMask) == k16FMovlw) {
        w = word & 0xFF;
      } else if ((word & k16FClrwMask) == k16FClrw) {
        w = 0;
      } else if (word == k16FMovwfPclath) {
        known = 0xFF;
        setUnknown = w < 0;
        value = std::max(w, 0);
      } else if (word == k16FClrfPclath) {
        known = 0xFF;
        value = 0;
        setUnknown = false;
      } else if ((word & k16FBitOpMask) == k16FBsfPclath ||
                 (word & k16FBitOpMask) == k16FBcfPclath) {
        const int32_t bit = 1 << ((word >> 7) & 7);
        known |= bit;
        value = (word & k16FBitOpMask) == k16FBsfPclath ? value | bit : value & ~bit;
      } else if ((word & k16FHarmlessMask) != 0) {
        w = -1;  // anything else may change W
      }
    }
    return {TReach::TKind::NoJump, end};
  }

  TReach Follow18F(int64_t start, int64_t end) const {
    for (int64_t a = start; a + 2 <= end; a += 2) {
      const int32_t w = flash_.Word(a);
      if (w < 0) return {TReach::TKind::Untouched, a};
      if ((w & k18FGotoMask) == k18FGoto1) {
        if (a + 4 > end) return {TReach::TKind::GotoCut, a};
        const int32_t w2 = flash_.Word(a + 2);
        if (w2 < 0) return {TReach::TKind::Untouched, a + 2};
        if ((w2 & k18FGoto2Mask) == k18FGoto2)
          return {TReach::TKind::Jump, a, 2 * ((w & 0xFF) | int64_t{w2 & 0xFFF} << 8)};
      }
      const char* name = (w & k18FBraMask) == k18FBra     ? "BRA"
                         : (w & k18FBraMask) == k18FRcall ? "RCALL"
                         : (w & k18FCondMask) == k18FCond ? "conditional branch"
                                                          : nullptr;
      if (name != nullptr) return {TReach::TKind::Relative, a, -1, name};
    }
    return {TReach::TKind::NoJump, end};
  }

  TReach FollowDs(int64_t start, int64_t end) const {
    for (int64_t a = start; a + 4 <= end; a += 4) {
      if (flash_.Untouched(a) || flash_.Untouched(a + 2)) return {TReach::TKind::Untouched, a};
      const int32_t opcode = flash_.Byte(a + 2);
      if (opcode == kDsGotoOpcode) {
        if (a + 8 > end) return {TReach::TKind::GotoCut, a};
        if (flash_.Untouched(a + 4)) return {TReach::TKind::Untouched, a + 4};
        if (flash_.Byte(a + 5) == 0 && flash_.Byte(a + 6) == 0) {
          const int64_t target = (flash_.Byte(a) | flash_.Byte(a + 1) << 8) & 0xFFFE;
          return {TReach::TKind::Jump, a, 2 * (target | int64_t{flash_.Byte(a + 4) & 0x7F} << 16)};
        }
      }
      const char* name = opcode == kDsBra     ? "BRA"
                         : opcode == kDsRcall ? "RCALL"
                         : (opcode >= kDsCondFirst && opcode <= kDsCondLast) ||
                                 (opcode >= kDsCondAccFirst && opcode <= kDsCondAccLast)
                             ? "conditional branch"
                             : nullptr;
      if (name != nullptr) return {TReach::TKind::Relative, a, -1, name};
    }
    return {TReach::TKind::NoJump, end};
  }

  const TPICInfo& pic_;
  const TFlashAfter& flash_;
};

class TPreflightCheck {
 public:
  TPreflightCheck(const TVantleBootloader& e, const TBlockPlan& plan, bool writeEEPROM)
      : e_(e),
        pic_(e.pic),
        plan_(plan),
        writeEEPROM_(writeEEPROM),
        flash_(e, IsDsPIC(e.pic.Family)) {}

  TPreflight Run() {
    if (auto r = BlocksStayOutOfTheBootloader()) return *r;
    if (auto r = EveryFlashByteLands()) return *r;
    if (auto r = EveryEEPROMByteLands()) return *r;
    if ((pic_.Options & kOptionNoRelocation) != 0) return {};
    if (auto r = AddressZeroReachesTheEntry()) return *r;
    if (auto r = TheSlotReachesTheProgram()) return *r;
    return {};
  }

 private:
  int64_t Entry() const {
    return int64_t{pic_.StartBldZone} + int64_t{pic_.BldSlotInstr} * pic_.BytesPerInstrPC;
  }
  // A HEX address as the PIC's program address: a byte address on PIC18,
  // a word address on PIC16F, twice the instruction index on dsPIC.
  std::string Pc(int64_t hex) const {
    return Format("%06llXh", static_cast<unsigned long long>(Is18F(pic_.Family) ? hex : hex / 2));
  }
  static TPreflight Refuse(std::string reason, int64_t address = -1) {
    return {false, std::move(reason), address};
  }

  std::optional<TPreflight> BlocksStayOutOfTheBootloader() {
    const int64_t entry = Entry();
    for (const TPlannedBlock& b : plan_.Blocks) {
      if (b.Kind == TPlannedBlock::TKind::EEPROM) continue;
      if (b.Start + b.Length > entry && b.Start < pic_.FlashSize) {
        return Refuse(Format("Write refused: the block at %s would reach the bootloader's code at "
                             "%s (check the device table's line for type %02Xh)",
                             Pc(b.Start).c_str(), Pc(std::max(b.Start, entry)).c_str(), e_.PICType),
                      std::max(b.Start, entry));
      }
      if (b.Kind == TPlannedBlock::TKind::Erase) {
        flash_.Erase(b.Start, b.Length);
      } else {
        flash_.Write(b.Start, b.Length, e_.FlashData);
      }
      if (b.Kind == TPlannedBlock::TKind::Flash) written_.emplace_back(b.Start, b.Length);
    }
    return {};
  }

  std::optional<TPreflight> EveryFlashByteLands() {
    std::vector<bool> carried(static_cast<size_t>(std::max(pic_.FlashSize, 0)), false);
    for (const auto& [start, length] : written_) {
      const int64_t end = std::min<int64_t>(start + length, pic_.FlashSize);
      for (int64_t a = std::max<int64_t>(start, 0); a < end; ++a)
        carried[static_cast<size_t>(a)] = true;
    }
    const bool dsPIC = IsDsPIC(pic_.Family);
    for (int64_t a = 0; a < pic_.FlashSize; ++a) {
      if (carried[static_cast<size_t>(a)] || (dsPIC && a % 4 == 3)) continue;
      if (!e_.IsPresent(static_cast<int32_t>(a))) continue;
      const bool slot = a >= pic_.StartBldZone && a < pic_.StartBldZone + kResetSlotBytes;
      return Refuse(
          slot ? Format("Write refused: the reset slot at %s goes out in no block, so the program "
                        "would not start (check the device table's line for type %02Xh)",
                        Pc(a).c_str(), e_.PICType)
               : Format("Write refused: the HEX file's byte at %s goes out in no block (check "
                        "the device table's line for type %02Xh)",
                        Pc(a).c_str(), e_.PICType),
          a);
    }
    return {};
  }

  std::optional<TPreflight> EveryEEPROMByteLands() {
    if (!writeEEPROM_) return {};
    std::vector<bool> carried(e_.EEFlag.size(), false);
    // The 16F and PIC18 blocks carry an 8-bit address: beyond it a block
    // would land on another location.
    const int64_t reach = IsDsPIC(pic_.Family) ? int64_t(carried.size()) : 256;
    for (const TPlannedBlock& b : plan_.Blocks) {
      if (b.Kind != TPlannedBlock::TKind::EEPROM || b.Start + b.Length > reach) continue;
      for (int64_t i = b.Start; i < b.Start + b.Length && i < int64_t(carried.size()); ++i)
        carried[static_cast<size_t>(i)] = true;
    }
    int64_t first = -1, last = -1;
    for (size_t i = 0; i < e_.EEFlag.size(); ++i) {
      if ((e_.EEFlag[i] & kPresent) == 0 || carried[i]) continue;
      if (first < 0) first = static_cast<int64_t>(i);
      last = static_cast<int64_t>(i);
    }
    if (e_.HexEEPROMPastArea >= 0) {
      if (first < 0) first = e_.HexEEPROMPastArea;
      last = std::max(last, e_.HexEEPROMPastArea);
    }
    if (first < 0) return {};
    std::string why;
    if (pic_.Family == kFamily18FK) {
      why = "this bootloader does not write the EEPROM of a " + pic_.Name;
    } else if (pic_.EESize <= 0 || pic_.Family == kFamily18FJ || pic_.Family == kFamilyDsPIC33) {
      why = "the " + pic_.Name + " has no EEPROM";
    } else if (first >= pic_.EESize) {
      why = Format("the %s has %d bytes of EEPROM", pic_.Name.c_str(), pic_.EESize);
    } else {
      why = "this bootloader's EEPROM blocks address 256 bytes";
    }
    const std::string where =
        first == last ? Format("%03llXh", static_cast<unsigned long long>(first))
                      : Format("%03llXh..%03llXh", static_cast<unsigned long long>(first),
                               static_cast<unsigned long long>(last));
    return Refuse("EEPROM data at " + where + " cannot be written: " + why +
                  " (write without EEPROM with --no-eeprom, or untick Write EEPROM)");
  }

  std::optional<TPreflight> AddressZeroReachesTheEntry() {
    const TResetPath path(e_, flash_);
    bool untouched = true;
    for (int64_t a = 0; a < kResetSlotBytes; ++a)
      untouched &= flash_.Untouched(a);
    // No erase, and nothing else in the first unit: address 0 keeps the
    // jump to the bootloader it has.
    if (untouched) return {};
    const TReach r = path.Follow(0, kResetSlotBytes, true);
    if (r.Kind == TReach::TKind::Jump && r.Target == Entry()) return {};
    return Refuse(Format("Write refused: address 0 would not jump to the bootloader at %s (check "
                         "the device table's line for type %02Xh)",
                         Pc(Entry()).c_str(), e_.PICType),
                  0);
  }

  std::optional<TPreflight> TheSlotReachesTheProgram() {
    const int64_t slot = pic_.StartBldZone;
    const TResetPath path(e_, flash_);
    const TReach r = path.Follow(slot, Entry(), false);
    const auto moved = [&](int64_t a) { return Pc(a - slot); };  // where the file had it
    const bool words = !IsDsPIC(pic_.Family);
    const char* first = words ? "the first 4 words" : "its first 2 instructions";
    const std::string wont = "HEX file would not start: ";
    switch (r.Kind) {
      case TReach::TKind::Jump: {
        // Address 0 now holds the jump to the bootloader: a program that
        // starts there would loop through the bootloader for ever.
        const int64_t jumpEnd = Is16F(pic_.Family) ? 6 : Is18F(pic_.Family) ? 4 : 8;
        if (r.Target >= pic_.StartBldZone) {
          return Refuse(wont + Format("its reset code at %s jumps to %s, inside the bootloader "
                                      "zone (%s on)",
                                      moved(r.At).c_str(), Pc(r.Target).c_str(), Pc(slot).c_str()),
                        r.At);
        }
        if (r.Target >= 0 && r.Target < jumpEnd) {
          return Refuse(wont + Format("its reset code jumps to %s, where the jump to the "
                                      "bootloader will stand",
                                      Pc(r.Target).c_str()),
                        r.At);
        }
        return {};
      }
      case TReach::TKind::NoJump: {
        bool empty = true;
        for (int64_t a = slot; a < slot + kResetSlotBytes; ++a)
          empty &= !e_.IsPresent(static_cast<int32_t>(a)) || flash_.Byte(a) == 0xFF;
        if (empty) {
          return Refuse(wont + Format("it has no reset code at 000000h, so the PIC would stay in "
                                      "its bootloader at %s",
                                      Pc(Entry()).c_str()),
                        slot);
        }
        return Refuse(wont + Format("its reset code at 000000h runs into the bootloader at %s (no "
                                    "jump in %s)",
                                    Pc(Entry()).c_str(), first),
                      slot);
      }
      case TReach::TKind::Relative:
        return Refuse(wont + Format("its reset code has a relative %s at %s, which jumps "
                                    "elsewhere from the reset slot (start the program with a "
                                    "GOTO)",
                                    r.What, moved(r.At).c_str()),
                      r.At);
      case TReach::TKind::GotoCut:
        return Refuse(wont + Format("its GOTO at %s does not fit in %s of the reset slot",
                                    moved(r.At).c_str(), first),
                      r.At);
      case TReach::TKind::PageUnset:
        return Refuse(wont + Format("its GOTO at %s takes its page from PCLATH, which the reset "
                                    "code does not set: from the reset slot it would jump into "
                                    "the bootloader's page (set PCLATH before the GOTO)",
                                    moved(r.At).c_str()),
                      r.At);
      case TReach::TKind::Untouched:
        return Refuse(Format("Write refused: the reset slot at %s goes out in no block, so the "
                             "program would not start (check the device table's line for type "
                             "%02Xh)",
                             Pc(r.At).c_str(), e_.PICType),
                      r.At);
    }
    return {};
  }

  const TVantleBootloader& e_;
  const TPICInfo& pic_;
  const TBlockPlan& plan_;
  bool writeEEPROM_;
  TFlashAfter flash_;
  std::vector<std::pair<int64_t, int64_t>> written_;
};

}  // namespace

TPreflight CheckWritePlan(const TVantleBootloader& engine, const TBlockPlan& plan,
                          bool writeEEPROM) {
  return TPreflightCheck(engine, plan, writeEEPROM).Run();
}

}  // namespace vantlebld
