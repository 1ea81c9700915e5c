// After a host wrote a HEX file into a virtual PIC: the PIC's memories
// against the file read a second, independent way, and the way from reset
// into the written program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"

namespace vantlebld {

struct TWrittenFileCheck {
  bool Ok = false;
  std::vector<std::string> Lines;  // what the CLI prints, each starting "virtual PIC: "
};

// pic: the device-table line; flash/eeprom: the virtual PIC's memories
// (TVirtualPic::Flash(), EEPROM()); eepromWritten: whether the host's EEPROM
// pass ran (then the file's EEPROM bytes must be there); clearAll: the host
// filled the user flash with FFh instead of writing the file's code, keeping
// the reset words (PIC16F, PIC18F) or the vector tables (dsPIC).
TWrittenFileCheck CheckWrittenFile(const TPICInfo& pic, const std::string& hexText,
                                   const std::vector<uint8_t>& flash,
                                   const std::vector<uint8_t>& eeprom, bool eepromWritten,
                                   bool clearAll);

}  // namespace vantlebld
