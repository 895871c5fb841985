// Single-precision operations in integer arithmetic, rounded exactly as IEEE 754 binary32 (to
// nearest, ties to even), for a core without a floating-point unit: the same bits as the C
// library's soft float on the chip and the host's float hardware, at a fraction of the cost.
// The fast paths take normal operands with a normal result; everything else (zeros are handled,
// subnormals, infinities, NaNs, overflow, underflow) goes to the ordinary float operation, so the
// result is always the plain operation's.
#pragma once

#include <bit>
#include <cstdint>

namespace FloatExact {

namespace detail {

constexpr uint32_t kSign = 0x80000000u;
constexpr uint32_t kHidden = 0x00800000u;
constexpr uint32_t kFraction = 0x007FFFFFu;

constexpr uint32_t exponentField(uint32_t bits) { return (bits >> 23) & 0xFFu; }

// The operations are inlined where the time goes (the loops over a capture); the rare operands
// take the out-of-line paths.
#define FLOAT_EXACT_INLINE [[gnu::always_inline]] inline

// Rounds m (at least 2^31 or 0) to 24 bits, ties to even; e is the exponent field of m's top bit.
// Returns the bits of the positive result.
FLOAT_EXACT_INLINE uint32_t packRounded(uint32_t m, int32_t e) {
  uint32_t q = m >> 8;
  const uint32_t rest = m & 0xFFu;
  if (rest > 0x80u || (rest == 0x80u && (q & 1u) != 0)) ++q;  // q == 2^24 carries into the exponent
  return (static_cast<uint32_t>(e) << 23) + q - kHidden;
}

// Shifts m left until bit 31 is set and lowers e by as much (m not 0).
FLOAT_EXACT_INLINE void normalize(uint32_t& m, int32_t& e) {
  if ((m & 0xFFFF0000u) == 0) {
    m <<= 16;
    e -= 16;
  }
  if ((m & 0xFF000000u) == 0) {
    m <<= 8;
    e -= 8;
  }
  if ((m & 0xF0000000u) == 0) {
    m <<= 4;
    e -= 4;
  }
  if ((m & 0xC0000000u) == 0) {
    m <<= 2;
    e -= 2;
  }
  if ((m & 0x80000000u) == 0) {
    m <<= 1;
    e -= 1;
  }
}

// Zeros, subnormals, infinities and NaNs.
float mulSpecial(float a, float b);
float addSpecial(float a, float b);

}  // namespace detail

// float(v) for an unsigned v, rounded to nearest even.
FLOAT_EXACT_INLINE float fromUint(uint32_t v) {
  using namespace detail;
  if (v == 0) return 0.0f;
  int32_t e = 127 + 31;
  normalize(v, e);
  return std::bit_cast<float>(packRounded(v, e));
}

// float(v), rounded to nearest even: the magnitude's float with the sign.
FLOAT_EXACT_INLINE float fromInt(int32_t v) {
  const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  const uint32_t sign = v < 0 ? detail::kSign : 0u;
  return std::bit_cast<float>(sign | std::bit_cast<uint32_t>(fromUint(magnitude)));
}

// a x b.
FLOAT_EXACT_INLINE float mul(float a, float b) {
  using namespace detail;
  const uint32_t ab = std::bit_cast<uint32_t>(a);
  const uint32_t bb = std::bit_cast<uint32_t>(b);
  const uint32_t ea = exponentField(ab);
  const uint32_t eb = exponentField(bb);
  if (ea - 1u >= 0xFEu || eb - 1u >= 0xFEu) return mulSpecial(a, b);
  const uint32_t sign = (ab ^ bb) & kSign;
  // 24 x 24 bits in 16-bit pieces: p = hi x 2^32 + lo, below 2^48.
  const uint32_t ma = (ab & kFraction) | kHidden;
  const uint32_t mb = (bb & kFraction) | kHidden;
  const uint32_t ah = ma >> 16, al = ma & 0xFFFFu, bh = mb >> 16, bl = mb & 0xFFFFu;
  const uint32_t low = al * bl;
  const uint32_t mid = ah * bl + al * bh;
  uint32_t lo = low + (mid << 16);
  uint32_t hi = ah * bh + (mid >> 16) + (lo < low ? 1u : 0u);
  // p is at least 2^46: bring its top bit to bit 31 of m, keeping every lower bit as sticky.
  int32_t e = static_cast<int32_t>(ea + eb) - 127 + 1;
  uint32_t m;
  if ((hi & 0x8000u) != 0) {
    m = (hi << 16) | (lo >> 16);
    lo &= 0xFFFFu;
  } else {
    m = (hi << 17) | (lo >> 15);
    lo &= 0x7FFFu;
    e -= 1;
  }
  m |= lo != 0 ? 1u : 0u;
  if (e <= 0 || e >= 0xFF) return mulSpecial(a, b);
  const uint32_t r = packRounded(m, e);
  if (exponentField(r) == 0xFFu) return mulSpecial(a, b);
  return std::bit_cast<float>(sign | r);
}

// a + b.
FLOAT_EXACT_INLINE float add(float a, float b) {
  using namespace detail;
  uint32_t ab = std::bit_cast<uint32_t>(a);
  uint32_t bb = std::bit_cast<uint32_t>(b);
  if ((ab & ~kSign) < (bb & ~kSign)) {  // |a| >= |b| from here on
    const uint32_t t = ab;
    ab = bb;
    bb = t;
  }
  const uint32_t ea = exponentField(ab);
  const uint32_t eb = exponentField(bb);
  const uint32_t d = ea - eb;
  if (eb == 0 || ea == 0xFFu || d > 25) return addSpecial(a, b);
  // Mantissas with 7 bits below them; b's bits shifted out are kept as a sticky bit.
  const uint32_t ma = ((ab & kFraction) | kHidden) << 7;
  uint32_t mb = ((bb & kFraction) | kHidden) << 7;
  mb = (mb >> d) | ((mb << (31 - d) << 1) != 0 ? 1u : 0u);
  int32_t e = static_cast<int32_t>(ea);
  uint32_t m;
  if (((ab ^ bb) & kSign) == 0) {
    m = ma + mb;  // below 2^32
    if ((m & 0x80000000u) == 0) {
      m <<= 1;
    } else {
      e += 1;
    }
  } else {
    m = ma - mb;
    if (m == 0) return 0.0f;  // x - x is +0
    e += 1;
    normalize(m, e);
  }
  if (e <= 0 || e >= 0xFF) return addSpecial(a, b);
  const uint32_t r = packRounded(m, e);
  if (exponentField(r) == 0xFFu) return addSpecial(a, b);
  return std::bit_cast<float>((ab & kSign) | r);
}

// |v| < limit for a non-negative finite limit; false for a NaN, as the float comparison.
FLOAT_EXACT_INLINE bool magnitudeBelow(float v, float limit) {
  return (std::bit_cast<uint32_t>(v) & ~detail::kSign) < std::bit_cast<uint32_t>(limit);
}

namespace detail {

// |v| as an integer, cut (or, with `nearest`, rounded half-way away from zero), for a finite v below
// 2^31 in magnitude; the sign put back.
FLOAT_EXACT_INLINE int32_t toInt(float v, bool nearest) {
  const uint32_t bits = std::bit_cast<uint32_t>(v);
  const int32_t e = static_cast<int32_t>(exponentField(bits));
  if (e < (nearest ? 126 : 127)) return 0;  // below 0.5 (nearest) or 1 in magnitude
  const uint32_t m = (bits & kFraction) | kHidden;
  // The half is taken only below 2^23, where there is a fraction to round (a shift by a negative
  // count is undefined).
  const uint32_t magnitude = e >= 150 ? m << (e - 150) : (m + (nearest ? 1u << (149 - e) : 0u)) >> (150 - e);
  return (bits & kSign) != 0 ? static_cast<int32_t>(0u - magnitude) : static_cast<int32_t>(magnitude);
}

}  // namespace detail

// v truncated toward zero; v must be finite and below 2^31 in magnitude.
FLOAT_EXACT_INLINE int32_t truncToInt(float v) { return detail::toInt(v, false); }

// v rounded to the nearest integer, half-way cases away from zero (lroundf); v must be finite and
// below 2^31 in magnitude.
FLOAT_EXACT_INLINE int32_t roundToInt(float v) { return detail::toInt(v, true); }

// How a compares with b, as the comparison operators see it: +0 and -0 are equal, a NaN is
// unordered with everything, itself included.
enum class Order : int32_t { less = -1, equal = 0, greater = 1, unordered = 2 };
Order compare(float a, float b);

// a / b, every operand and result (subnormals, infinities, overflow) as IEEE 754 gives it; a NaN
// result is the default NaN.
float div(float a, float b);

// The square root, rounded to nearest (a NaN for a negative v or a NaN, -0 for -0).
float sqrt(float v);

// float(v), rounded to nearest even: the conversion the C library would do in double precision.
float fromInt64(int64_t v);
// v truncated toward zero; v must be finite and below 2^63 in magnitude.
inline int64_t truncToInt64(float v) {
  using namespace detail;
  const uint32_t bits = std::bit_cast<uint32_t>(v);
  const int32_t e = static_cast<int32_t>(exponentField(bits));
  if (e < 127) return 0;  // below 1 in magnitude
  const uint64_t m = (bits & kFraction) | kHidden;
  const uint64_t magnitude = e >= 150 ? m << (e - 150) : m >> (150 - e);
  return (bits & kSign) != 0 ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

}  // namespace FloatExact
