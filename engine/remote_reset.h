// Remote reset: bytes that ask the running PIC program to reset itself
// (pre-codes) and the control-line script that pulls a reset circuit, run
// just before the search. The jobs and the terminal's reset button share it.
#pragma once

#include <string>

#include "engine/vantlebld_comm.h"

namespace vantlebld {

// The firmware's reset request takes at most ten codes.
constexpr size_t kMaxPreCodes = 10;
// The pause after each code, and the time the program gets to restart
// into its bootloader after the last.
constexpr int32_t kPreCodePauseMs = 1;
constexpr int32_t kPreCodesSettleMs = 100;

// Reads the numbers of text (decimal, 80h, $80, 0x80; blanks, commas or
// semicolons between) as codes, the low 8 bits of each, up to the first
// token that is not a number, and sends each with SendByte, 1 ms apart,
// then waits 100 ms for the PIC to restart. Numbers past the tenth are
// not sent, and a log line says so. A text of only blanks does nothing.
void SendPreCodes(TVantleBootloader& engine, const std::string& text);

// The pre-codes, then the control-line script (SignalScript).
void RemoteReset(TVantleBootloader& engine, const std::string& preCodes,
                 const std::string& signalScript);

}  // namespace vantlebld
