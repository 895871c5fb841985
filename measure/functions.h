// Conversions and table interpolation of the measurement chain.
#pragma once

struct TablePoint {
  float input;
  float output;
};
static_assert(sizeof(TablePoint) == 8, "two floats, as stored in the configuration record");
