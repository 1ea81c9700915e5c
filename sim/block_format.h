// The blocks the host sends once the bootloader has answered, as the
// firmware stand-in reads them: where a block ends, and what it asks the
// firmware to do.
//
// Every block is a header, data and a checksum byte; the header tells the
// data count, so the length is known once the header is in:
//   B (16F)    W hi, W lo, count                      flash 40h bytes, EEPROM 40h a 01h v
//   C, J, K    A23..16 | kind, A15..8, A7..0, count   kind 20h flash, 80h config,
//                                                     40h a v 00h EEPROM; count 2 erases
//   D (ds30)   P7..0, P15..8, P23..16, count          flash 60h bytes, 02h one word
//   E (ds33)   P7..0, P15..8, P23..16, 00h, C lo, C hi   C = 2 erases
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"

namespace vantlebld {

// What one complete, well-formed block asks for. Flash and configuration
// bytes come in the HEX file's byte layout (dsPIC instructions already
// spread into 4-byte groups with their 00h phantom byte); EEPROM bytes are
// offsets into the data EEPROM.
struct TBlockAction {
  enum class TKind { Nothing, FlashWrite, FlashErase, EEPROMWrite, ConfigWrite };
  TKind Kind = TKind::Nothing;
  uint32_t Address = 0;  // HEX byte address, or EEPROM offset for EEPROMWrite
  std::vector<uint8_t> Bytes;
  std::string HostError;  // set when the block cannot be carried out; Kind is then Nothing
};

// Bytes of the header, from which BlockLength can tell the whole length.
size_t BlockHeaderLength(uint8_t family);

// Length of the whole block, checksum included, from its header.
size_t BlockLength(uint8_t family, const std::vector<uint8_t>& header);

// Reads a complete block whose checksum has been checked.
TBlockAction DecodeBlock(const TPICInfo& pic, const std::vector<uint8_t>& block);

}  // namespace vantlebld
