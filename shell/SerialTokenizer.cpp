// Token, hex and fixed-point scanners.
#include "SerialTokenizer.h"

namespace SCU {

int hexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* skipWs(const char* text) {
  while (isBlank(*text)) ++text;
  return text;
}

const char* parseToken(const char* text, char* out, size_t size) {
  if (text == nullptr || out == nullptr || size == 0) return nullptr;
  const char* p = skipWs(text);
  size_t n = 0;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"' && n + 1 < size) out[n++] = *p++;
    if (*p != '"') return nullptr;
    out[n] = '\0';
    return p + 1;
  }
  while (isIdentChar(*p) && n + 1 < size) out[n++] = *p++;
  if (n == 0) return nullptr;
  out[n] = '\0';
  return p;
}

bool parseHexBytes(const char* text, uint8_t* out, size_t count) {
  if (text == nullptr || out == nullptr) return false;
  const char* p = skipWs(text);
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  for (size_t i = 0; i < count; ++i) {
    const int hi = hexNibble(p[0]);
    if (hi < 0) return false;
    const int lo = hexNibble(p[1]);
    if (lo < 0) return false;
    out[i] = static_cast<uint8_t>((hi << 4) | lo);
    p += 2;
  }
  p = skipWs(p);
  return *p == '\0';
}

DecimalText scanDecimal(const char* text) {
  DecimalText d{false, false, 0u, text};
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;  // isspace in the C locale
  if (*p == '+' || *p == '-') d.negative = *p++ == '-';
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const uint32_t v = static_cast<uint32_t>(*p - '0');
    if (d.magnitude > (0xFFFFFFFFu - v) / 10u) {
      d.overflow = true;
      d.magnitude = 0xFFFFFFFFu;
    } else if (!d.overflow) {
      d.magnitude = d.magnitude * 10u + v;
    }
  }
  if (p != digits) d.end = p;
  return d;
}

bool parseFixedScaled5(const char* text, const char** endPtr, int32_t* outScaled) {
  if (text == nullptr || endPtr == nullptr || outScaled == nullptr) return false;
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Every quantity below stays under 2^32 (at most 21474 x 100000 + 99999), so 32-bit arithmetic
  // is exact and the chip needs no 64-bit division.
  const uint32_t limit = negative ? 2147483648u : 2147483647u;
  const uint32_t intLimit = limit / static_cast<uint32_t>(kFixedScale5);
  uint32_t intPart = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9') {
    const uint32_t d = static_cast<uint32_t>(*p - '0');
    // Keeps the integer part within 21474 without overflow.
    if (d > intLimit || intPart > (intLimit - d) / 10) return false;
    intPart = intPart * 10 + d;
    ++digits;
    ++p;
  }
  uint32_t fraction = 0;
  int fracDigits = 0;
  if (*p == '.') {
    ++p;
    while (*p >= '0' && *p <= '9') {
      if (fracDigits == 5) return false;  // a sixth decimal is refused, not rounded
      fraction = fraction * 10 + static_cast<uint32_t>(*p - '0');
      ++fracDigits;
      ++p;
    }
  }
  if (digits == 0 && fracDigits == 0) return false;
  for (int i = fracDigits; i < 5; ++i) fraction *= 10;
  const uint32_t magnitude = intPart * static_cast<uint32_t>(kFixedScale5) + fraction;
  if (magnitude > limit) return false;
  *outScaled = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);  // -2^31 included
  *endPtr = p;
  return true;
}

}  // namespace SCU
