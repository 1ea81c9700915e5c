// Single EEPROM and configuration writes, and the clear-all fill of the
// user flash. The EEPROM pass after the flash is planned with the flash
// (write_plan.cpp).
#include <algorithm>

#include "engine/format.h"
#include "engine/vantlebld_comm.h"
#include "engine/write_plan.h"

namespace vantlebld {

namespace {

constexpr uint8_t k18FConfigWrite = 0x80;  // PIC18 configuration: OR address bits 23..16
constexpr uint8_t kOneByte = 0x01;
constexpr int32_t k18FConfigStart = 0x300000;

char Byte(int64_t v) {
  return static_cast<char>(static_cast<uint8_t>(v & 0xFF));
}

}  // namespace

void TVantleBootloader::WriteEEPROMByte(int32_t address, uint8_t value) {
  switch (pic.Family) {
    case kFamily16F:
      WriteEEPROM16F(address, value);
      break;
    case kFamily18F:
      WriteEEPROM18F(address, value);
      break;
    case kFamilyDsPIC30: {
      // A word write elsewhere would land in program memory.
      const int32_t first = kDsEEPROMEnd - pic.EESize;
      if (address < first || address >= kDsEEPROMEnd)
        throw EVantleError(
            Format("Address outside the EEPROM [%.6Xh..%.6Xh]", first, kDsEEPROMEnd - 1));
      Say(TLineRole::Step, Format("eeprom addr:%.3xh <- %.2xh", address, value));
      WriteWordDS(address, value);
      break;
    }
    default:
      throw EVantleError(
          Format("The %s has no EEPROM this bootloader writes one location of "
                 "(PIC16F, PIC18F and dsPIC30F parts only)",
                 pic.Name.c_str()));
  }
}

void TVantleBootloader::WriteConfigByte(int32_t address, int32_t value) {
  switch (pic.Family) {
    case kFamily18F:
      WriteConfig18F(address, static_cast<uint8_t>(value & 0xFF));
      break;
    case kFamilyDsPIC30:
      Say(TLineRole::Step, Format("eeprom addr:%.3xh <- %.2xh", address, value));
      WriteWordDS(address, static_cast<uint16_t>(value & 0xFFFF));
      break;
    default:
      throw EVantleError(
          Format("The %s takes no configuration writes from this bootloader "
                 "(PIC18F and dsPIC30F parts only)",
                 pic.Name.c_str()));
  }
}

namespace {

// An EEPROM address outside the identified PIC's EEPROM.
EVantleError EEPROMRange(const TPICInfo& pic, int32_t address) {
  return EVantleError(Format("EEPROM address %d (%03Xh) is outside the %s's EEPROM, 000h..%03Xh",
                             address, address, pic.Name.c_str(), std::max(pic.EESize - 1, 0)));
}

}  // namespace

void TVantleBootloader::WriteEEPROM16F(int32_t address, uint8_t value) {
  // The EEPROM ends before EESize: that address would wrap or miss.
  if (address < 0 || address >= pic.EESize) throw EEPROMRange(pic, address);
  Say(TLineRole::Plain, Format("EEPROM16F Location:[%.3xh] <- %.2Xh", address, value), true);
  SendBlock(EEPROMBlock(pic.Family, address, value));
}

void TVantleBootloader::WriteEEPROM18F(int32_t address, uint8_t value) {
  if (address < 0 || address >= pic.EESize) throw EEPROMRange(pic, address);
  Say(TLineRole::Step, Format("eeprom addr:%.3xh <- %.2xh", address, value));
  SendBlock(EEPROMBlock(pic.Family, address, value));
}

void TVantleBootloader::WriteWordDS(int32_t address, uint16_t value) {
  SendBlock(EEPROMBlock(kFamilyDsPIC30, address, value));
}

void TVantleBootloader::WriteConfig18F(int32_t address, uint8_t value) {
  // The configuration area is 300000h..3FFFFFh: the block's address
  // field would carry an address beyond it into another area.
  if (address < k18FConfigStart || address > k18FConfigStart + 0x0FFFFF) {
    throw EVantleError(
        Format("Configuration address %06Xh is outside the PIC18 configuration area "
               "(300000h..3FFFFFh)",
               address));
  }
  Say(TLineRole::Step, Format("cfg addr:%.6xh <- %.2xh", address, value));
  SendBlock(
      WithChecksum({static_cast<char>(Byte(address >> 16) | k18FConfigWrite), Byte(address >> 8),
                    Byte(address), static_cast<char>(kOneByte), static_cast<char>(value)}));
}

void TVantleBootloader::FillUserFlash() {
  int32_t first = 0;
  switch (pic.Family) {
    case kFamily16F:
    case kFamily18F:
      first = 8;
      break;  // keep the four reset words
    case kFamilyDsPIC30:
      first = 0x200;
      break;  // keep the vector tables
    case kFamilyDsPIC33:
      first = 0x400;
      break;
    default:
      throw EVantleError("unknown family");
  }
  const int64_t zoneEnd = int64_t{pic.StartBldZone} + pic.SizeOfBLDBytesPC;
  const int32_t end = std::min<int32_t>(pic.FlashSize, static_cast<int32_t>(FlashData.size()));
  for (int32_t a = first; a < end; ++a) {
    if (a >= pic.StartBldZone && a < zoneEnd) continue;
    FlashData[static_cast<size_t>(a)] = 0xFF;
    FlashFlag[static_cast<size_t>(a)] |= kPresent;
  }
}

}  // namespace vantlebld
