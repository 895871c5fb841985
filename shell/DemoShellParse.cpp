// Bounded integers, lone tokens and hex digit runs.
#include "DemoShellParse.h"

#include <cctype>

#include "SerialTokenizer.h"

namespace ShellParse {

bool boundedU32(const char* text, uint32_t lo, uint32_t hi, uint32_t& out) {
  if (text == nullptr) return false;
  const char* p = SCU::skipWs(text);
  if (*p == '\0' || *p == '-') return false;
  // Decimal digits as the C library's conversion takes them (white space, then an optional '+'),
  // without its 64-bit arithmetic: anything above 32 bits is out of range.
  const char* q = p;
  while (std::isspace(static_cast<unsigned char>(*q))) ++q;
  if (*q == '+') ++q;
  const char* digits = q;
  uint32_t value = 0;
  for (; *q >= '0' && *q <= '9'; ++q) {
    const uint32_t d = static_cast<uint32_t>(*q - '0');
    if (value > (0xFFFFFFFFu - d) / 10u) return false;
    value = value * 10u + d;
  }
  if (q == digits) return false;
  if (*SCU::skipWs(q) != '\0') return false;
  if (value < lo || value > hi) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

bool loneToken(const char* text, char* out, size_t size) {
  const char* end = SCU::parseToken(text, out, size);
  return end != nullptr && *SCU::skipWs(end) == '\0';
}

bool hexDigitCount(const char* text, unsigned& digits) {
  if (text == nullptr) return false;
  const char* p = SCU::skipWs(text);
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  unsigned n = 0;
  while (*p != '\0' && !SCU::isBlank(*p)) {
    if (SCU::hexNibble(*p) < 0) return false;
    ++n;
    ++p;
  }
  if (*SCU::skipWs(p) != '\0' || n == 0) return false;
  digits = n;
  return true;
}

bool tokenWasCut(const char* end) { return SCU::isIdentChar(end[-1]) && SCU::isIdentChar(*end); }

}  // namespace ShellParse
