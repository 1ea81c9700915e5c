// What a PIC does after reset, followed instruction by instruction through
// its flash: address 0, the bootloader's entry, the reset slot and on to
// the user program. A second opinion on the host's relocation of the reset
// code, worked out from the device table's raw fields and the instruction
// encodings alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"

namespace vantlebld {

// The bootloader zone from the device table's raw fields, in HEX bytes.
struct TBootZone {
  int64_t BytesPerInstr = 0;  // 2 on PIC16F and PIC18F, 4 on dsPIC
  int64_t Start = 0;          // first byte of the zone: the reset slot
  int64_t Entry = 0;          // the bootloader's entry, BldSlotInstr instructions later
  int64_t FlashEnd = 0;       // FlashSize: the zone runs to here
};
// False when the family is unknown or the zone leaves no room for the
// slot, the entry or address 0's code.
bool FindBootZone(const TPICInfo& pic, TBootZone& zone);

struct TBootPath {
  bool Ok = false;
  // "boot path: 000000 -> 003F20 (bootloader) -> 003F00 (slot) -> 000005"
  // or "boot path broken: <reason>"; program addresses.
  std::string Line;
  int64_t Target = -1;  // program address where the user program starts; -1 when broken
  // A reset reaches the bootloader's entry, whatever the slot then does:
  // the PIC can be written again.
  bool ReachesBootloader = false;
};

// What the PIC does after reset, followed instruction by instruction on
// flash in the HEX file's byte layout (FlashSize bytes).
TBootPath JudgeBootPath(const TPICInfo& pic, const std::vector<uint8_t>& flash);

// Where the given reset code starts the program when it runs from address 0
// of a PIC without bootloader (reset state): the target of its first jump.
// flash: HEX byte layout, any length (missing bytes read as erased). -1 and
// why when it does not jump within its first 8 HEX bytes or cannot be
// followed.
int64_t ResetCodeTarget(const TPICInfo& pic, const std::vector<uint8_t>& flash, std::string& why);

}  // namespace vantlebld
