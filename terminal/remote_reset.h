// Remote reset: bytes that ask the running PIC program to reset itself
// (pre-codes), sent just before the search. The window's jobs, its
// terminal's reset button and vantlebld-cli share it.
#pragma once

#include <string>

#include "engine/vantlebld_comm.h"

namespace vantlebld {

// The firmware's reset request takes at most ten codes.
constexpr size_t kMaxPreCodes = 10;

// Reads the numbers of text (decimal, 80h, $80, 0x80; blanks, commas or
// semicolons between) as codes, the low 8 bits of each, up to the first
// token that is not a number, and sends each with SendByte, 1 ms apart,
// then waits 100 ms for the PIC to restart. Numbers past the tenth are
// not sent, and a log line says so. A text of only blanks does nothing.
void SendPreCodes(TVantleBootloader& engine, const std::string& text);

}  // namespace vantlebld
