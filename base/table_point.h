// One point of a calibration table: an input and the output it maps to.
#pragma once

#include <cstddef>

struct TablePoint {
  float input;
  float output;
};
static_assert(sizeof(TablePoint) == 8, "two floats, as stored in the configuration record");

// Linear interpolation in a table sorted by input; clamped to the end outputs (no extrapolation).
float interpolateFromTable(const TablePoint* table, size_t count, float input);
