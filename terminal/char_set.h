// The terminal's character set: IBM PC code page 437, the classic OEM
// terminal set, in which every byte has a glyph (01h a smiling face, 0Dh a
// note, FAh a middle dot), so control bytes in received data stay visible.
#pragma once

#include <cstdint>

namespace vantlebld {

// The Unicode character drawn for a byte; 00h is a blank.
char16_t Cp437Glyph(uint8_t byte);

}  // namespace vantlebld
