// Channel views of the interleaved ADC capture: one signal of every scan row.
#pragma once

#include <cstdint>

enum class ADCChan : uint8_t { Bfield = 0, EFieldCap = 1, EfieldInd = 2 };

struct ADC_Chan {
  ADCChan chanId;
  uint16_t burdenResistor = 0;  // ohms of the clamp range of the last read (clamp view only)

  explicit ADC_Chan(ADCChan id) : chanId(id) {}
  // Row i of the capture in GState for this channel (i below the buffer capacity). The inductive
  // E-field channel carries the capture's drift correction.
  int16_t at(uint16_t i) const;
  // Rows [0, count) as at() gives them, count at most the buffer capacity.
  void read(int16_t* out, uint16_t count) const;
  // Rows of the last acquisition.
  uint16_t size() const;
};
