// The instruction encodings the host reads and writes in the reset code:
// the jumps and branches of each family and the PCLATH set-up of PIC16F,
// from the families' instruction sets. The relocation moves and repairs
// the reset code with them; the memory map disassembles it.
#pragma once

#include <cstdint>

namespace vantlebld {

// The reset code moved into the slot: four 16F/PIC18 words or two dsPIC
// instructions.
constexpr int32_t kResetSlotBytes = 8;

// 14-bit PIC16F instructions.
constexpr uint16_t k16FGotoMask = 0x3800, k16FGoto = 0x2800;
constexpr uint16_t k16FPclathWholeMask = 0x3EFF, k16FPclathWhole = 0x008A;  // MOVWF/CLRF PCLATH
constexpr uint16_t k16FPclathBitMask = 0x3BFF;                              // BCF/BSF PCLATH,b
constexpr uint16_t k16FPclathBit3 = 0x118A, k16FPclathBit4 = 0x120A;
constexpr uint16_t k16FHarmlessMask = 0x3F9F;  // NOP in any of its forms
constexpr uint16_t k16FClrfPclath = 0x018A;
constexpr uint16_t k16FMovlwMask = 0x3C00, k16FMovlw = 0x3000;
// BCF/BSF PCLATH,b for any bit b (bits 7..9).
constexpr uint16_t k16FBitOpMask = 0x3C7F, k16FBcfPclath = 0x100A, k16FBsfPclath = 0x140A;
constexpr uint16_t k16FMovwfPclath = 0x008A;
constexpr uint16_t k16FGotoAddressMask = 0x07FF;
// PIC18 GOTO: two words, EFkk then Fkkk.
constexpr uint16_t k18FGotoMask = 0xFF00, k18FGoto1 = 0xEF00, k18FGoto2 = 0xF000;
// dsPIC GOTO: 04kkkk then 0000kk, each in a 4-byte HEX group.
constexpr uint8_t kDsGotoOpcode = 0x04;
// PIC18 relative branches: BRA and RCALL carry 11 signed bits, the
// conditional branches (BC, BN, BNC, BNN, BNOV, BNZ, BOV, BZ) 8.
constexpr uint16_t k18FBraMask = 0xF800, k18FBra = 0xD000, k18FRcall = 0xD800;
constexpr uint16_t k18FCondMask = 0xF800, k18FCond = 0xE000;
// dsPIC: BRA and RCALL carry a signed 16-bit instruction offset; the
// conditional BRA forms fill opcodes 30h..3Fh (37h is the unconditional
// one) and 0Ch..0Fh.
constexpr uint8_t kDsBra = 0x37, kDsRcall = 0x07;
constexpr uint8_t kDsCondFirst = 0x30, kDsCondLast = 0x3F;
constexpr uint8_t kDsCondAccFirst = 0x0C, kDsCondAccLast = 0x0F;

}  // namespace vantlebld
