// Argument checks shared by the shell's commands.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ShellParse {

// The whole text is one unsigned decimal number in [lo, hi] (blanks around, '+' allowed).
bool boundedU32(const char* text, uint32_t lo, uint32_t hi, uint32_t& out);
// Exactly one token (SCU::parseToken) and nothing but blanks after it.
bool loneToken(const char* text, char* out, size_t size);
// One unbroken run of hex digits (optional 0x), blanks around; counts them.
bool hexDigitCount(const char* text, unsigned& digits);
// `end` (from SCU::parseToken) stops inside a run of identifier characters: the token was cut
// at its buffer size. A quoted token, or a run that ended by itself, is never cut.
bool tokenWasCut(const char* end);

}  // namespace ShellParse
