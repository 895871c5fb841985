// Table lines and number texts of the shell, built with integer conversions only.
#include "DemoShellFormat.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Debug.h"

namespace ShellFmt {
namespace {

uint32_t pow10u(unsigned decimals) {
  uint32_t scale = 1;
  for (unsigned i = 0; i < decimals; ++i) scale *= 10u;
  return scale;
}

// The rule under a header: the header layout filled with dashes, blanks and bars turned into
// dashes and plus signs from the third character on.
void printRule(char* line) {
  for (char* p = line + 2; *p != '\0'; ++p) {
    if (*p == ' ')
      *p = '-';
    else if (*p == '|')
      *p = '+';
  }
  print(line);
}

constexpr const char* kDashes24 = "------------------------";
constexpr const char* kDashes13 = "-------------";

}  // namespace

void section(const char* title) {
  print("");
  printV2("=== %s ===", title);
}

void head1(const char* label, const char* column) {
  row1(label, column);
  char rule[64];
  std::snprintf(rule, sizeof rule, "  %-*s | %*s", kLabelWidth, kDashes24, kValueWidth, kDashes13);
  printRule(rule);
}

void row1(const char* label, const char* value) { printV2("  %-*s | %*s", kLabelWidth, label, kValueWidth, value); }

void head2(const char* label, const char* columnA, const char* columnB) {
  row2(label, columnA, columnB);
  char rule[80];
  std::snprintf(rule, sizeof rule, "  %-*s | %*s | %*s", kLabelWidth, kDashes24, kValueWidth, kDashes13, kValueWidth,
                kDashes13);
  printRule(rule);
}

void row2(const char* label, const char* valueA, const char* valueB) {
  printV2("  %-*s | %*s | %*s", kLabelWidth, label, kValueWidth, valueA, kValueWidth, valueB);
}

const char* fixed(char* buffer, unsigned capacity, float value, unsigned decimals) {
  static const char kEmpty[] = "";
  if (buffer == nullptr || capacity == 0) return kEmpty;
  if (std::isnan(value)) {
    std::snprintf(buffer, capacity, "nan");
    return buffer;
  }
  if (std::isinf(value)) {
    std::snprintf(buffer, capacity, value < 0.0f ? "-inf" : "inf");
    return buffer;
  }
  if (decimals > kMaxDecimals) decimals = kMaxDecimals;
  const uint32_t scale = pow10u(decimals);
  const float scaled = static_cast<float>(scale) * std::fabs(value);
  if (scaled > kMaxScaled) {
    std::snprintf(buffer, capacity, value < 0.0f ? "-huge" : "huge");
    return buffer;
  }
  const uint32_t n = static_cast<uint32_t>(scaled + 0.5f);
  const char* sign = (value < 0.0f && n != 0) ? "-" : "";
  if (decimals == 0) {
    std::snprintf(buffer, capacity, "%s%lu", sign, static_cast<unsigned long>(n));
  } else {
    std::snprintf(buffer, capacity, "%s%lu.%0*lu", sign, static_cast<unsigned long>(n / scale),
                  static_cast<int>(decimals), static_cast<unsigned long>(n % scale));
  }
  return buffer;
}

SplitText split(float value, unsigned decimals) {
  SplitText out{};
  if (std::isnan(value)) {
    std::snprintf(out.integer, sizeof out.integer, "nan");
    return out;
  }
  const float whole = std::trunc(value);
  if (!(std::fabs(whole) < 4294967296.0f)) {
    std::snprintf(out.integer, sizeof out.integer, value < 0.0f ? "-huge" : "huge");
    return out;
  }
  if (decimals > kMaxDecimals) decimals = kMaxDecimals;
  float m = 1.0f;
  for (unsigned i = 0; i < decimals; ++i) m *= 10.0f;
  // Below 32768 the same single-precision steps as the plain integer/fraction split, so both
  // agree digit for digit wherever the plain one is right. Above it m x value loses the fraction
  // to rounding, so the fraction (exact as value - whole) is scaled on its own.
  float frac = std::fabs(whole) < 32768.0f ? std::fabs(std::trunc(m * value - whole * m))
                                           : std::trunc(std::fabs(value - whole) * m);
  if (frac >= m) frac = m - 1.0f;
  out.decimal = static_cast<unsigned long>(frac);
  const unsigned long integer = static_cast<unsigned long>(std::fabs(whole));
  const bool negative = value < 0.0f && (integer != 0 || out.decimal != 0);
  std::snprintf(out.integer, sizeof out.integer, "%s%lu", negative ? "-" : "", integer);
  return out;
}

}  // namespace ShellFmt

void rowFloat1(const char* label, float value, unsigned decimals) {
  char text[24];
  ShellFmt::row1(label, ShellFmt::fixed(text, sizeof text, value, decimals));
}

void rowFloat2(const char* label, float valueA, float valueB, unsigned decimals) {
  char a[24];
  char b[24];
  ShellFmt::row2(label, ShellFmt::fixed(a, sizeof a, valueA, decimals), ShellFmt::fixed(b, sizeof b, valueB, decimals));
}

void rowU32_1(const char* label, uint32_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
  ShellFmt::row1(label, text);
}
