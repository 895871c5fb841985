// Cortex-M0+ execution timing of Thumb instructions, zero wait states (the rules of
// tools/m0_cycles/m0_cycles.py, which cross-checks its counts against QEMU): 1 cycle for data
// processing and MULS (the single-cycle multiplier), 2 for loads and stores, 1 + N for PUSH, POP,
// LDM and STM (3 + N for a POP that loads PC), 2 for a taken branch, BX and BLX, 3 for BL; an
// untaken conditional branch costs 1.
#pragma once

#include <cstdint>

namespace emu {

// Cycles of the instruction whose first halfword is `hw`; `taken`: a conditional branch branched.
unsigned m0Cycles(uint16_t hw, bool taken);
// 32-bit Thumb instructions (BL, MSR, MRS, DSB, DMB, ISB) start with one of these halfwords.
inline bool isWide(uint16_t hw) { return (hw >> 11) == 0x1D || (hw >> 11) == 0x1E || (hw >> 11) == 0x1F; }
// As the cycle counter classes them (UDF and SVC share the encoding space; the firmware has neither).
inline bool isConditionalBranch(uint16_t hw) { return (hw & 0xF000) == 0xD000; }

// Cycles the core spends entering an exception (stacking eight words, fetching the vector) and
// returning from one (unstacking them), from the Cortex-M0+ figures: 15 cycles of interrupt latency;
// the return counted as the POP of the frame with PC (3 + 8).
constexpr unsigned kExceptionEntryCycles = 15;
constexpr unsigned kExceptionReturnCycles = 11;

}  // namespace emu
