// One point of a calibration table: an input and the output it maps to.
#pragma once

struct TablePoint {
  float input;
  float output;
};
static_assert(sizeof(TablePoint) == 8, "two floats, as stored in the configuration record");
