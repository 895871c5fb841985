// Linear interpolation in a calibration table.
#include "table_point.h"

float interpolateFromTable(const TablePoint* table, size_t count, float input) {
  if (table == nullptr || count == 0) return 0.0f;
  if (count == 1) return table[0].output;
  if (input <= table[0].input) return table[0].output;
  if (input >= table[count - 1].input) return table[count - 1].output;
  for (size_t k = 1; k < count; ++k) {
    if (input <= table[k].input) {
      const TablePoint& a = table[k - 1];
      const TablePoint& b = table[k];
      return a.output + (b.output - a.output) * (input - a.input) / (b.input - a.input);
    }
  }
  return table[count - 1].output;  // an input that compares with nothing (NaN)
}
