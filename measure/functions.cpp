// Conversions and table interpolation of the measurement chain.
#include "functions.h"

#include <cmath>

#include "MCUState.h"
#include "float_exact.h"
#include "gstate.h"

namespace {
constexpr float kCountToUnit = 1.0f / 4096.0f;  // exactly 2^-12

// Float to integer, truncated toward zero; out-of-range and NaN values give 0 instead of
// undefined behaviour.
int64_t truncToI64(float v) {
  if (!(std::fabs(v) < 9.0e18f)) return 0;
  return FloatExact::truncToInt64(v);
}
}  // namespace

SplitFloat splitFloat6(float v, uint8_t decimal_places) {
  float m = 1.0f;
  for (uint8_t i = 0; i < decimal_places; ++i) m *= 10.0f;
  SplitFloat s;
  // The integer part wraps to 16 bits (two's complement), as the reports expect.
  s.integer = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(truncToI64(v))));
  const float frac = m * v - static_cast<float>(s.integer) * m;
  const int64_t d = truncToI64(frac);
  const int64_t mag = d < 0 ? -d : d;
  s.decimal = mag > INT32_MAX ? INT32_MAX : static_cast<int32_t>(mag);
  return s;
}

float toV(int32_t value, float vref) { return static_cast<float>(value) * kCountToUnit * vref; }
float toV(float value, float vref) { return value * kCountToUnit * vref; }
float toV(int32_t value) { return toV(value, gstate().adc.VRef); }
float toV(float value) { return toV(value, gstate().adc.VRef); }

int32_t tomV(int32_t value) { return static_cast<int32_t>(truncToI64(toV(value) * 1000.0f)); }

float volt2current(float rmsV, uint16_t resistor) {
  if (resistor == 0) return 0.0f;  // no range read yet: no current rather than infinity
  return rmsV / static_cast<float>(resistor) * ClampParam::clampReductionRate;
}
