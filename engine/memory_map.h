// The memory map of a HEX file on one PIC: what a write would leave in the
// flash, worked out by the same analysis, load, relocation and writers as a
// write, over a link that sends nothing. The text the CLI prints and the
// picture (map_svg.h) are both made from it.
//
// Addresses are HEX-file byte addresses unless a field says otherwise;
// ProgramAddress() turns one into the PIC's own program address (a word
// address on PIC16F, the byte address on PIC18, twice the instruction
// index on dsPIC).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"

namespace vantlebld {

struct TMapRange {
  enum class TKind { Data, Empty, Slot, Zone };
  TKind Kind = TKind::Empty;
  int64_t Start = 0;
  int64_t End = 0;  // one past the last byte
};

// One instruction of the reset path as it will stand in the flash.
struct TMapInstruction {
  int64_t Address = 0;  // HEX byte address
  std::string Text;     // "GOTO 7E00h", "CLRF PCLATH", "dw 3FFFh"
  std::string Note;     // "bootloader entry", "your program", or empty
  int64_t Target = -1;  // a jump's target, a program address; -1: not a jump
};

struct TWritePlan {
  int32_t Blocks = 0;     // blocks the writers send, EEPROM and configuration included
  int64_t WireBytes = 0;  // their bytes on the line, answers not counted
  int32_t Baud = 0;
  int64_t ModelMs = 0;              // the protocol's time for them at Baud (ModelBlockMicros)
  std::vector<int64_t> UnitStarts;  // flash units sent, by their first byte
};

struct TMemoryMap {
  // The device.
  uint8_t Code = 0;
  std::string Model;
  uint8_t FamilyCode = 0;  // the engine's family number (kFamily16F ...): Is16F() and kin
  std::string Family;      // its name as shown: "PIC16F", "PIC18F", ... "dsPIC33F"
  int64_t FlashBytes = 0;
  int64_t ZoneStart = 0;  // the bootloader zone, to the end of flash; the slot is its start
  int64_t ZoneBytes = 0;
  int64_t SlotBytes = 0;
  int64_t Entry = 0;          // the bootloader's entry, BldSlotInstr instructions after the slot
  int32_t BytesPerInstr = 0;  // 2 on PIC16F and PIC18F, 4 on dsPIC
  bool Relocates = true;      // false: the device keeps its reset code (no slot)

  // The flash from 0 to its end, in order, without gaps.
  std::vector<TMapRange> Ranges;
  // What address 0 and the slot will hold.
  std::vector<TMapInstruction> ResetCode;
  std::vector<TMapInstruction> SlotCode;
  // The warnings the relocation gave, as logged.
  std::vector<std::string> Warnings;
  // EEPROM bytes by offset, as the file sets them. (A write carries no
  // configuration bytes: the load leaves them out.)
  std::map<int64_t, uint8_t> EEPROM;

  TWritePlan Plan;

  // Set when a write of the file would be refused: the reason, and the
  // address it names (-1 when none).
  bool Refused = false;
  std::string Reason;
  int64_t Collision = -1;

  int64_t ProgramAddress(int64_t hexAddress) const;
};

// The protocol's time for one block of blockBytes at baud, in microseconds:
// the block and its one-byte answer on the wire (10 bits a byte) and the
// host's pause and purges around each exchange. The firmware's own write
// time is not in it: it is unknown before the first answer.
int64_t ModelBlockMicros(int32_t blockBytes, int32_t baud);

// Maps hexFile on the device-table model code, as a write at baud would
// leave it (writeEEPROM: with the EEPROM pass). The device table must be
// loaded. Throws EVantleError for an unknown code or a family without a
// memory layout (as a write fails on it); a file a write would refuse,
// one the reader cannot read included, gives a map with Refused set and
// the reason.
TMemoryMap MapHexFile(uint8_t code, const std::string& hexFile, int32_t baud, bool writeEEPROM);

// The map as the CLI prints it, a line each.
std::vector<std::string> MapLines(const TMemoryMap& map);

}  // namespace vantlebld
