// The slow paths of the float operations and the 64-bit integer to float conversion, without
// double-precision arithmetic.
#include "float_exact.h"

namespace FloatExact {

namespace detail {

float mulSpecial(float a, float b) {
  const uint32_t ab = std::bit_cast<uint32_t>(a);
  const uint32_t bb = std::bit_cast<uint32_t>(b);
  // A zero times anything finite is a zero of the product's sign, whatever the other operand's size.
  if (((ab << 1) == 0 && exponentField(bb) != 0xFFu) || ((bb << 1) == 0 && exponentField(ab) != 0xFFu))
    return std::bit_cast<float>((ab ^ bb) & kSign);
  return a * b;
}

float addSpecial(float a, float b) {
  const uint32_t ab = std::bit_cast<uint32_t>(a);
  const uint32_t bb = std::bit_cast<uint32_t>(b);
  // x + 0 and 0 + x are x for any non-zero finite x.
  if ((bb << 1) == 0 && exponentField(ab) != 0xFFu && (ab << 1) != 0) return a;
  if ((ab << 1) == 0 && exponentField(bb) != 0xFFu && (bb << 1) != 0) return b;
  return a + b;
}

}  // namespace detail

float fromInt64(int64_t v) {
  using namespace detail;
  if (v == 0) return 0.0f;
  const uint32_t sign = v < 0 ? kSign : 0u;
  const uint64_t u = v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  uint32_t hi = static_cast<uint32_t>(u >> 32);
  uint32_t lo = static_cast<uint32_t>(u);
  int32_t e = 127 + 63;
  if (hi == 0) {
    hi = lo;
    lo = 0;
    e -= 32;
  }
  // Top bit of hi to bit 31, lo's bits following it; what does not fit is kept as a sticky bit.
  uint32_t m = hi;
  const int32_t before = e;
  normalize(m, e);
  const int32_t shift = before - e;  // 0..31
  if (shift > 0) m |= lo >> (32 - shift);
  m |= (lo << shift) != 0 ? 1u : 0u;
  return std::bit_cast<float>(sign | packRounded(m, e));
}

}  // namespace FloatExact
