// The device table reader: the input is a table file. When it reads, the
// first models it defines are identified and take a small program of their
// family over the offline link, and are mapped: a model of a known family
// gets a map whose ranges cover its flash and a picture of valid XML text;
// one of an unknown family is refused, never looped over.
#include "engine/map_svg.h"
#include "engine/memory_map.h"
#include "fuzz/fuzz_support.h"

using namespace vantlebld;

namespace {

// One Intel HEX record with its checksum.
std::string Record(uint32_t address, uint8_t type, std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> r = {static_cast<uint8_t>(bytes.size()), static_cast<uint8_t>(address >> 8),
                            static_cast<uint8_t>(address), type};
  r.insert(r.end(), bytes);
  uint8_t sum = 0;
  std::string line = ":";
  char hex[3];
  for (uint8_t b : r) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
    sum = static_cast<uint8_t>(sum + b);
  }
  std::snprintf(hex, sizeof hex, "%02X", static_cast<uint8_t>(-sum));
  return line + hex + "\n";
}

std::string Base(uint16_t upper) {
  return Record(0, 4, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

const std::string kEnd = ":00000001FF\n";

// PIC16F: CLRF PCLATH, GOTO 10h; at 10h GOTO $; EEPROM byte 0 = 5Ah.
const std::string k16F = Record(0, 0, {0x8A, 0x01, 0x10, 0x28}) + Record(0x20, 0, {0x10, 0x28}) +
                         Record(0x4200, 0, {0x5A, 0x00}) + kEnd;
// PIC18: GOTO 40h; at 40h BRA $; EEPROM byte 0 = 5Ah; CONFIG1H = 22h.
const std::string k18F = Base(0) + Record(0, 0, {0x20, 0xEF, 0x00, 0xF0}) +
                         Record(0x40, 0, {0xFF, 0xD7}) + Base(0xF0) + Record(0, 0, {0x5A}) +
                         Base(0x30) + Record(1, 0, {0x22}) + kEnd;
// dsPIC: GOTO 100h; at 100h BRA $; the last EEPROM word of a dsPIC30 = 1234h.
const std::string kDs = Base(0) + Record(0, 0, {0x00, 0x01, 0x04, 0, 0, 0, 0, 0}) +
                        Record(0x200, 0, {0xFF, 0xFF, 0x37, 0}) + Base(0xFF) +
                        Record(0xFFFC, 0, {0x34, 0x12, 0, 0}) + kEnd;

// A line may describe a 16 MiB flash sent in 2-byte blocks, every block
// or with an erase pass: a valid model, but millions of blocks per input.
// Such a model is identified and loaded; its write is left out.
bool WriteTakesLong(const TPICInfo& entry) {
  TPICInfo pic = entry;
  DerivePicGeometry(pic);
  constexpr int64_t kMaxBlocks = 1 << 16;
  const int64_t unit = FlashBlockBytes(pic);
  const int64_t page = int64_t{pic.ErasePageInstr} * pic.BytesPerInstrPC;
  const int64_t every = (pic.Options & 1) != 0 && unit > 0 ? pic.FlashSize / unit : 0;
  const int64_t erase = (pic.Options & 2) != 0 && page > 0 ? pic.FlashSize / page : 0;
  return every + erase > kMaxBlocks;
}

// Whether text is UTF-8 (by its sequences' shape) without the control
// characters XML 1.0 forbids.
bool XmlText(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const auto lead = static_cast<uint8_t>(text[at]);
    const size_t length = lead < 0x80   ? 1
                          : lead < 0xC2 ? 0
                          : lead < 0xE0 ? 2
                          : lead < 0xF0 ? 3
                          : lead < 0xF5 ? 4
                                        : 0;
    if (length == 0 || at + length > text.size()) return false;
    if (lead < 0x20 && lead != '\t' && lead != '\n' && lead != '\r') return false;
    for (size_t i = 1; i < length; ++i)
      if ((static_cast<uint8_t>(text[at + i]) & 0xC0) != 0x80) return false;
    at += length;
  }
  return true;
}

void Map(const TPICInfo& entry, const std::string& hexPath) {
  TPICInfo pic = entry;
  const bool known = DerivePicGeometry(pic);
  TMemoryMap map;
  try {
    map = MapHexFile(entry.Code, hexPath, 115200, true);
  } catch (const EVantleError& e) {
    if (known || !fuzz::IsInputError(e))
      fuzz::Finding("the map of " + entry.Name + " failed: " + e.what());
    return;
  }
  if (!known) fuzz::Finding("a map of " + entry.Name + ", whose family is unknown");
  int64_t next = 0;
  for (const TMapRange& r : map.Ranges) {
    if (r.Start != next || r.End <= r.Start) fuzz::Finding("a gap in the map of " + entry.Name);
    next = r.End;
  }
  if (next != map.FlashBytes) fuzz::Finding("the map of " + entry.Name + " ends before the flash");
  if (!XmlText(MapSvg(map))) fuzz::Finding("the picture of " + entry.Name + " is no XML text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::TMemoryFile table;
  static fuzz::TMemoryFile hex;
  table.Write(fuzz::Text(data, size));
  if (!ReadPicCodes(table.Path(), {})) return 0;
  constexpr int kModels = 3;
  int written = 0;
  for (int code = 0; code < 256 && written < kModels; ++code) {
    const TPICInfo& entry = PicTable()[static_cast<size_t>(code)];
    if (entry.Code == 0) continue;
    ++written;
    hex.Write(Is16F(entry.Family) ? k16F : Is18F(entry.Family) ? k18F : kDs);
    if (!WriteTakesLong(entry)) {
      fuzz::WriteOffline(hex.Path(), entry.Code);
      Map(entry, hex.Path());
      continue;
    }
    TVantleBootloader engine;
    try {
      engine.IdentifyPIC(entry.Code);
      engine.ReadHex(hex.Path(), true);
      engine.ReallocateReset(true);
    } catch (const EVantleError& e) {
      if (!fuzz::IsInputError(e)) fuzz::Finding(std::string("assertion: ") + e.what());
    }
  }
  return 0;
}
