// Conversions and table interpolation of the measurement chain.
#pragma once

#include <cstddef>
#include <cstdint>

#include "table_point.h"

// A float as integer part and fraction digits, the form every report prints.
struct SplitFloat {
  int16_t integer;  // truncated toward zero, cut to 16 bits
  int32_t decimal;  // |fraction| x 10^digits, truncated
};
SplitFloat splitFloat6(float v, uint8_t decimal_places);

// ADC counts to volts against the reference `vref` (full scale 4096 counts).
float toV(int32_t value, float vref);
float toV(float value, float vref);
// The same with the measured reference in GState.
float toV(int32_t value);
float toV(float value);
// Counts to millivolts, truncated.
int32_t tomV(int32_t value);
// RMS volts across the burden to primary amperes through the clamp ratio.
float volt2current(float rmsV, uint16_t resistor);
