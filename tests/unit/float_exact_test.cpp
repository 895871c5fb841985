// The integer-arithmetic float operations give the bits (and the order) of the plain float
// operations: edge values crossed with each other, then long pseudo-random sweeps over every exponent.
#include "float_exact.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

// The same value with the same bits; NaN for NaN (which operand's payload a NaN result carries is
// the compiler's choice, it may commute the plain operation).
void expectSameBits(float expected, float actual, uint32_t a, uint32_t b, const char* op) {
  if (std::isnan(expected) && std::isnan(actual)) return;
  ASSERT_EQ(std::bit_cast<uint32_t>(expected), std::bit_cast<uint32_t>(actual))
      << op << " of 0x" << std::hex << a << " and 0x" << b;
}

std::vector<uint32_t> edgeBits() {
  std::vector<uint32_t> v = {0x00000000u, 0x00000001u, 0x007FFFFFu, 0x00800000u, 0x00800001u, 0x33800000u,
                             0x3F7FFFFFu, 0x3F800000u, 0x3F800001u, 0x3FFFFFFFu, 0x40000000u, 0x4B7FFFFFu,
                             0x4B800000u, 0x4B800001u, 0x7F000000u, 0x7F7FFFFFu, 0x7F800000u, 0x7FC00000u,
                             0x7F800001u, 0x1F800000u, 0x20000000u, 0x5F800000u, 0x38000000u, 0x3C23D70Au};
  const size_t n = v.size();
  for (size_t i = 0; i < n; ++i) v.push_back(v[i] | 0x80000000u);
  return v;
}

// xorshift32: a fixed, reproducible stream.
struct Stream {
  uint32_t s = 2463534242u;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
};

TEST(FloatExact, MulAndAddMatchTheFloatOperationsOnEdgeValues) {
  for (uint32_t a : edgeBits())
    for (uint32_t b : edgeBits()) {
      const float x = std::bit_cast<float>(a), y = std::bit_cast<float>(b);
      expectSameBits(x * y, FloatExact::mul(x, y), a, b, "mul");
      expectSameBits(x + y, FloatExact::add(x, y), a, b, "add");
    }
}

TEST(FloatExact, MulAndAddMatchTheFloatOperationsOnRandomOperands) {
  Stream r;
  for (int i = 0; i < 4000000; ++i) {
    const uint32_t a = r.next();
    uint32_t b = r.next();
    // Half of the pairs have close exponents: cancellation, carries and ties are frequent there.
    if (i & 1) b = (b & 0x81FFFFFFu) | ((a & 0x7E000000u));
    if (i % 7 == 0) b = (b & 0xFFFFFF00u) | (a & 0xFFu);
    const float x = std::bit_cast<float>(a), y = std::bit_cast<float>(b);
    expectSameBits(x * y, FloatExact::mul(x, y), a, b, "mul");
    expectSameBits(x + y, FloatExact::add(x, y), a, b, "add");
  }
}

// The order the comparison operators give: less, equal, greater, or none of them (a NaN).
FloatExact::Order operatorOrder(float x, float y) {
  if (x < y) return FloatExact::Order::less;
  if (x == y) return FloatExact::Order::equal;
  if (x > y) return FloatExact::Order::greater;
  return FloatExact::Order::unordered;
}

TEST(FloatExact, CompareMatchesTheComparisonOperators) {
  std::vector<uint32_t> bits = edgeBits();
  for (uint32_t b : {0x7FFFFFFFu, 0x7FC00001u, 0x00000002u, 0x7F7FFFFEu}) {
    bits.push_back(b);
    bits.push_back(b | 0x80000000u);
  }
  for (uint32_t a : bits)
    for (uint32_t b : bits) {
      const float x = std::bit_cast<float>(a), y = std::bit_cast<float>(b);
      ASSERT_EQ(operatorOrder(x, y), FloatExact::compare(x, y)) << std::hex << a << " " << b;
    }
  Stream r;
  for (int i = 0; i < 2000000; ++i) {
    const uint32_t a = r.next();
    uint32_t b = r.next();
    if (i & 1) b = (a & 0xFFFFFF00u) | (b & 0xFFu);  // neighbours
    if (i % 5 == 0) b ^= 0x80000000u;                // opposite signs
    const float x = std::bit_cast<float>(a), y = std::bit_cast<float>(b);
    ASSERT_EQ(operatorOrder(x, y), FloatExact::compare(x, y)) << std::hex << a << " " << b;
  }
}

TEST(FloatExact, DivMatchesTheFloatDivision) {
  for (uint32_t a : edgeBits())
    for (uint32_t b : edgeBits()) {
      const float x = std::bit_cast<float>(a), y = std::bit_cast<float>(b);
      expectSameBits(x / y, FloatExact::div(x, y), a, b, "div");
    }
  Stream r;
  for (int i = 0; i < 4000000; ++i) {
    const uint32_t a = r.next();
    uint32_t b = r.next();
    // Exponents far apart (overflow, subnormal results) and close (quotients near 1, ties).
    if (i % 3 == 1) b = (b & 0x807FFFFFu) | ((a & 0x7F800000u) ^ 0x40000000u);
    if (i % 3 == 2) b = (b & 0x81FFFFFFu) | (a & 0x7E000000u);
    const float x = std::bit_cast<float>(a), y = std::bit_cast<float>(b);
    expectSameBits(x / y, FloatExact::div(x, y), a, b, "div");
  }
}

TEST(FloatExact, SqrtMatchesTheLibrary) {
  for (uint32_t a : edgeBits()) {
    const float x = std::bit_cast<float>(a);
    expectSameBits(std::sqrt(x), FloatExact::sqrt(x), a, 0, "sqrt");
  }
  // Every subnormal's and the first normals' bit patterns at a stride, then random positives.
  for (uint32_t a = 1; a < 0x01000000u; a += 97) {
    const float x = std::bit_cast<float>(a);
    expectSameBits(std::sqrt(x), FloatExact::sqrt(x), a, 0, "sqrt");
  }
  Stream r;
  for (int i = 0; i < 4000000; ++i) {
    const uint32_t a = r.next() & 0x7FFFFFFFu;
    const float x = std::bit_cast<float>(a);
    expectSameBits(std::sqrt(x), FloatExact::sqrt(x), a, 0, "sqrt");
  }
}

TEST(FloatExact, IntegerConversionsMatchTheLanguageConversions) {
  const int64_t edges[] = {0,
                           1,
                           -1,
                           16777215,
                           16777216,
                           16777217,
                           16777219,
                           -16777217,
                           2147483647,
                           -2147483647 - 1,
                           (int64_t{1} << 53) + 1,
                           (int64_t{1} << 62) + (int64_t{1} << 38) + 1,
                           std::numeric_limits<int64_t>::max(),
                           std::numeric_limits<int64_t>::min(),
                           0x00000000FFFFFF80ll,
                           0x0000000100000080ll};
  for (int64_t v : edges) {
    ASSERT_EQ(std::bit_cast<uint32_t>(static_cast<float>(v)), std::bit_cast<uint32_t>(FloatExact::fromInt64(v))) << v;
    if (v >= INT32_MIN && v <= INT32_MAX) {
      ASSERT_EQ(std::bit_cast<uint32_t>(static_cast<float>(static_cast<int32_t>(v))),
                std::bit_cast<uint32_t>(FloatExact::fromInt(static_cast<int32_t>(v))))
          << v;
    }
  }
  Stream r;
  for (int i = 0; i < 2000000; ++i) {
    const uint64_t raw = (static_cast<uint64_t>(r.next()) << 32) | r.next();
    const int64_t v = static_cast<int64_t>(raw >> (r.next() % 64));  // every magnitude
    ASSERT_EQ(std::bit_cast<uint32_t>(static_cast<float>(v)), std::bit_cast<uint32_t>(FloatExact::fromInt64(v))) << v;
    ASSERT_EQ(std::bit_cast<uint32_t>(static_cast<float>(-v)), std::bit_cast<uint32_t>(FloatExact::fromInt64(-v))) << v;
    const auto w = static_cast<int32_t>(static_cast<uint32_t>(v));
    ASSERT_EQ(std::bit_cast<uint32_t>(static_cast<float>(w)), std::bit_cast<uint32_t>(FloatExact::fromInt(w))) << w;
    const auto uw = static_cast<uint32_t>(v);
    ASSERT_EQ(std::bit_cast<uint32_t>(static_cast<float>(uw)), std::bit_cast<uint32_t>(FloatExact::fromUint(uw))) << uw;
    // Truncation: every finite float below 2^63 in magnitude.
    const float f = std::bit_cast<float>(r.next());
    if (std::isfinite(f) && std::fabs(f) < 9.2233715e18f) {
      ASSERT_EQ(static_cast<int64_t>(f), FloatExact::truncToInt64(f)) << f;
    }
    if (std::isfinite(f) && std::fabs(f) < 2147483648.0f) {
      ASSERT_EQ(static_cast<int32_t>(f), FloatExact::truncToInt(f)) << f;
      ASSERT_EQ(std::lroundf(f), FloatExact::roundToInt(f)) << f;
    }
    ASSERT_EQ(std::fabs(f) < 1e9f, FloatExact::magnitudeBelow(f, 1e9f)) << f;
  }
  for (float f :
       {0.0f, -0.0f, 0.999999f, -0.999999f, 1.0f, -1.5f, 8388607.5f, 16777216.0f, 9.2233715e18f, -9.2233715e18f})
    ASSERT_EQ(static_cast<int64_t>(f), FloatExact::truncToInt64(f)) << f;
  // Half-way cases round away from zero; the float just below 0.5 rounds to 0.
  for (float f : {0.5f, -0.5f, 0.49999997f, -0.49999997f, 1.5f, 2.5f, -2.5f, 254.5f, 8388607.5f, 8388608.0f,
                  2147483520.0f, -2147483648.0f})
    ASSERT_EQ(std::lroundf(f), FloatExact::roundToInt(f)) << f;
  for (uint32_t u :
       {0u, 1u, 16777217u, 0x7FFFFFFFu, 0x80000000u, 0x80000080u, 0x80000081u, 0xFFFFFF7Fu, 0xFFFFFF80u, 0xFFFFFFFFu})
    ASSERT_EQ(std::bit_cast<uint32_t>(static_cast<float>(u)), std::bit_cast<uint32_t>(FloatExact::fromUint(u))) << u;
}

}  // namespace
