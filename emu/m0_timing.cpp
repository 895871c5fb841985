// Cortex-M0+ cycles of a Thumb instruction.
#include "m0_timing.h"

namespace emu {

unsigned m0Cycles(uint16_t hw, bool taken) {
  if ((hw >> 11) == 0x1E) return 3;  // BL (and the other 32-bit system instructions: MSR, MRS, DSB, ISB)
  if (isConditionalBranch(hw)) return taken ? 2 : 1;
  if ((hw & 0xF800) == 0xE000) return 2;  // B
  if ((hw & 0xFF00) == 0x4700) return 2;  // BX, BLX
  if ((hw & 0xFE00) == 0xB400 || (hw & 0xFE00) == 0xBC00) {  // PUSH, POP
    const unsigned n = static_cast<unsigned>(__builtin_popcount(hw & 0x1FFu));
    const bool loadsPc = (hw & 0xFE00) == 0xBC00 && (hw & 0x100) != 0;
    return 1 + n + (loadsPc ? 1 : 0);
  }
  if ((hw & 0xF000) == 0xC000) return 1 + static_cast<unsigned>(__builtin_popcount(hw & 0xFFu));  // LDM, STM
  const unsigned top = hw & 0xF000u;
  if (top == 0x5000 || top == 0x6000 || top == 0x7000 || top == 0x8000 || top == 0x9000 || (hw & 0xF800) == 0x4800) {
    return 2;  // loads and stores: register, immediate, SP-relative, literal
  }
  if ((hw & 0xFF87) == 0x4687) return 2;  // MOV pc, Rm
  return 1;
}

}  // namespace emu
