// A write worked out whole before its first block goes out: every block in
// the order it will be sent (the erase pass, the flash units, the EEPROM
// pass), and the preflight that proves what those blocks leave on the PIC:
// every byte of the HEX file lands, the PIC starts the program after reset,
// and the bootloader stays reachable. A write whose plan fails the
// preflight sends nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/line_role.h"

namespace vantlebld {

class TVantleBootloader;

struct TPlannedBlock {
  enum class TKind : uint8_t { Erase, Flash, EEPROM };
  TKind Kind = TKind::Flash;
  // Erase and flash: the HEX byte address of the page or unit; EEPROM: the
  // offset into the image's EEPROM area.
  int64_t Start = 0;
  int64_t Length = 0;  // the image bytes it covers
  // How a log describes the block as it goes out; empty: not described.
  TLineRole LineRole = TLineRole::Plain;
  bool LineVerbose = true;
  std::string Line;
  std::string Wire;  // header, data and checksum
};

struct TBlockPlan {
  std::vector<TPlannedBlock> Blocks;
  // Erase and flash blocks: what the progress counts.
  int32_t FlashBlocks() const;
};

// What the preflight found. A refusal carries one line a person can act on
// and the flash address it is about (-1 when none).
struct TPreflight {
  bool Ok = true;
  std::string Reason;
  int64_t Address = -1;
};

// The blocks the identified PIC's family sends for the image as it stands
// (relocated), the EEPROM pass with them when writeEEPROM. Throws
// an error naming the type code for a family it cannot write.
TBlockPlan PlanWrite(const TVantleBootloader& engine, bool writeEEPROM);

// Proves the plan before anything is sent: every byte the image marks
// present goes out (flash, and EEPROM when writeEEPROM), no block reaches
// the bootloader's own code, address 0 reaches the bootloader's entry and
// the reset code in the slot reaches the program outside the zone.
TPreflight CheckWritePlan(const TVantleBootloader& engine, const TBlockPlan& plan,
                          bool writeEEPROM);

// One EEPROM location as the family's block carries it (16F, PIC18, or a
// dsPIC30 word), checksum included.
std::string EEPROMBlock(uint8_t family, int32_t address, uint16_t value);

}  // namespace vantlebld
