// The memories of the virtual PIC: program flash in the HEX file's byte
// layout, the data EEPROM and the configuration bytes written so far.
//
// At construction the flash looks as if a programmer had just put the
// bootloader firmware in: erased everywhere, a jump to the firmware's entry
// at address 0, and at the entry a stub of real instructions that jumps to
// the reset slot. The firmware's own code, from the entry to the end of
// flash, is never changed by a block; a block that tries is the host's
// fault and is reported.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"
#include "sim/block_format.h"

namespace vantlebld {

class TPicMemory {
 public:
  // pic must have its geometry derived (DerivePicGeometry).
  explicit TPicMemory(const TPICInfo& pic);

  // FlashSize bytes; erased bytes read FFh, dsPIC phantom bytes 00h.
  const std::vector<uint8_t>& Flash() const { return flash_; }
  // EESize bytes, erased FFh.
  const std::vector<uint8_t>& EEPROM() const { return eeprom_; }
  // Configuration bytes written, by HEX byte address (PIC18: the byte's own
  // address; dsPIC: twice the word's program address, lo, hi, 00h, 00h).
  const std::map<uint32_t, uint8_t>& Config() const { return config_; }

  // The reset slot: program address (word address on 16F/PIC18).
  uint32_t SlotAddress() const { return slotAddress_; }
  // The firmware's entry, BldSlotInstr instructions after the slot.
  uint32_t EntryAddress() const { return entryAddress_; }
  // First HEX byte of the firmware's own code (2 × EntryAddress).
  uint32_t CodeStart() const { return codeStart_; }
  // What an erased flash byte reads at this HEX address.
  uint8_t ErasedByte(uint32_t hexAddress) const;

  // Carries out a decoded block. Returns what the host did wrong (empty when
  // nothing); the parts of the block that were allowed are done all the same.
  std::vector<std::string> Apply(const TBlockAction& action);

  // Everything as INHX32 in the family's HEX addressing: all of flash, all of
  // the EEPROM, the configuration bytes written.
  std::string ExportHex() const;

 private:
  void PutJump(uint32_t hexAddress, uint32_t target);
  void PutWord(uint32_t hexAddress, uint16_t word);
  std::vector<std::string> StoreFlash(uint32_t hexAddress, const std::vector<uint8_t>& bytes,
                                      const char* verb);

  TPICInfo pic_;
  std::vector<uint8_t> flash_;
  std::vector<uint8_t> eeprom_;
  std::map<uint32_t, uint8_t> config_;
  uint32_t slotAddress_ = 0;
  uint32_t entryAddress_ = 0;
  uint32_t codeStart_ = 0;
};

}  // namespace vantlebld
