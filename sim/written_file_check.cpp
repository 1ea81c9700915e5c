#include "sim/written_file_check.h"

#include <algorithm>
#include <map>

#include "engine/format.h"
#include "sim/boot_path.h"

namespace vantlebld {

namespace {

constexpr const char* kPrefix = "virtual PIC: ";
constexpr uint8_t kKeepsResetCodeOption = 4;
constexpr int64_t kResetCodeBytes = 8;      // moved by the host into the reset slot
constexpr int64_t kResetCodeLook = 16;      // a two-word jump may end beyond them
constexpr int64_t kSlotFromFile = 4;        // instructions of the slot a HEX file may set
constexpr int64_t kAddressLimit = 1 << 24;  // bytes from here on are not read
constexpr uint8_t kErased = 0xFF;
constexpr uint8_t kPhantom = 0x00;

// Intel HEX records: count, address (2), type, data, checksum.
constexpr size_t kRecordOverhead = 5;
constexpr uint8_t kRecordData = 0x00, kRecordEnd = 0x01, kRecordLinearBase = 0x04;
constexpr uint8_t kRecordStartSegment = 0x03, kRecordStartLinear = 0x05;  // no data: skipped

// Where a HEX file keeps flash and EEPROM, in HEX bytes.
constexpr int64_t k16FFlashEnd = 0x4000;  // program words below 2000h
constexpr int64_t k16FEEPROM = 0x4200;    // word 2100h + i holds byte i in its low half
constexpr int64_t k16FEEPROMEnd = 0x4400;
constexpr int64_t k18FFlashEnd = 0x200000;
constexpr int64_t k18FEEPROM = 0xF00000;
constexpr int64_t k18FEEPROMEnd = 0xF10000;
constexpr int64_t kDs30EEPROMWindow = 0xFFE000;  // program 7FF000h: the largest data EEPROM
constexpr int64_t kDs30EEPROMEnd = 0x800000;     // program address after the last EEPROM word
// What clearing keeps: the reset words, or the dsPIC vector tables.
constexpr int64_t kKeptPic = 8, kKeptDs30 = 0x200, kKeptDs33 = 0x400;

using THexBytes = std::map<int64_t, uint8_t>;

std::string Addr(int64_t address) {
  return Format("%.6llXh", static_cast<unsigned long long>(address));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One record into bytes; what is wrong with it, empty when nothing.
std::string ReadRecord(const std::string& line, int64_t& base, THexBytes& bytes, bool& ended) {
  if (line[0] != ':' || line.size() % 2 == 0) return "not a HEX record";
  std::vector<uint8_t> r;
  for (size_t i = 1; i + 1 < line.size(); i += 2) {
    const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
    if (hi < 0 || lo < 0) return "not a HEX record";
    r.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  if (r.size() < kRecordOverhead || r.size() != r[0] + kRecordOverhead)
    return "the record's length does not match its count";
  uint8_t sum = 0;
  for (uint8_t b : r)
    sum = static_cast<uint8_t>(sum + b);
  if (sum != 0) return "bad checksum";
  const uint8_t type = r[3];
  if (type == kRecordData) {
    const int64_t at = base + (r[1] << 8 | r[2]);
    for (size_t i = 0; i < r[0]; ++i)
      if (at + static_cast<int64_t>(i) < kAddressLimit)
        bytes[at + static_cast<int64_t>(i)] = r[kRecordOverhead - 1 + i];
  } else if (type == kRecordLinearBase) {
    if (r[0] != 2) return "an extended linear address record without two bytes";
    base = int64_t{r[4] << 8 | r[5]} << 16;
  } else if (type == kRecordEnd) {
    ended = true;
  } else if (type != kRecordStartSegment && type != kRecordStartLinear) {
    return Format("record type %.2Xh not understood", type);
  }
  return "";
}

// The whole text; what is wrong with it, empty when it reads.
std::string ReadHexText(const std::string& text, THexBytes& bytes) {
  int64_t base = 0;
  bool ended = false;
  size_t from = 0;
  for (int number = 1; !ended && from < text.size(); ++number) {
    const size_t eol = std::min(text.find('\n', from), text.size());
    std::string line = text.substr(from, eol - from);
    from = eol + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    if (line.empty()) continue;
    const std::string error = ReadRecord(line, base, bytes, ended);
    if (!error.empty()) return Format("line %d: %s", number, error.c_str());
  }
  return ended ? "" : "no end record";
}

uint8_t ErasedByte(const TPICInfo& pic, int64_t hex) {
  return IsDsPIC(pic.Family) && hex % 4 == 3 ? kPhantom : kErased;
}

// The EEPROM offset a HEX byte of the file sets, or -1 when it is no EEPROM byte.
int64_t EEPROMOffset(const TPICInfo& pic, int64_t hex) {
  if (pic.Family == kFamily16F && hex >= k16FEEPROM && hex < k16FEEPROMEnd && hex % 2 == 0)
    return (hex - k16FEEPROM) / 2;
  if (pic.Family == kFamily18F && hex >= k18FEEPROM && hex < k18FEEPROMEnd) return hex - k18FEEPROM;
  // dsPIC30: each word at program address p in HEX bytes 2p (low), 2p+1 (high), two phantoms.
  if (pic.Family == kFamilyDsPIC30 && hex >= kDs30EEPROMWindow && hex % 4 < 2)
    return (hex / 4) * 2 - (kDs30EEPROMEnd - pic.EESize) + hex % 4;
  return -1;
}

// First HEX byte past the flash a file may hold for the family.
int64_t FlashAreaEnd(uint8_t family) {
  if (Is16F(family)) return k16FFlashEnd;
  if (Is18F(family)) return k18FFlashEnd;
  return family == kFamilyDsPIC30 ? kDs30EEPROMWindow : kAddressLimit;
}

// Counts bytes compared and those that differ, keeping the lowest index.
struct TTally {
  int64_t Compared = 0, Differ = 0, First = -1;
  void Compare(const std::vector<uint8_t>& memory, int64_t at, uint8_t expected) {
    ++Compared;
    const bool same = at >= 0 && static_cast<uint64_t>(at) < memory.size() &&
                      memory[static_cast<size_t>(at)] == expected;
    if (!same) Note(at);
  }
  void Note(int64_t at) {
    ++Differ;
    First = First < 0 ? at : std::min(First, at);
  }
};

}  // namespace

TWrittenFileCheck CheckWrittenFile(const TPICInfo& pic, const std::string& hexText,
                                   const std::vector<uint8_t>& flash,
                                   const std::vector<uint8_t>& eeprom, bool eepromWritten,
                                   bool clearAll) {
  TWrittenFileCheck check;
  check.Ok = true;
  const auto say = [&check](bool good, const std::string& text) {
    check.Lines.push_back(kPrefix + text);
    check.Ok = check.Ok && good;
  };
  const TBootPath path = JudgeBootPath(pic, flash);
  say(path.Ok, path.Line);
  TBootZone zone;
  if (!FindBootZone(pic, zone)) return check;  // the boot path line says why
  THexBytes file;
  const std::string error = ReadHexText(hexText, file);
  if (!error.empty()) {
    say(false, "the HEX file cannot be read: " + error);
    return check;
  }

  // The moved reset code starts the program where it did at address 0.
  const bool relocates = (pic.Options & kKeepsResetCodeOption) == 0;
  if (relocates && path.Ok) {
    std::vector<uint8_t> resetCode;
    for (int64_t h = 0; h < kResetCodeLook; ++h)
      resetCode.push_back(file.contains(h) ? file.at(h) : ErasedByte(pic, h));
    std::string why;
    const int64_t start = ResetCodeTarget(pic, resetCode, why);
    if (start == path.Target) {
      say(true, "the program starts at " + Addr(start) + ", as the HEX file's reset code does");
    } else {
      say(false, "the reset slot starts the program at " + Addr(path.Target) +
                     (start < 0 ? ", the HEX file's reset code does not: " + why
                                : ", the HEX file's reset code at " + Addr(start)));
    }
  }

  // Flash: the file's bytes, or erased where the host cleared instead.
  int64_t keptEnd = zone.Start;
  if (clearAll) {
    keptEnd = pic.Family == kFamilyDsPIC30   ? kKeptDs30
              : pic.Family == kFamilyDsPIC33 ? kKeptDs33
                                             : kKeptPic;
  }
  // A file may set the slot's first four instructions (on a relocating
  // device the moved reset code replaces its first 8 bytes); anything further
  // into the zone the host must refuse.
  const int64_t fileMayEnd = zone.Start + kSlotFromFile * zone.BytesPerInstr;
  const auto moved = [&](int64_t h) {
    return relocates &&
           (h < kResetCodeBytes || (h >= zone.Start && h < zone.Start + kResetCodeBytes));
  };
  TTally inFlash, refused;
  for (const auto& [h, value] : file) {
    if (h >= FlashAreaEnd(pic.Family)) break;
    if (h >= fileMayEnd) {
      refused.Note(h);
    } else if (!(IsDsPIC(pic.Family) && h % 4 == 3) && !moved(h) &&
               (h < keptEnd || h >= zone.Start)) {
      inFlash.Compare(flash, h, value);
    }
  }
  for (int64_t h = keptEnd; h < zone.Start; ++h)
    inFlash.Compare(flash, h, ErasedByte(pic, h));
  if (refused.Differ != 0) {
    say(false, Format("the HEX file sets %lld bytes in the bootloader zone or past the end of "
                      "flash, the first at %s",
                      static_cast<long long>(refused.Differ), Addr(refused.First).c_str()));
  }
  if (inFlash.Differ == 0) {
    say(true, Format("flash holds the HEX file (%lld bytes compared)",
                     static_cast<long long>(inFlash.Compared)));
  } else {
    say(false, Format("%lld flash bytes differ from the HEX file, the first at %s",
                      static_cast<long long>(inFlash.Differ), Addr(inFlash.First).c_str()));
  }

  // EEPROM, where the host has an EEPROM pass and it ran.
  const bool eepromPass =
      pic.Family == kFamily16F || pic.Family == kFamily18F || pic.Family == kFamilyDsPIC30;
  if (!eepromWritten || !eepromPass) return check;
  TTally inEEPROM;
  for (const auto& [h, value] : file) {
    const int64_t offset = EEPROMOffset(pic, h);
    if (offset >= 0 && offset < pic.EESize) inEEPROM.Compare(eeprom, offset, value);
  }
  if (inEEPROM.Differ == 0) {
    say(true, Format("EEPROM holds the HEX file (%lld bytes compared)",
                     static_cast<long long>(inEEPROM.Compared)));
  } else {
    say(false, Format("%lld EEPROM bytes differ from the HEX file, the first at offset %.3llXh",
                      static_cast<long long>(inEEPROM.Differ),
                      static_cast<unsigned long long>(inEEPROM.First)));
  }
  return check;
}

}  // namespace vantlebld
