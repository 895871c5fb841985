// Layout primitives of the shell's tables and the integer-only number texts they print.
#pragma once

#include <cstdint>

namespace ShellFmt {

constexpr int kLabelWidth = 24;
constexpr int kValueWidth = 13;
constexpr float kMaxScaled = 4000000000.0f;
constexpr float kRadToDeg = 57.295776f;
// Decimals beyond 9 would overflow the 32-bit scale; they are printed as 9.
constexpr unsigned kMaxDecimals = 9;

// Empty line, then "=== title ===".
void section(const char* title);
// One value column: header line and its rule, or a row.
void head1(const char* label, const char* column);
void row1(const char* label, const char* value);
// Two value columns.
void head2(const char* label, const char* columnA, const char* columnB);
void row2(const char* label, const char* valueA, const char* valueB);

// `value` rounded half away from zero to `decimals` digits, written into `buffer`:
// "1.235", "0.000" (no sign on a value that rounds to zero), "nan", "inf", "huge".
const char* fixed(char* buffer, unsigned capacity, float value, unsigned decimals);

// A value cut (not rounded) into integer and fraction digits, as the report lines print it.
// The integer text keeps the sign also when the integer part is 0 ("-0"), and is never
// wrapped: magnitudes up to 4294967295 print exactly, larger ones as "huge", NaN as "nan".
struct SplitText {
  char integer[12];
  unsigned long decimal;
};
SplitText split(float value, unsigned decimals);

}  // namespace ShellFmt

// One row of one value / two values, `decimals` digits each.
void rowFloat1(const char* label, float value, unsigned decimals);
void rowFloat2(const char* label, float valueA, float valueB, unsigned decimals);
void rowU32_1(const char* label, uint32_t value);
