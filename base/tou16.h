// Volts or amperes to milli-units in 16 bits, as the telemetry frame and the RTC memory carry them.
// Pure arithmetic, shared by the measurement chain and the frame codecs.
#pragma once

#include <cmath>
#include <cstdint>

#include "float_exact.h"

// Negative values, NaN and infinity give 0; above 65.535 it wraps.
inline uint16_t tou16(float v) {
  const float milli = v * 1000.0f;
  // NaN and infinity have no low 16 bits to keep (and their conversion is undefined).
  if (!(milli > 0.0f) || std::isinf(milli)) return 0;
  // Only the low 16 bits of the integer part are kept. From 2^63 on, a float is a multiple of 2^40,
  // so they are all 0.
  if (!(milli < 9.2233720e18f)) return 0;
  return static_cast<uint16_t>(static_cast<uint64_t>(FloatExact::truncToInt64(milli)));
}
