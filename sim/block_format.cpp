#include "sim/block_format.h"

#include "engine/format.h"

namespace vantlebld {

namespace {

constexpr size_t kHeader16F = 3;
constexpr size_t kHeader18F = 4;
constexpr size_t kHeaderDs30 = 4;
constexpr size_t kHeaderDs33 = 6;
constexpr size_t kChecksumBytes = 1;

// Kind bits in the first header byte of a PIC18 block.
constexpr uint8_t kKind18Config = 0x80;
constexpr uint8_t kKind18EEPROM = 0x40;
constexpr uint8_t kKind18Flash = 0x20;
// A 16F block whose first byte is 40h writes the EEPROM: a flash word
// address of these parts never reaches 4000h.
constexpr uint8_t kEEPROM16F = 0x40;

constexpr uint8_t kCount16FFlash = 0x40;  // 32 words
constexpr uint8_t kCount16FEEPROM = 0x01;
constexpr uint8_t kCount18FConfig = 0x01;
constexpr uint8_t kCountDs30Flash = 0x60;  // 32 instructions of 3 bytes
constexpr uint8_t kCountDs30Word = 0x02;
constexpr uint32_t kEraseCount = 2;  // an erase command carries two 00h bytes

constexpr uint32_t k18FConfigFirst = 0x300000;
constexpr uint32_t k18FConfigEnd = 0x400000;
// dsPIC30: the data EEPROM ends at program address 7FFFFFh; the
// configuration words start at F80000h.
constexpr uint32_t kDs30EEPROMEnd = 0x800000;
constexpr uint32_t kDsConfigFirst = 0xF80000;
constexpr uint32_t kDsConfigEnd = 0xF80010;

TBlockAction Refuse(std::string why) {
  TBlockAction a;
  a.HostError = std::move(why);
  return a;
}

// dsPIC instructions arrive as 3 bytes each; the HEX layout gives every
// instruction a fourth, phantom byte that reads 00h.
std::vector<uint8_t> SpreadInstructions(const uint8_t* data, size_t count) {
  std::vector<uint8_t> out;
  out.reserve(count / 3 * 4);
  for (size_t i = 0; i + 3 <= count; i += 3) {
    out.insert(out.end(), data + i, data + i + 3);
    out.push_back(0x00);
  }
  return out;
}

// A flash row write: the count must be the family's block and the address
// the start of a block, since the firmware writes whole rows.
TBlockAction FlashRow(uint32_t hexAddress, uint32_t unit, size_t count, size_t expected,
                      std::vector<uint8_t> bytes) {
  if (count != expected) {
    return Refuse(Format("flash block of %zu bytes at %06Xh; this PIC takes %zu", count, hexAddress,
                         expected));
  }
  if (hexAddress % unit != 0) {
    return Refuse(
        Format("flash block at %06Xh does not start on a %u-byte boundary", hexAddress, unit));
  }
  TBlockAction a;
  a.Kind = TBlockAction::TKind::FlashWrite;
  a.Address = hexAddress;
  a.Bytes = std::move(bytes);
  return a;
}

TBlockAction ErasePage(const TPICInfo& pic, uint32_t hexAddress) {
  const uint32_t page = static_cast<uint32_t>(pic.ErasePageInstr) * pic.BytesPerInstrPC;
  if (page == 0 || hexAddress % page != 0) {
    return Refuse(Format("erase command at %06Xh does not start an erase page", hexAddress));
  }
  TBlockAction a;
  a.Kind = TBlockAction::TKind::FlashErase;
  a.Address = hexAddress;
  return a;
}

TBlockAction Decode16F(const std::vector<uint8_t>& b) {
  const size_t count = b[2];
  if (count == 0) return {};
  if (b[0] == kEEPROM16F) {
    if (count != kCount16FEEPROM) return Refuse(Format("EEPROM block with count %02Xh", b[2]));
    return {TBlockAction::TKind::EEPROMWrite, b[1], {b[3]}, {}};
  }
  const uint32_t word = (uint32_t{b[0]} << 8) | b[1];
  return FlashRow(word * 2, kCount16FFlash, count, kCount16FFlash,
                  {b.begin() + kHeader16F, b.begin() + static_cast<std::ptrdiff_t>(3 + count)});
}

TBlockAction Decode18F(const TPICInfo& pic, const std::vector<uint8_t>& b) {
  const size_t count = b[3];
  const uint32_t low16 = (uint32_t{b[1]} << 8) | b[2];
  if (b[0] & kKind18Config) {
    const uint32_t address = (uint32_t{b[0] & 0x7Fu} << 16) | low16;
    if (count != kCount18FConfig)
      return Refuse(Format("configuration block with count %zu", count));
    if (address < k18FConfigFirst || address >= k18FConfigEnd) {
      return Refuse(
          Format("configuration write at %06Xh, below 300000h or above 3FFFFFh", address));
    }
    return {TBlockAction::TKind::ConfigWrite, address, {b[4]}, {}};
  }
  if (b[0] == kKind18EEPROM) {
    // The value sits in the third byte; the count byte is 00h.
    if (count != 0) return Refuse(Format("EEPROM block with count %zu", count));
    return {TBlockAction::TKind::EEPROMWrite, b[1], {b[2]}, {}};
  }
  if (count == 0) return {};
  if ((b[0] & 0xE0) != kKind18Flash) return Refuse(Format("block of unknown kind %02Xh", b[0]));
  const uint32_t address = (uint32_t{b[0] & 0x1Fu} << 16) | low16;
  if (count == kEraseCount) return ErasePage(pic, address);
  const uint32_t unit = uint32_t{pic.RowsPerBlock} * static_cast<uint32_t>(pic.RowInstr) * 2;
  return FlashRow(address, unit, count, unit & 0xFF,
                  {b.begin() + kHeader18F, b.begin() + static_cast<std::ptrdiff_t>(4 + count)});
}

TBlockAction DecodeDs30(const TPICInfo& pic, const std::vector<uint8_t>& b) {
  const uint32_t p = b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16);
  const size_t count = b[3];
  if (count == 0) return {};
  if (count == kCountDs30Word) {
    const uint32_t eeFirst = kDs30EEPROMEnd - static_cast<uint32_t>(pic.EESize);
    if (p >= eeFirst && p < kDs30EEPROMEnd) {
      return {TBlockAction::TKind::EEPROMWrite, p - eeFirst, {b[4], b[5]}, {}};
    }
    if (p >= kDsConfigFirst && p < kDsConfigEnd) {
      return {TBlockAction::TKind::ConfigWrite, 2 * p, {b[4], b[5], 0x00, 0x00}, {}};
    }
    return Refuse(
        Format("word write at program address %06Xh, neither EEPROM nor configuration", p));
  }
  return FlashRow(2 * p, 128, count, kCountDs30Flash, SpreadInstructions(&b[kHeaderDs30], count));
}

TBlockAction DecodeDs33(const TPICInfo& pic, const std::vector<uint8_t>& b) {
  const uint32_t p = b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16);
  const size_t count = b[4] | (size_t{b[5]} << 8);
  if (count == 0) return {};
  if (count == kEraseCount) return ErasePage(pic, 2 * p);
  const uint32_t instr = uint32_t{pic.RowsPerBlock} * static_cast<uint32_t>(pic.RowInstr);
  return FlashRow(2 * p, instr * 4, count, instr * 3, SpreadInstructions(&b[kHeaderDs33], count));
}

}  // namespace

size_t BlockHeaderLength(uint8_t family) {
  if (Is16F(family)) return kHeader16F;
  if (family == kFamilyDsPIC33) return kHeaderDs33;
  return Is18F(family) ? kHeader18F : kHeaderDs30;
}

size_t BlockLength(uint8_t family, const std::vector<uint8_t>& header) {
  if (Is16F(family)) return kHeader16F + header[2] + kChecksumBytes;
  if (family == kFamilyDsPIC33) {
    return kHeaderDs33 + (header[4] | (size_t{header[5]} << 8)) + kChecksumBytes;
  }
  return kHeader18F + header[3] + kChecksumBytes;
}

TBlockAction DecodeBlock(const TPICInfo& pic, const std::vector<uint8_t>& block) {
  if (Is16F(pic.Family)) return Decode16F(block);
  if (Is18F(pic.Family)) return Decode18F(pic, block);
  if (pic.Family == kFamilyDsPIC30) return DecodeDs30(pic, block);
  return DecodeDs33(pic, block);
}

}  // namespace vantlebld
