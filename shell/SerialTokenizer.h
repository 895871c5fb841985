// Scanners of the shell's argument text. They never allocate and never print.
#pragma once

#include <cstddef>
#include <cstdint>

namespace SCU {

constexpr int32_t kFixedScale5 = 100000;

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
inline bool isIdentChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
// 0..15 for a hex digit, -1 otherwise.
int hexNibble(char c);

const char* skipWs(const char* text);
// An identifier run or a double-quoted string; returns the position after it, or null.
const char* parseToken(const char* text, char* out, size_t size);
// Exactly `count` bytes as 2*count hex digits (optional 0x), blanks around, nothing else.
bool parseHexBytes(const char* text, uint8_t* out, size_t count);
// A decimal number as the C library's strtol/strtoul (base 10) take it: C white space, an optional
// sign, digits. end is the position after the digits, or the text itself when there are none;
// overflow is set once the magnitude passes 2^32 - 1 (which then saturates).
struct DecimalText {
  bool negative;
  bool overflow;
  uint32_t magnitude;
  const char* end;
};
DecimalText scanDecimal(const char* text);

// Signed fixed point with up to 5 decimals, scaled by 100000 into 32 bits.
bool parseFixedScaled5(const char* text, const char** endPtr, int32_t* outScaled);

}  // namespace SCU

// A device identity as text: 1 to 6 hex digits, optional 0x prefix, blanks around; the value
// masked to 24 bits.
bool parseHexU24(const char* text, uint32_t& out);
