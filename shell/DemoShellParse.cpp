// Bounded integers, lone tokens and hex digit runs.
#include "DemoShellParse.h"

#include "SerialTokenizer.h"

namespace ShellParse {

bool boundedU32(const char* text, uint32_t lo, uint32_t hi, uint32_t& out) {
  if (text == nullptr) return false;
  const char* p = SCU::skipWs(text);
  if (*p == '\0' || *p == '-') return false;
  // As strtoull would read it, except that anything above 32 bits is out of range (as strtoul's
  // would be on the target); a minus sign after other white space is read as strtoull does.
  const SCU::DecimalText d = SCU::scanDecimal(p);
  if (d.end == p || d.overflow || (d.negative && d.magnitude != 0)) return false;
  if (*SCU::skipWs(d.end) != '\0') return false;
  const uint32_t value = d.magnitude;
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
