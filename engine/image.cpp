// The firmware image: flash accessors, address classification by family,
// and the report of what the EEPROM and configuration areas hold.
#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {
constexpr int kData = 0;
constexpr int kFlag = 1;

// dsPIC30 data EEPROM ends at program address 7FFFFFh; a part with EESize
// bytes starts it at 800000h - EESize (1 KB: 7FFC00h). The HEX file keeps
// each 16-bit EEPROM word in a 4-byte group at twice its program address:
// low byte, high byte, then two phantom bytes. EEData holds the bytes in
// EEPROM address order from offset 0, so the word at 800000h - EESize
// fills offsets 0 and 1. Phantom bytes, and bytes below the part's EEPROM
// (or a table size outside 1..4096), give -1: no place in the image.
int64_t DsPIC30EEOffset(int64_t hexByteAddress, int32_t eeSize) {
  constexpr int64_t kEEEnd = 0x800000;
  constexpr int64_t kEEWindow = 0x1000;  // 7FF000h..7FFFFFh
  const int64_t size = (eeSize > 0 && eeSize <= kEEWindow) ? eeSize : kEEWindow;
  const int64_t byteInGroup = hexByteAddress % 4;
  if (byteInGroup >= 2) return -1;
  const int64_t wordAddress = (hexByteAddress / 4) * 2;
  const int64_t offset = wordAddress - (kEEEnd - size) + byteInGroup;
  return offset >= 0 ? offset : -1;
}
}  // namespace

std::vector<uint8_t>& TVantleBootloader::FlashArray(int dataorflag) {
  if (dataorflag == kData) return FlashData;
  if (dataorflag == kFlag) return FlashFlag;
  throw EVantleError("dataorflag");
}

const std::vector<uint8_t>& TVantleBootloader::FlashArray(int dataorflag) const {
  if (dataorflag == kData) return FlashData;
  if (dataorflag == kFlag) return FlashFlag;
  throw EVantleError("dataorflag");
}

// The callers keep addresses inside the image; .at() turns a broken promise
// into an exception instead of a stray write.
uint8_t TVantleBootloader::GetByte(int32_t address, int dataorflag) const {
  return FlashArray(dataorflag).at(static_cast<size_t>(address));
}

void TVantleBootloader::SetByte(int32_t address, int dataorflag, uint8_t value) {
  FlashArray(dataorflag).at(static_cast<size_t>(address)) = value;
}

uint16_t TVantleBootloader::GetWord(int32_t w, int dataorflag) const {
  const auto& a = FlashArray(dataorflag);
  const size_t lo = 2 * static_cast<size_t>(w);
  if (dataorflag == kData) return static_cast<uint16_t>(a.at(lo) | (a.at(lo + 1) << 8));
  return static_cast<uint16_t>(a.at(lo) | a.at(lo + 1));
}

void TVantleBootloader::SetWord(int32_t w, int dataorflag, uint16_t value) {
  auto& a = FlashArray(dataorflag);
  const size_t lo = 2 * static_cast<size_t>(w);
  if (dataorflag == kData) {
    a.at(lo) = static_cast<uint8_t>(value & 0xFF);
    a.at(lo + 1) = static_cast<uint8_t>(value >> 8);
  } else {
    a.at(lo) = a.at(lo + 1) = static_cast<uint8_t>(value & 0xFF);
  }
}

bool TVantleBootloader::IsPresent(int32_t address) const {
  return (FlashFlag.at(static_cast<size_t>(address)) & kPresent) != 0;
}

void TVantleBootloader::MarkPresent(int32_t address) {
  FlashFlag.at(static_cast<size_t>(address)) |= kPresent;
}

void TVantleBootloader::ClearPresent(int32_t address) {
  FlashFlag.at(static_cast<size_t>(address)) &= static_cast<uint8_t>(~kPresent);
}

void TVantleBootloader::ResizeFlashImage(int32_t size) {
  const size_t n = size > 0 ? static_cast<size_t>(size) : 0;
  FlashData.resize(n, 0);
  FlashFlag.resize(n, 0);
}

int64_t TVantleBootloader::HexToPicAddr(int64_t hexByteAddress) const {
  switch (pic.Family) {
    case kFamily16F:
    case kFamilyDsPIC30:
    case kFamilyDsPIC33:
      return hexByteAddress / 2;  // two HEX bytes per PIC address step
    case kFamily18F:
    case kFamily18FJ:
    case kFamily18FK:
      return hexByteAddress;  // PIC18 program memory is byte addressed
    default:
      throw EVantleError("unknown family");
  }
}

int64_t FlashAreaBytes(uint8_t family) {
  if (Is16F(family)) return 2 * 0x2000;               // words below the configuration at 2000h
  if (Is18F(family)) return 0x200000;                 // 21 address bits, as a block carries
  if (family == kFamilyDsPIC30) return 2 * 0x7FF000;  // below the EEPROM window
  if (family == kFamilyDsPIC33) return 2 * 0x800000;
  return 0;
}

TAddressClass TVantleBootloader::ClassifyAddress(int64_t hexByteAddress) const {
  const int64_t p = HexToPicAddr(hexByteAddress);
  const bool flash = hexByteAddress < FlashAreaBytes(pic.Family);
  TAddressClass c;
  switch (pic.Family) {
    case kFamily16F:
      // 16F HEX files hold one 14-bit word per two bytes; the EEPROM image
      // at 2100h keeps its data in the low (even) byte of each word.
      if (flash) {
        c.Area = TArea::Flash;
      } else if (p < 0x2100) {
        c.Area = TArea::Config;
      } else if (p < 0x2200 && hexByteAddress % 2 == 0) {
        c.Area = TArea::EEPROM;
        c.EEOffset = p - 0x2100;
      }
      break;
    case kFamily18F:
    case kFamily18FJ:
    case kFamily18FK:
      if (flash) {
        c.Area = TArea::Flash;
      } else if (p >= 0x300000 && p < 0x400000) {
        c.Area = TArea::Config;
      } else if (p >= 0xF00000 && p < 0xF10000) {
        c.Area = TArea::EEPROM;
        c.EEOffset = p - 0xF00000;
      }
      break;
    case kFamilyDsPIC30:
    case kFamilyDsPIC33:
      if (flash) {
        c.Area = TArea::Flash;
      } else if (p >= 0xF80000 && p < 0xF80010) {
        c.Area = TArea::Config;
      } else if (pic.Family == kFamilyDsPIC30 && p < 0x800000) {
        c.EEOffset = DsPIC30EEOffset(hexByteAddress, pic.EESize);
        if (c.EEOffset >= 0) c.Area = TArea::EEPROM;
      }
      break;
    default:
      throw EVantleError("unknown family");
  }
  return c;
}

std::string TVantleBootloader::ImageReport() const {
  std::string s = "Also found:\r\nEEprom: ";
  for (int i = 0; i < 256; ++i) {
    s += (EEFlag[static_cast<size_t>(i)] & kPresent)
             ? Format("%.2X ", EEData[static_cast<size_t>(i)])
             : "__ ";
  }
  s += "\r\nConfig: ";
  for (int i = 0; i < 16; ++i) {
    s += (CfgFlag[static_cast<size_t>(i)] & kPresent)
             ? Format("%.2X ", CfgData[static_cast<size_t>(i)])
             : "__ ";
  }
  return s;
}

}  // namespace vantlebld
