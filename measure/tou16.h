// Volts or amperes to milli-units in 16 bits, as the telemetry frame and the RTC memory carry them.
// Pure arithmetic, shared by the measurement chain and the frame codecs.
#pragma once

#include <cmath>
#include <cstdint>

// Negative values, NaN and infinity give 0; above 65.535 it wraps.
inline uint16_t tou16(float v) {
  const float milli = v * 1000.0f;
  // NaN and infinity have no low 16 bits to keep (and their conversion is undefined).
  if (!(milli > 0.0f) || std::isinf(milli)) return 0;
  // Only the low 16 bits are kept; reduce first so the conversion is always defined.
  const float reduced = milli < 4294967296.0f ? milli : std::fmod(milli, 4294967296.0f);
  return static_cast<uint16_t>(static_cast<uint32_t>(reduced));
}
