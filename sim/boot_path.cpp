#include "sim/boot_path.h"

#include "engine/format.h"

namespace vantlebld {

namespace {

constexpr int kMaxSteps = 4096;
constexpr int64_t kResetCodeBytes = 8;  // what the host moves into the reset slot
constexpr uint8_t kKeepsResetCodeOption = 4;

// PIC16F: 14-bit words, the class in the top two bits. A GOTO carries 11
// address bits; PCLATH<4:3> give the page. Registers by file address.
constexpr uint16_t k16FWordMask = 0x3FFF;
constexpr unsigned k16FClassShift = 12;
constexpr unsigned k16FClassBit = 1, k16FClassJump = 2, k16FClassLiteral = 3;  // 0: byte ops
constexpr uint16_t k16FFileMask = 0x007F;                                      // f
constexpr uint16_t k16FToFile = 0x0080;                // d = 1: the result goes to f
constexpr unsigned k16FBitShift = 7, k16FBitMask = 7;  // b of BCF/BSF
constexpr uint16_t k16FLiteralMask = 0x00FF;
constexpr uint16_t k16FLiteralOpMask = 0x0C00, k16FMovlw = 0x0000, k16FRetlw = 0x0400;
constexpr uint16_t k16FGotoBit = 0x0800;
constexpr uint16_t k16FGotoAddress = 0x07FF;
constexpr uint8_t k16FPageBits = 0x18;
constexpr uint8_t k16FPclathBits = 0x1F;
constexpr uint8_t k16FPcl = 0x02;
constexpr uint8_t k16FPclath = 0x0A;
constexpr uint16_t k16FNopMask = 0x3F9F;  // 0000h, 0020h, 0040h, 0060h
constexpr uint16_t k16FReturn = 0x0008, k16FRetfie = 0x0009, k16FSleep = 0x0063;
// Byte-oriented ops, bits 11..8.
constexpr unsigned k16FByteOpShift = 8, k16FByteOpMask = 0xF;
constexpr unsigned k16FMovwf = 0x0, k16FClrf = 0x1, k16FDecfsz = 0xB, k16FIncfsz = 0xF;
// Bit-oriented ops, bits 11..10.
constexpr unsigned k16FBitOpShift = 10, k16FBitOpMask = 3;
constexpr unsigned k16FBsf = 1, k16FBtfsc = 2, k16FBtfss = 3;  // BCF is 0

// PIC18: GOTO EFkk Fkkk (k a word address), BRA 1101 0nnn nnnn nnnn.
constexpr uint16_t k18FGotoMask = 0xFF00, k18FGoto = 0xEF00;
constexpr uint16_t k18FSecondMask = 0xF000, k18FSecond = 0xF000;
constexpr uint16_t k18FBraMask = 0xF800, k18FBra = 0xD000;
constexpr uint16_t k18FGotoLow = 0x00FF, k18FGotoHigh = 0x0FFF;  // k7..0, k19..8
constexpr uint16_t k18FBraOffset = 0x07FF;
constexpr int k18FBraBits = 11;
constexpr int64_t k18FPcMask = 0x1FFFFF;

// dsPIC: 24-bit instructions, the opcode in the top byte. GOTO 04kkkk with
// 0000kk after it; BRA 37nnnn.
constexpr uint32_t kDsOpcodeShift = 16;
constexpr uint32_t kDsGoto = 0x04, kDsBra = 0x37;
constexpr uint32_t kDsGotoSecondMask = 0xFFFF80;
constexpr uint32_t kDsGotoLow = 0xFFFE, kDsGotoHigh = 0x7F;  // k15..1, k22..16
constexpr uint32_t kDsBraOffset = 0xFFFF;
constexpr int kDsBraBits = 16;
constexpr int64_t kDsPcMask = 0x7FFFFE;

// Instructions that leave the straight path in a way a static walk cannot
// follow: calls, returns, computed jumps, conditional branches and skips.
struct TStop {
  uint32_t Mask, Value;
  const char* Name;
};
constexpr TStop k18FStops[] = {
    {0xF800, 0xD800, "RCALL"},  {0xFE00, 0xEC00, "CALL"},   {0xF800, 0xE000, "conditional branch"},
    {0xFFFE, 0x0012, "RETURN"}, {0xFFFE, 0x0010, "RETFIE"}, {0xFF00, 0x0C00, "RETLW"},
    {0xFFFF, 0x0003, "SLEEP"},  {0xFFFF, 0x00FF, "RESET"},  {0xFFFF, 0x6EF9, "MOVWF PCL"},
    {0xF000, 0xB000, "BTFSC"},  {0xF000, 0xA000, "BTFSS"},  {0xFE00, 0x6000, "CPFSLT"},
    {0xFE00, 0x6200, "CPFSEQ"}, {0xFE00, 0x6400, "CPFSGT"}, {0xFE00, 0x6600, "TSTFSZ"},
    {0xFC00, 0x2C00, "DECFSZ"}, {0xFC00, 0x3C00, "INCFSZ"}, {0xFC00, 0x4C00, "DCFSNZ"},
    {0xFC00, 0x4800, "INFSNZ"},
};
constexpr TStop kDsStops[] = {
    {0xFF0000, 0x020000, "CALL"},
    {0xFF0000, 0x070000, "RCALL"},
    {0xFF0000, 0x010000, "computed jump"},
    {0xFFFFFF, 0x064000, "RETFIE"},
    {0xFF0000, 0x060000, "RETURN"},
    {0xFF0000, 0x050000, "RETLW"},
    {0xFF0000, 0x080000, "DO"},
    {0xFFFFFF, 0xFE0000, "RESET"},
    {0xF00000, 0x300000, "conditional BRA"},
    {0xFC0000, 0x0C0000, "conditional BRA"},
    {0xFE0000, 0xA60000, "BTSS/BTSC"},
    {0xFE0000, 0xAE0000, "BTSS/BTSC"},
    {0xFE0000, 0xE60000, "compare and skip"},
};

enum class TKind { Step, Jump, Stop };
struct TInstr {
  TKind Kind = TKind::Step;
  int64_t Target = -1;  // Jump: program address
  const char* Name = "";
};
TInstr Jump(int64_t target) {
  return {TKind::Jump, target, ""};
}
TInstr Stop(const char* name) {
  return {TKind::Stop, -1, name};
}
template <size_t N>
TInstr StepOrStop(const TStop (&stops)[N], uint32_t word) {
  for (const TStop& s : stops)
    if ((word & s.Mask) == s.Value) return Stop(s.Name);
  return {};
}
int64_t SignExtend(uint32_t value, int bits) {
  const int64_t sign = int64_t{1} << (bits - 1);
  return (static_cast<int64_t>(value) ^ sign) - sign;
}

// What the walk knows of the 16F's registers; the reset state at first.
struct TCpu16F {
  uint8_t Pclath = 0;
  uint8_t PclathKnown = k16FPclathBits;  // bits of Pclath that are known
  int W = -1;                            // -1: unknown
};

// A write to file register f; value -1 when unknown. False for PCL: a
// computed jump.
bool Write16F(TCpu16F& cpu, unsigned f, int value) {
  if (f == k16FPcl) return false;
  if (f == k16FPclath) {
    cpu.Pclath = static_cast<uint8_t>(value & k16FPclathBits);
    cpu.PclathKnown = value < 0 ? 0 : k16FPclathBits;
  }
  return true;
}

TInstr Decode16F(uint16_t raw, TCpu16F& cpu) {
  const auto w = static_cast<uint16_t>(raw & k16FWordMask);
  const unsigned f = w & k16FFileMask;
  switch (w >> k16FClassShift) {
    case k16FClassJump:  // GOTO or CALL
      if ((w & k16FGotoBit) == 0) return Stop("CALL");
      if ((cpu.PclathKnown & k16FPageBits) != k16FPageBits) return Stop("GOTO with PCLATH unknown");
      return Jump(((cpu.Pclath & k16FPageBits) << 8) | (w & k16FGotoAddress));
    case k16FClassLiteral:
      if ((w & k16FLiteralOpMask) == k16FMovlw) {
        cpu.W = w & k16FLiteralMask;
      } else if ((w & k16FLiteralOpMask) == k16FRetlw) {
        return Stop("RETLW");
      } else {
        cpu.W = -1;
      }
      return {};
    case k16FClassBit: {
      const unsigned op = (w >> k16FBitOpShift) & k16FBitOpMask;
      const unsigned bit = (w >> k16FBitShift) & k16FBitMask;
      if (op == k16FBtfsc) return Stop("BTFSC");
      if (op == k16FBtfss) return Stop("BTFSS");
      if (f == k16FPcl) return Stop("BCF/BSF PCL");
      if (f == k16FPclath) {
        const auto mask = static_cast<uint8_t>(1u << bit);
        cpu.Pclath = static_cast<uint8_t>(op == k16FBsf ? cpu.Pclath | mask : cpu.Pclath & ~mask);
        cpu.PclathKnown |= mask;
      }
      return {};
    }
    default:  // control and byte ops
      break;
  }
  if ((w & k16FNopMask) == 0) return {};
  if (w == k16FReturn) return Stop("RETURN");
  if (w == k16FRetfie) return Stop("RETFIE");
  if (w == k16FSleep) return Stop("SLEEP");
  const unsigned op = (w >> k16FByteOpShift) & k16FByteOpMask;
  const bool toFile = (w & k16FToFile) != 0;
  if (op == k16FDecfsz) return Stop("DECFSZ");
  if (op == k16FIncfsz) return Stop("INCFSZ");
  if (op == k16FMovwf) {
    if (toFile && !Write16F(cpu, f, cpu.W)) return Stop("MOVWF PCL");
  } else if (op == k16FClrf && !toFile) {
    cpu.W = 0;  // CLRW
  } else if (toFile) {
    if (!Write16F(cpu, f, op == k16FClrf ? 0 : -1)) return Stop("write to PCL");
  } else {
    cpu.W = -1;
  }
  return {};
}

TInstr Decode18F(uint16_t w, uint16_t next, int64_t pc) {
  if ((w & k18FGotoMask) == k18FGoto) {
    if ((next & k18FSecondMask) != k18FSecond) return Stop("GOTO without its second word");
    return Jump(2 * ((int64_t{next & k18FGotoHigh} << 8) | (w & k18FGotoLow)));
  }
  if ((w & k18FBraMask) == k18FBra)
    return Jump((pc + 2 + 2 * SignExtend(w & k18FBraOffset, k18FBraBits)) & k18FPcMask);
  return StepOrStop(k18FStops, w);
}

TInstr DecodeDsPIC(uint32_t i, uint32_t next, int64_t pc) {
  const uint32_t opcode = i >> kDsOpcodeShift;
  if (opcode == kDsGoto) {
    if ((next & kDsGotoSecondMask) != 0) return Stop("GOTO without its second word");
    return Jump(int64_t{i & kDsGotoLow} | (int64_t{next & kDsGotoHigh} << 16));
  }
  if (opcode == kDsBra)
    return Jump((pc + 2 + 2 * SignExtend(i & kDsBraOffset, kDsBraBits)) & kDsPcMask);
  return StepOrStop(kDsStops, i);
}

std::string Addr(int64_t address) {
  return Format("%.6llXh", static_cast<unsigned long long>(address));
}

enum class TEnd { Jump, RanInto, Stopped, TooLong };
struct TLeg {
  TEnd End = TEnd::TooLong;
  int64_t Target = -1;  // Jump: where to
  int64_t At = 0;       // the last instruction looked at, or the limit reached
  const char* Name = "";
};

// Follows the PIC's program counter through flash in the HEX file's layout;
// bytes beyond the vector read erased.
class TWalker {
 public:
  TWalker(uint8_t family, const std::vector<uint8_t>& flash) : family_(family), flash_(flash) {}

  int64_t Hex(int64_t pc) const { return Is18F(family_) ? pc : 2 * pc; }
  int64_t Pc(int64_t hex) const { return Is18F(family_) ? hex : hex / 2; }
  int64_t Step() const { return Is16F(family_) ? 1 : 2; }

  bool Erased(int64_t pc) const {
    if (Is16F(family_)) return (Word(Hex(pc)) & k16FWordMask) == k16FWordMask;
    return IsDsPIC(family_) ? Word(Hex(pc)) == 0xFFFFFF : Word(Hex(pc)) == 0xFFFF;
  }

  // From pc to the first jump, or until the walk reaches limitHex or an
  // instruction it cannot follow.
  TLeg Follow(int64_t pc, int64_t limitHex) {
    for (int step = 0; step < kMaxSteps; ++step, pc += Step()) {
      if (Hex(pc) >= limitHex) return {TEnd::RanInto, -1, pc, ""};
      const TInstr in = Decode(pc);
      if (in.Kind == TKind::Jump) return {TEnd::Jump, in.Target, pc, ""};
      if (in.Kind == TKind::Stop) return {TEnd::Stopped, -1, pc, in.Name};
    }
    return {TEnd::TooLong, -1, pc, ""};
  }

  // Why a leg that did not jump cannot be followed, for the one who ran it.
  static std::string Why(const char* who, const TLeg& leg) {
    if (leg.End == TEnd::Stopped)
      return Format("%s: %s at %s cannot be followed", who, leg.Name, Addr(leg.At).c_str());
    return Format("%s: no jump within %d instructions", who, kMaxSteps);
  }

 private:
  uint8_t Byte(int64_t hex) const {
    if (hex >= 0 && static_cast<uint64_t>(hex) < flash_.size())
      return flash_[static_cast<size_t>(hex)];
    return IsDsPIC(family_) && hex % 4 == 3 ? 0x00 : 0xFF;
  }
  // A 16-bit word, or on dsPIC the 24-bit instruction, at a HEX address.
  uint32_t Word(int64_t hex) const {
    uint32_t w = Byte(hex) | (uint32_t{Byte(hex + 1)} << 8);
    if (IsDsPIC(family_)) w |= uint32_t{Byte(hex + 2)} << 16;
    return w;
  }
  TInstr Decode(int64_t pc) {
    const int64_t hex = Hex(pc);
    if (Is16F(family_)) return Decode16F(static_cast<uint16_t>(Word(hex)), cpu_);
    if (Is18F(family_))
      return Decode18F(static_cast<uint16_t>(Word(hex)), static_cast<uint16_t>(Word(hex + 2)), pc);
    return DecodeDsPIC(Word(hex), Word(hex + 4), pc);
  }

  uint8_t family_;
  const std::vector<uint8_t>& flash_;
  TCpu16F cpu_;  // carried from leg to leg, as the PIC carries it
};

TBootPath Broken(const std::string& reason) {
  return {false, "boot path broken: " + reason, -1};
}

}  // namespace

bool FindBootZone(const TPICInfo& pic, TBootZone& zone) {
  if (!Is16F(pic.Family) && !Is18F(pic.Family) && !IsDsPIC(pic.Family)) return false;
  zone.BytesPerInstr = IsDsPIC(pic.Family) ? 4 : 2;
  zone.FlashEnd = pic.FlashSize;
  zone.Start = pic.FlashSize -
               zone.BytesPerInstr * (int64_t{pic.ErasePageInstr} * pic.BldPages + pic.BldSlotInstr);
  zone.Entry = zone.Start + zone.BytesPerInstr * pic.BldSlotInstr;
  return pic.ErasePageInstr >= 0 && pic.BldPages >= 0 && zone.Start >= kResetCodeBytes &&
         zone.Entry >= zone.Start + kResetCodeBytes && zone.Entry < zone.FlashEnd;
}

TBootPath JudgeBootPath(const TPICInfo& pic, const std::vector<uint8_t>& flash) {
  TBootZone zone;
  if (!FindBootZone(pic, zone)) return Broken("the device table line leaves no bootloader zone");
  TWalker walk(pic.Family, flash);
  const int64_t entry = walk.Pc(zone.Entry), slot = walk.Pc(zone.Start);

  // Address 0: on to the bootloader, or on a device without relocation
  // maybe straight to the program.
  if (walk.Erased(0)) {
    // Every family executes an erased word as an instruction that neither
    // jumps nor stops (PIC18 FFFFh is a NOP form, dsPIC FFFFFFh is NOPR, 16F
    // 3FFFh an ADDLW): from an erased address 0 the PIC slides up through
    // erased flash, and reaches its bootloader only if all of it is erased.
    int64_t pc = 0;
    while (walk.Hex(pc) < zone.Entry && walk.Erased(pc))
      pc += walk.Step();
    if (walk.Hex(pc) < zone.Entry)
      return Broken("address 0 is erased and slides into code at " + Addr(pc));
    TBootPath slides = Broken(
        "address 0 is erased: the PIC slides through erased flash into "
        "its bootloader, and the reset slot is empty");
    slides.ReachesBootloader = true;
    return slides;
  }
  TLeg leg = walk.Follow(0, zone.Start);
  if (leg.End == TEnd::RanInto)
    return Broken("address 0 runs into the bootloader zone at " + Addr(leg.At) + " without a jump");
  if (leg.End != TEnd::Jump) return Broken(TWalker::Why("address 0", leg));
  const int64_t first = walk.Hex(leg.Target);
  if ((pic.Options & kKeepsResetCodeOption) != 0 && leg.Target != entry) {
    if (first >= zone.FlashEnd)
      return Broken("address 0 jumps past the end of flash at " + Addr(leg.Target));
    if (first < zone.Start)
      return {true,
              Format("boot path: 000000 -> %.6llX", static_cast<unsigned long long>(leg.Target)),
              leg.Target};
  }
  if (leg.Target != entry) {
    return Broken("address 0 leads to " + Addr(leg.Target) + ", not to the bootloader at " +
                  Addr(entry));
  }

  // The bootloader hands over to the slot; from here on the PIC can be
  // written again whatever the slot holds.
  const auto inSlot = [](const std::string& reason) {
    TBootPath path = Broken(reason);
    path.ReachesBootloader = true;
    return path;
  };
  leg = walk.Follow(entry, zone.FlashEnd);
  if (leg.End != TEnd::Jump)
    return Broken("the bootloader does not hand over to the slot (" +
                  TWalker::Why("bootloader", leg) + ")");
  if (leg.Target != slot)
    return Broken("the bootloader does not hand over to the slot (it jumps to " + Addr(leg.Target) +
                  ")");

  // The slot's moved reset code leads to the program.
  bool empty = true;
  for (int64_t pc = slot; walk.Hex(pc) < zone.Start + kResetCodeBytes; pc += walk.Step())
    empty = empty && walk.Erased(pc);
  if (empty) return inSlot("the reset slot is empty");
  leg = walk.Follow(slot, zone.Entry);
  if (leg.End == TEnd::RanInto) return inSlot("slot runs into the bootloader at " + Addr(leg.At));
  if (leg.End != TEnd::Jump) return inSlot(TWalker::Why("slot", leg));
  const int64_t target = walk.Hex(leg.Target);
  if (target >= zone.FlashEnd)
    return inSlot("slot jumps past the end of flash at " + Addr(leg.Target));
  if (target >= zone.Start)
    return inSlot("slot jumps into the bootloader zone at " + Addr(leg.Target));
  return {true,
          Format("boot path: 000000 -> %.6llX (bootloader) -> %.6llX (slot) -> %.6llX",
                 static_cast<unsigned long long>(entry), static_cast<unsigned long long>(slot),
                 static_cast<unsigned long long>(leg.Target)),
          leg.Target, true};
}

int64_t ResetCodeTarget(const TPICInfo& pic, const std::vector<uint8_t>& flash, std::string& why) {
  if (!Is16F(pic.Family) && !Is18F(pic.Family) && !IsDsPIC(pic.Family)) {
    why = Format("unknown family %d", pic.Family);
    return -1;
  }
  TWalker walk(pic.Family, flash);
  const TLeg leg = walk.Follow(0, kResetCodeBytes);
  if (leg.End == TEnd::Jump) return leg.Target;
  why = leg.End == TEnd::RanInto ? "no jump within its first 8 bytes"
                                 : TWalker::Why("reset code", leg);
  return -1;
}

}  // namespace vantlebld
