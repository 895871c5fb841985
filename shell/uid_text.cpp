// Text form of the device identity.
#include "SerialTokenizer.h"

bool parseHexU24(const char* text, uint32_t& out) {
  if (text == nullptr) return false;
  const char* p = SCU::skipWs(text);
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  uint32_t value = 0;
  int digits = 0;
  while (digits < 6) {
    const int nibble = SCU::hexNibble(*p);
    if (nibble < 0) break;
    value = (value << 4) | static_cast<uint32_t>(nibble);
    ++p;
    ++digits;
  }
  if (digits == 0) return false;
  p = SCU::skipWs(p);
  if (*p != '\0') return false;
  out = value & 0xFFFFFFu;
  return true;
}
