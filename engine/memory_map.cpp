#include "engine/memory_map.h"

#include <algorithm>

#include "engine/format.h"
#include "engine/jobs.h"
#include "engine/link.h"
#include "engine/pic_instructions.h"

namespace vantlebld {

namespace {

constexpr int32_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
// Host side of one exchange besides the wire: the 5 ms pause after each
// block and two purges (measured against paced virtual PICs of every
// family: bench_map_estimate).
constexpr int64_t kExchangeOverheadMicros = 5100;
constexpr int64_t kSlotBytes = kResetSlotBytes;

const char* FamilyName(uint8_t family) {
  switch (family) {
    case kFamily16F:
      return "PIC16F";
    case kFamily18F:
      return "PIC18F";
    case kFamily18FJ:
      return "PIC18FJ";
    case kFamily18FK:
      return "PIC18FK";
    case kFamilyDsPIC30:
      return "dsPIC30F";
    case kFamilyDsPIC33:
      return "dsPIC33F";
    default:
      return "unknown";
  }
}

// The bytes from one instruction to the next; a step of nothing would
// never leave the first.
int64_t InstructionStep(const TMemoryMap& map) {
  if (map.BytesPerInstr <= 0) {
    throw EVantleError(
        Format("the map cannot step through instructions of %d bytes on %s; check "
               "its line in piccodes.ini",
               map.BytesPerInstr, map.Model.c_str()));
  }
  return map.BytesPerInstr;
}

// The instructions from hexAddress on, until a jump or maxBytes, as they
// read in the image. Jump targets are program addresses.
class TDisassembler {
 public:
  TDisassembler(const TVantleBootloader& engine, const TMemoryMap& map)
      : engine_(engine), map_(map) {}

  std::vector<TMapInstruction> Read(int64_t hexAddress, int64_t maxBytes) {
    std::vector<TMapInstruction> out;
    pclath_ = -1;
    const int64_t step = InstructionStep(map_);
    for (int64_t a = hexAddress; a < hexAddress + maxBytes; a += step) {
      int64_t target = -1;
      TMapInstruction i{a, Decode(a, target), {}, target};
      if (target >= 0) i.Note = Note(target);
      out.push_back(i);
      if (target >= 0 || i.Text == "?") break;
    }
    return out;
  }

 private:
  uint32_t Byte(int64_t a) const {
    return a >= 0 && a < static_cast<int64_t>(engine_.FlashData.size())
               ? engine_.FlashData[static_cast<size_t>(a)]
               : 0xFF;
  }
  uint32_t Word(int64_t a) const { return Byte(a) | Byte(a + 1) << 8; }

  std::string Decode(int64_t a, int64_t& target) {
    if (Is16F(map_.FamilyCode)) return Decode16F(a, target);
    if (map_.BytesPerInstr == 4) return DecodeDs(a, target);
    return Decode18F(a, target);
  }

  std::string Decode16F(int64_t a, int64_t& target) {
    const uint32_t w = Word(a) & 0x3FFF;
    if ((w & k16FGotoMask) == k16FGoto) {
      // GOTO takes its two page bits from PCLATH.
      const uint32_t page = pclath_ >= 0 ? (static_cast<uint32_t>(pclath_) & 0x18) << 8 : 0;
      target = page | (w & k16FGotoAddressMask);
      return Format("GOTO %04Xh", static_cast<unsigned>(target));
    }
    if ((w & k16FMovlwMask) == k16FMovlw) {
      w_ = static_cast<int32_t>(w & 0xFF);
      return Format("MOVLW %02Xh", w & 0xFF);
    }
    if (w == k16FMovwfPclath) {
      pclath_ = w_;
      return "MOVWF PCLATH";
    }
    if (w == k16FClrfPclath) {
      pclath_ = 0;
      return "CLRF PCLATH";
    }
    if ((w & k16FBitOpMask) == k16FBsfPclath || (w & k16FBitOpMask) == k16FBcfPclath) {
      const int bit = static_cast<int>((w >> 7) & 7);
      const bool set = (w & k16FBitOpMask) == k16FBsfPclath;
      if (pclath_ >= 0) pclath_ = set ? pclath_ | 1 << bit : pclath_ & ~(1 << bit);
      return Format("%s PCLATH,%d", set ? "BSF" : "BCF", bit);
    }
    if (w == 0) return "NOP";
    if (w == 0x3FFF) return "(erased)";
    return Format("dw %04Xh", w);
  }

  std::string Decode18F(int64_t a, int64_t& target) {
    const uint32_t w = Word(a);
    if ((w & k18FGotoMask) == k18FGoto1 && (Word(a + 2) & 0xF000) == k18FGoto2) {
      target = 2 * ((w & 0xFF) | (Word(a + 2) & 0xFFF) << 8);
      return Format("GOTO %05Xh", static_cast<unsigned>(target));
    }
    if ((w & k18FBraMask) == k18FBra) {
      const int32_t n = static_cast<int32_t>(w & 0x7FF) - ((w & 0x400) != 0 ? 0x800 : 0);
      target = a + 2 + 2 * int64_t{n};
      return Format("BRA %05Xh", static_cast<unsigned>(target));
    }
    if (w == 0xFFFF) return "(erased)";
    if (w == 0) return "NOP";
    return Format("dw %04Xh", w);
  }

  std::string DecodeDs(int64_t a, int64_t& target) {
    const uint32_t i = Byte(a) | Byte(a + 1) << 8 | Byte(a + 2) << 16;
    const int64_t pc = map_.ProgramAddress(a);
    if ((i >> 16) == kDsGotoOpcode) {
      const uint32_t high = (Byte(a + 4) | Byte(a + 5) << 8 | Byte(a + 6) << 16) & 0x7F;
      target = (i & 0xFFFE) | int64_t{high} << 16;
      return Format("GOTO %06Xh", static_cast<unsigned>(target));
    }
    if ((i >> 16) == kDsBra) {
      const int32_t n = static_cast<int16_t>(i & 0xFFFF);
      target = pc + 2 + 2 * int64_t{n};
      return Format("BRA %06Xh", static_cast<unsigned>(target));
    }
    if (i == 0xFFFFFF) return "(erased)";
    if (i == 0) return "NOP";
    return Format("dw %06Xh", i);
  }

  std::string Note(int64_t target) const {
    if (target == map_.ProgramAddress(map_.Entry)) return "bootloader entry";
    if (target < map_.ProgramAddress(map_.ZoneStart)) return "your program";
    return "into the bootloader zone";
  }

  const TVantleBootloader& engine_;
  const TMemoryMap& map_;
  int32_t pclath_ = -1;
  int32_t w_ = -1;
};

void AddRange(std::vector<TMapRange>& ranges, TMapRange::TKind kind, int64_t start, int64_t end) {
  if (end <= start) return;
  if (!ranges.empty() && ranges.back().Kind == kind && ranges.back().End == start) {
    ranges.back().End = end;
  } else {
    ranges.push_back({kind, start, end});
  }
}

}  // namespace

int64_t TMemoryMap::ProgramAddress(int64_t hexAddress) const {
  return Is18F(FamilyCode) ? hexAddress : hexAddress / 2;
}

int64_t ModelBlockMicros(int32_t blockBytes, int32_t baud) {
  if (baud <= 0) return kExchangeOverheadMicros;
  const int64_t wireBytes = int64_t{blockBytes} + 1;  // the block and its answer
  return wireBytes * kBitsPerByte * 1000000 / baud + kExchangeOverheadMicros;
}

TMemoryMap MapHexFile(uint8_t code, const std::string& hexFile, int32_t baud, bool writeEEPROM) {
  TVantleBootloader engine;
  if (!engine.LookupPic(code)) throw EVantleError(Format("unknown pic type: %02Xh", code));
  TPICInfo pic = engine.pic;
  // A write of this model fails the same way, once it reads the file.
  if (!DerivePicGeometry(pic)) {
    throw EVantleError(
        Format("unknown family: the device table gives type %02Xh (%s) the family "
               "%d, which has no memory layout; check its line in piccodes.ini",
               code, pic.Name.c_str(), pic.Family));
  }

  TMemoryMap map;
  map.Code = code;
  map.Model = pic.Name;
  map.FamilyCode = pic.Family;
  map.Family = FamilyName(pic.Family);
  map.FlashBytes = pic.FlashSize;
  map.ZoneStart = pic.StartBldZone;
  map.ZoneBytes = pic.SizeOfBLDBytesPC;
  map.BytesPerInstr = pic.BytesPerInstrPC;
  map.Relocates = (pic.Options & kOptionNoRelocation) == 0;
  map.SlotBytes = map.Relocates ? kSlotBytes : 0;
  map.Entry = map.ZoneStart + int64_t{pic.BldSlotInstr} * pic.BytesPerInstrPC;
  map.Plan.Baud = baud;

  // A write over a link that answers nothing: the same steps, nothing sent.
  engine.OfflineCode = code;
  TJobOptions o;
  o.Baud = baud;
  o.WriteEEPROM = writeEEPROM;
  const TJobResult r = WriteJob(engine, o, hexFile);
  // A file the reader refused (missing, or a line it cannot read) left no
  // image: there is nothing to map, only the reader's reason to give. An
  // empty flash drawn under it would read as a program of NOPs.
  if (static_cast<int64_t>(engine.FlashData.size()) < pic.FlashSize) {
    if (!r.Ok) throw EVantleError(r.Error, EVantleError::Kind::FileIO, r.Hint);
    engine.ResizeFlashImage(pic.FlashSize);
  }
  // The relocation's notes, each repair appended to its warning.
  for (const TRelocationNote& n : engine.RelocationNotes)
    map.Warnings.push_back(n.Repair.empty() ? n.Text : n.Text + " " + n.Repair);
  // The blocks the write went through, from its own plan; a refused write
  // sends none.
  int64_t micros = 0;
  for (const TPlannedBlock& b : r.Ok ? engine.LastPlan.Blocks : std::vector<TPlannedBlock>{}) {
    const auto length = static_cast<int32_t>(b.Wire.size());
    ++map.Plan.Blocks;
    map.Plan.WireBytes += length;
    micros += ModelBlockMicros(length, baud);
  }
  map.Plan.ModelMs = micros / 1000;
  if (!r.Ok) {
    map.Refused = true;
    map.Reason = r.Error;
    if (engine.HexFlashPastEnd >= 0) map.Collision = engine.HexFlashPastEnd;
    if (!engine.LastPreflight.Ok) map.Collision = engine.LastPreflight.Address;
    for (int64_t a = map.ZoneStart; a < map.FlashBytes && map.Collision < 0; ++a) {
      if (engine.IsPresent(static_cast<int32_t>(a))) map.Collision = a;
    }
  }

  const int64_t unit = std::max<int64_t>(FlashBlockBytes(pic), 1);
  const int64_t userEnd = map.Relocates ? map.ZoneStart + map.SlotBytes : map.ZoneStart;
  // Instruction by instruction; the jump to the bootloader at 0 is
  // written whether the file set those bytes or not.
  const int64_t step = InstructionStep(map);
  for (int64_t a = 0; a < map.ZoneStart; a += step) {
    const bool data = (map.Relocates && a < kSlotBytes) ||
                      !engine.BlockIsEmpty(static_cast<int32_t>(a), static_cast<int32_t>(step));
    AddRange(map.Ranges, data ? TMapRange::TKind::Data : TMapRange::TKind::Empty, a,
             std::min(a + step, map.ZoneStart));
  }
  AddRange(map.Ranges, TMapRange::TKind::Slot, map.ZoneStart, userEnd);
  AddRange(map.Ranges, TMapRange::TKind::Zone, userEnd, map.FlashBytes);
  for (int64_t a = 0; a < map.FlashBytes; a += unit) {
    if (!engine.BlockIsEmpty(static_cast<int32_t>(a), static_cast<int32_t>(unit)))
      map.Plan.UnitStarts.push_back(a);
  }

  TDisassembler d(engine, map);
  map.ResetCode = d.Read(0, kSlotBytes);
  if (map.Relocates) map.SlotCode = d.Read(map.ZoneStart, map.SlotBytes);
  for (size_t i = 0; i < engine.EEFlag.size(); ++i)
    if (engine.EEFlag[i] & kPresent) map.EEPROM[static_cast<int64_t>(i)] = engine.EEData[i];
  return map;
}

std::vector<std::string> MapLines(const TMemoryMap& m) {
  const auto pc = [&](int64_t hexAddress) {
    return Format("%06llXh", static_cast<unsigned long long>(m.ProgramAddress(hexAddress)));
  };
  std::vector<std::string> out;
  out.push_back(Format("device: %s (type %02Xh), %s, flash %lld bytes", m.Model.c_str(), m.Code,
                       m.Family.c_str(), static_cast<long long>(m.FlashBytes)));
  out.push_back(Format("bootloader zone: from %s, %lld bytes; reset slot %s, %lld bytes; entry %s",
                       pc(m.ZoneStart).c_str(), static_cast<long long>(m.ZoneBytes),
                       pc(m.ZoneStart).c_str(), static_cast<long long>(m.SlotBytes),
                       pc(m.Entry).c_str()));
  out.push_back("flash (program addresses):");
  for (const TMapRange& r : m.Ranges) {
    static const char* const kNames[] = {"your program", "empty", "reset slot", "bootloader zone"};
    std::string line =
        Format("  %s..%s  %-16s %lld bytes", pc(r.Start).c_str(), pc(r.End - 1).c_str(),
               kNames[static_cast<int>(r.Kind)], static_cast<long long>(r.End - r.Start));
    if (m.Collision >= r.Start && m.Collision < r.End)
      line += "  <- " + pc(m.Collision) + " collides";
    out.push_back(line);
  }
  if (m.Collision >= m.FlashBytes) out.push_back("  past the end of flash: " + pc(m.Collision));
  out.push_back("reset path:");
  for (const auto* code : {&m.ResetCode, &m.SlotCode}) {
    for (const TMapInstruction& i : *code) {
      out.push_back(Format("  %s: %s", pc(i.Address).c_str(), i.Text.c_str()) +
                    (i.Note.empty() ? "" : "  -> " + i.Note));
    }
  }
  for (const std::string& w : m.Warnings)
    out.push_back("relocation: " + w);
  if (!m.EEPROM.empty()) {
    out.push_back(Format("EEPROM: %zu bytes, offsets %03llXh..%03llXh", m.EEPROM.size(),
                         static_cast<unsigned long long>(m.EEPROM.begin()->first),
                         static_cast<unsigned long long>(m.EEPROM.rbegin()->first)));
  }
  out.push_back(
      Format("write plan: %d blocks, %lld bytes on the wire, about %lld.%03lld s at %d baud",
             m.Plan.Blocks, static_cast<long long>(m.Plan.WireBytes),
             static_cast<long long>(m.Plan.ModelMs / 1000),
             static_cast<long long>(m.Plan.ModelMs % 1000), m.Plan.Baud));
  if (m.Refused) out.push_back("refused: " + m.Reason);
  return out;
}

}  // namespace vantlebld
