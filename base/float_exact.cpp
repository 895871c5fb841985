// The slow paths of the float operations, the comparison and the 64-bit integer to float
// conversion, without double-precision arithmetic.
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

Order compare(float a, float b) {
  using namespace detail;
  const uint32_t ab = std::bit_cast<uint32_t>(a);
  const uint32_t bb = std::bit_cast<uint32_t>(b);
  const uint32_t ma = ab & ~kSign;
  const uint32_t mb = bb & ~kSign;
  if (ma > 0x7F800000u || mb > 0x7F800000u) return Order::unordered;
  // Sign and magnitude as one signed integer, in the floats' order; both zeros are 0.
  const int32_t ka = (ab & kSign) != 0 ? -static_cast<int32_t>(ma) : static_cast<int32_t>(ma);
  const int32_t kb = (bb & kSign) != 0 ? -static_cast<int32_t>(mb) : static_cast<int32_t>(mb);
  if (ka < kb) return Order::less;
  return ka > kb ? Order::greater : Order::equal;
}

namespace {

constexpr uint32_t kInfinity = 0x7F800000u;
constexpr uint32_t kDefaultNaN = 0x7FC00000u;

// The mantissa of a finite non-zero magnitude with its hidden bit, in [2^23, 2^24), and its
// exponent field (below 1 for a subnormal, normalised).
uint32_t unpack(uint32_t magnitude, int32_t& e) {
  using namespace detail;
  e = static_cast<int32_t>(magnitude >> 23);
  uint32_t m = magnitude & kFraction;
  if (e != 0) return m | kHidden;
  e = 1;
  while ((m & kHidden) == 0) {
    m <<= 1;
    --e;
  }
  return m;
}

}  // namespace

float div(float a, float b) {
  using namespace detail;
  const uint32_t ab = std::bit_cast<uint32_t>(a);
  const uint32_t bb = std::bit_cast<uint32_t>(b);
  const uint32_t sign = (ab ^ bb) & kSign;
  const uint32_t xa = ab & ~kSign;
  const uint32_t xb = bb & ~kSign;
  if (xa > kInfinity || xb > kInfinity || (xa == xb && (xa == kInfinity || xa == 0)))
    return std::bit_cast<float>(kDefaultNaN);  // a NaN operand, inf / inf, 0 / 0
  if (xa == kInfinity || xb == 0) return std::bit_cast<float>(sign | kInfinity);
  if (xb == kInfinity || xa == 0) return std::bit_cast<float>(sign);
  int32_t ea = 0;
  int32_t eb = 0;
  uint32_t ma = unpack(xa, ea);
  const uint32_t mb = unpack(xb, eb);
  int32_t e = ea - eb + 127;
  if (ma < mb) {  // a quotient in [1, 2) from here on
    ma <<= 1;
    e -= 1;
  }
  // 32 quotient bits, the top one set, and the rest of the division as a sticky bit.
  uint32_t q = 0;
  for (int i = 0; i < 32; ++i) {
    q <<= 1;
    if (ma >= mb) {
      ma -= mb;
      q |= 1u;
    }
    ma <<= 1;
  }
  q |= ma != 0 ? 1u : 0u;
  if (e >= 0xFF) return std::bit_cast<float>(sign | kInfinity);
  if (e <= 0) {  // a subnormal result: the quotient shifted down to exponent field 1, then rounded
    const uint32_t shift = static_cast<uint32_t>(1 - e);
    q = shift >= 32 ? 1u : (q >> shift) | ((q << (32 - shift)) != 0 ? 1u : 0u);
    e = 1;
  }
  return std::bit_cast<float>(sign | packRounded(q, e));
}

float sqrt(float v) {
  using namespace detail;
  const uint32_t bits = std::bit_cast<uint32_t>(v);
  if ((bits << 1) == 0) return v;                                                         // +0 and -0
  if ((bits & kSign) != 0 || bits > kInfinity) return std::bit_cast<float>(kDefaultNaN);  // below 0, a NaN
  if (bits == kInfinity) return v;
  // v = m x 2^(e - 23) with m in [2^23, 2^24), a subnormal v normalised.
  uint32_t m = bits & kFraction;
  int32_t e = static_cast<int32_t>(exponentField(bits)) - 127;
  if (e == -127) {
    e = -126;
    while ((m & kHidden) == 0) {
      m <<= 1;
      --e;
    }
  } else {
    m |= kHidden;
  }
  // An even exponent: v = x x 2^(e - 24) with x = 2m or 4m, in [2^24, 2^26).
  uint32_t x = (e & 1) != 0 ? m << 2 : m << 1;
  e -= e & 1;
  // Digit by digit: q = floor(sqrt(x x 2^24)), 25 bits. With s = 2q and x the remainder over the bit
  // r being tried, the bit stays when 2q r + r^2 fits the remainder.
  uint32_t q = 0;
  uint32_t s = 0;
  for (uint32_t r = 1u << 24; r != 0; r >>= 1) {
    const uint32_t t = s + r;
    if (t <= x) {
      s = t + r;
      x -= t;
      q += r;
    }
    x += x;
  }
  // The 25th bit rounds (a square root of a 24-bit mantissa never falls half-way); the carry of a
  // rounding up runs into the exponent.
  const uint32_t mantissa = (q + 1) >> 1;
  return std::bit_cast<float>((static_cast<uint32_t>(e / 2 + 126) << 23) + mantissa);
}

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
