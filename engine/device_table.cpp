// The device table: what the host knows of each PIC model behind a type
// code, read from piccodes.ini.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/pic_instructions.h"
#include "engine/text_lines.h"
#include "engine/user_text.h"
#include "engine/vantlebld_comm.h"

#ifndef VANTLEBLD_DATADIR
#define VANTLEBLD_DATADIR "/usr/local/share/vantlebld"
#endif

namespace vantlebld {

namespace {

constexpr const char* kPicCodesName = "piccodes.ini";
constexpr size_t kFieldCount = 11;
constexpr int64_t kMaxFlashSize = 16 * 1024 * 1024;
// The reset slot holds 8 HEX bytes; a zone smaller than that has no room
// for it.
// The dsPIC33 block carries its byte count in 16 bits.
constexpr int64_t kDsPIC33MaxBlockBytes = 0xFFFF;

// A fault in one table line; the reader stops at the first.
struct TableLineError {
  std::string reason;
};

// A field's number (decimal or hex, with an optional sign) within the
// signed 32-bit range.
int32_t ParseTableNumber(const std::string& field, const char* what) {
  const std::optional<int64_t> value = ParseNumber(field);
  if (!value) throw TableLineError{Format("%s is not a number: \"%s\"", what, field.c_str())};
  if (*value > INT32_MAX || *value < INT32_MIN)
    throw TableLineError{Format("%s is out of range", what)};
  return static_cast<int32_t>(*value);
}

int FamilyFromLetter(char letter) {
  switch (letter) {
    case 'B':
      return kFamily16F;
    case 'C':
      return kFamily18F;
    case 'J':
      return kFamily18FJ;
    case 'K':
      return kFamily18FK;
    case 'D':
      return kFamilyDsPIC30;
    case 'E':
      return kFamilyDsPIC33;
    default:
      return 0;
  }
}

// The writers carry the reset slot inside one block of the family's size
// (16F 64 bytes, dsPIC30 128, the others from the table): that block must
// hold the whole slot and none of the bootloader's code, or the write
// would overwrite the firmware or lose the slot. PIC18 blocks go out only
// when they start below the zone, and say their size in one byte; the
// dsPIC firmware's entry sits on a 40h boundary.
void CheckSlotBlock(const TPICInfo& d) {
  constexpr int64_t k18FMaxUnit = 255;
  const int64_t bpi = d.BytesPerInstrPC;
  const int64_t unit = FlashBlockBytes(d);
  const bool pic18 = Is18F(d.Family);
  if (pic18 && unit > k18FMaxUnit)
    throw TableLineError{Format("a PIC18 block of %lld bytes does not fit its count byte",
                                static_cast<long long>(unit))};
  const int64_t slot = d.StartBldZone;
  const int64_t code = slot + int64_t{d.BldSlotInstr} * bpi;
  if (code < slot + kResetSlotBytes)
    throw TableLineError{"BldSlotInstr leaves no room for the 8-byte reset slot"};
  const int64_t slotBlock = (slot + kResetSlotBytes - 1) / unit * unit;
  if (slotBlock + unit > code)
    throw TableLineError{"the block holding the reset slot would also hold bootloader code"};
  if (pic18 && (slotBlock >= slot || slotBlock != slot / unit * unit))
    throw TableLineError{"the reset slot does not lie in a block that starts below the zone"};
  if (IsDsPIC(d.Family) && (code / 2) % kDsEntryAlign != 0)
    throw TableLineError{"the bootloader entry is not a multiple of 40h"};
}

// Refuses geometry that would make the host size arrays from nonsense or
// divide by zero later: the flash size, the bootloader zone and, for the
// families that send blocks of table-defined size, the block geometry.
void CheckGeometry(const TPICInfo& entry) {
  if (entry.FlashSize <= 0 || entry.FlashSize % 2 != 0 || entry.FlashSize > kMaxFlashSize) {
    throw TableLineError{
        Format("FlashSize %d must be even, positive and at most 16 MiB", entry.FlashSize)};
  }
  if (entry.EESize < 0) throw TableLineError{"EESize is negative"};
  // Bound the zone's factors before they are multiplied at all.
  if (entry.ErasePageInstr < 0 || entry.BldPages < 0 ||
      int64_t{entry.ErasePageInstr} * entry.BldPages > kMaxFlashSize) {
    throw TableLineError{"the bootloader zone does not fit in flash"};
  }
  TPICInfo derived = entry;
  if (!DerivePicGeometry(derived)) return;  // unknown family: reported on its own
  if (entry.FlashSize > FlashAreaBytes(entry.Family)) {
    throw TableLineError{
        Format("FlashSize %d reaches past the family's program memory (%lld bytes)",
               entry.FlashSize, static_cast<long long>(FlashAreaBytes(entry.Family)))};
  }
  const int64_t zone = int64_t{derived.BytesPerInstrPC} *
                       (int64_t{entry.ErasePageInstr} * entry.BldPages + entry.BldSlotInstr);
  // Both sizes are checked in 64 bits; the 32-bit fields hold them only
  // when they fit. The zone starts past the reset code at address 0, which
  // the reset slot takes over: the two would overlap below 8 bytes.
  if (zone < kResetSlotBytes || entry.FlashSize - zone < kResetSlotBytes) {
    throw TableLineError{"the bootloader zone does not fit in flash"};
  }
  const bool tableBlocks = entry.Family == kFamily18F || entry.Family == kFamily18FJ ||
                           entry.Family == kFamily18FK || entry.Family == kFamilyDsPIC33;
  if (tableBlocks &&
      (entry.RowInstr <= 0 || entry.RowsPerBlock == 0 || entry.ErasePageInstr <= 0)) {
    throw TableLineError{"ErasePageInstr, RowInstr and RowsPerBlock must be positive"};
  }
  if (tableBlocks) {
    // The writers multiply these in 32 bits: a block or an erase page no
    // larger than the flash keeps every product far below the limit.
    const int64_t block = FlashBlockBytes(derived);
    const int64_t page = int64_t{entry.ErasePageInstr} * derived.BytesPerInstrPC;
    if (block > entry.FlashSize)
      throw TableLineError{
          Format("a block of %lld bytes is larger than the flash", static_cast<long long>(block))};
    if (page > entry.FlashSize)
      throw TableLineError{Format("an erase page of %lld bytes is larger than the flash",
                                  static_cast<long long>(page))};
    // The erase pass steps down from the top of the flash a page at a
    // time; each step must start a page, as the firmware erases whole ones.
    if (entry.FlashSize % page != 0)
      throw TableLineError{Format("the flash is not a whole number of %lld-byte erase pages",
                                  static_cast<long long>(page))};
    const int64_t wireBytes = block / derived.BytesPerInstrPC * derived.BytesPerInstrPIC;
    if (entry.Family == kFamilyDsPIC33 && wireBytes > kDsPIC33MaxBlockBytes)
      throw TableLineError{Format("a dsPIC33 block of %lld bytes does not fit its count field",
                                  static_cast<long long>(wireBytes))};
  }
  CheckSlotBlock(derived);
}

std::filesystem::path ProgramDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

std::array<TPICInfo, 256>& PicTable() {
  static std::array<TPICInfo, 256> table{};
  return table;
}

bool& PicTableLoaded() {
  static bool loaded = false;
  return loaded;
}

bool DerivePicGeometry(TPICInfo& info) {
  bool known = true;
  switch (info.Family) {
    case kFamily16F:
      info.BytesPerInstrPC = 2, info.BytesPerInstrPIC = 2, info.AddrIncrementPIC = 1;
      break;
    case kFamily18F:
    case kFamily18FJ:
    case kFamily18FK:
      info.BytesPerInstrPC = 2, info.BytesPerInstrPIC = 2, info.AddrIncrementPIC = 2;
      break;
    case kFamilyDsPIC30:
    case kFamilyDsPIC33:
      info.BytesPerInstrPC = 4, info.BytesPerInstrPIC = 3, info.AddrIncrementPIC = 2;
      break;
    default:
      known = false;  // the byte fields keep what they held
  }
  // In 64 bits: a table line is checked only after this runs on a copy.
  const int64_t zone = int64_t{info.BytesPerInstrPC} *
                       (int64_t{info.ErasePageInstr} * info.BldPages + info.BldSlotInstr);
  info.SizeOfBLDBytesPC = static_cast<int32_t>(zone);
  info.StartBldZone = static_cast<int32_t>(int64_t{info.FlashSize} - zone);
  return known;
}

std::string TVantleBootloader::FindPicCodes() {
  const std::filesystem::path candidates[] = {
      std::filesystem::path(kPicCodesName),
      ProgramDir() / kPicCodesName,
      // An installed program, wherever its prefix was unpacked or moved:
      // bin/ beside share/vantlebld/.
      ProgramDir() / ".." / "share" / "vantlebld" / kPicCodesName,
      std::filesystem::path(VANTLEBLD_DATADIR) / kPicCodesName,
  };
  for (const auto& p : candidates) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(p, ec)) return p.string();
  }
  return {};
}

bool TVantleBootloader::LoadPicCodes() {
  const std::string found = FindPicCodes();
  return LoadPicCodesFile(found.empty() ? kPicCodesName : found);
}

bool TVantleBootloader::LoadPicCodesFile(const std::string& path) {
  return ReadPicCodes(path, OnEvent);
}

bool ReadPicCodes(const std::string& path, const TVantleBootloader::TEventSink& report) {
  const auto Say = [&report](TLineRole role, const std::string& text, bool verbose = false) {
    if (report) report(TJobEvent{TDetailEvent{role, verbose, text}});
  };
  bool result = false;
  int64_t lineNo = 0;
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TableLineError{Format("cannot open %s: %s", path.c_str(), std::strerror(errno))};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The table describes one file: a second reading (another table named
    // on the command line) starts from an empty table.
    auto& table = PicTable();
    table.fill(TPICInfo{});
    ForEachLine(text, [&](std::string_view raw, int64_t n) {
      lineNo = n;
      if (TrimControls(raw).empty() || raw.front() == ';') return true;
      std::vector<std::string> fields;
      size_t start = 0;
      while (fields.size() < kFieldCount) {
        const size_t comma = raw.find(',', start);
        fields.push_back(TrimControls(
            raw.substr(start, comma == std::string_view::npos ? raw.npos : comma - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
      }
      if (fields.size() < kFieldCount) throw TableLineError{"fewer than 11 fields"};
      const int32_t code = ParseTableNumber(fields[0], "Code");
      if (code < 0 || code > 255) throw TableLineError{Format("code %d is outside 0..255", code)};
      if (fields[1].empty()) throw TableLineError{"the family field is empty"};

      TPICInfo entry = table[static_cast<size_t>(code)];
      entry.Code = static_cast<uint8_t>(code);
      const int family = FamilyFromLetter(fields[1].front());
      if (family != 0) {
        entry.Family = static_cast<uint8_t>(family);
      } else {
        Say(TLineRole::Step, "error in piccodes.ini");
      }
      entry.Name = std::string(fields[2]);
      entry.FlashSize = ParseTableNumber(fields[3], "FlashSize");
      entry.EESize = ParseTableNumber(fields[4], "EESize");
      entry.ErasePageInstr = ParseTableNumber(fields[5], "ErasePageInstr");
      entry.RowInstr = ParseTableNumber(fields[6], "RowInstr");
      entry.RowsPerBlock = static_cast<uint8_t>(ParseTableNumber(fields[7], "RowsPerBlock"));
      entry.BldPages = ParseTableNumber(fields[8], "BldPages");
      entry.BldSlotInstr = static_cast<uint8_t>(ParseTableNumber(fields[9], "BldSlotInstr"));
      entry.Options = static_cast<uint8_t>(ParseTableNumber(fields[10], "Options"));
      CheckGeometry(entry);
      table[static_cast<size_t>(code)] = entry;
      return true;
    });
    result = true;
  } catch (const TableLineError& e) {
    Say(TLineRole::Step,
        lineNo > 0 ? Format("%s line %lld: %s", path.c_str(), static_cast<long long>(lineNo),
                            e.reason.c_str())
                   : e.reason,
        true);
    Say(TLineRole::Step, "Error: piccodes.ini  not found");
  } catch (const std::exception& e) {
    Say(TLineRole::Step, e.what(), true);
    Say(TLineRole::Step, "Error: piccodes.ini  not found");
  }
  PicTableLoaded() = result;
  return result;
}

bool TVantleBootloader::LookupPic(int code) {
  if (!PicTableLoaded() || code < 0 || code > 255) return false;
  const TPICInfo& e = PicTable()[static_cast<size_t>(code)];
  if (e.Code == 0) return false;
  pic.Name = e.Name;
  pic.Family = e.Family;
  pic.FlashSize = e.FlashSize;
  pic.EESize = e.EESize;
  pic.ErasePageInstr = e.ErasePageInstr;
  pic.RowInstr = e.RowInstr;
  pic.RowsPerBlock = e.RowsPerBlock;
  pic.BldPages = e.BldPages;
  pic.BldSlotInstr = e.BldSlotInstr;
  pic.Options = e.Options;
  return true;
}

std::vector<std::string> TVantleBootloader::PicCodeList() const {
  std::vector<std::string> list;
  if (!PicTableLoaded()) return list;
  for (int code = 0x01; code <= 0xFE; ++code) {
    const TPICInfo& e = PicTable()[static_cast<size_t>(code)];
    if (e.Code != 0) list.push_back(Format("$%02X  %s", code, e.Name.c_str()));
  }
  return list;
}

}  // namespace vantlebld
