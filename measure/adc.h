// ADC acquisition: the interleaved capture buffer and the scans that fill it by DMA.
#pragma once

#include <array>
#include <cstdint>

#include "ADCParam.h"
#include "stm32g0xx_hal.h"

// One scan: the four conversions in conversion order.
struct ADCStruct {
  int16_t bFieldH;
  int16_t bFieldL;
  int16_t eFieldCap;
  int16_t eFieldInd;
  // The clamp's differential value.
  int16_t getBFieldV() const { return static_cast<int16_t>(bFieldH - bFieldL); }
};
static_assert(sizeof(ADCStruct) == 8, "the DMA writes four half-words per scan");

// The capture: 231 rows, of which the last acquisition filled size2use. Word-aligned for the DMA.
struct alignas(4) ADCBufT {
  std::array<ADCStruct, ADCParam::NSAMPLES> rows;
  uint16_t size2use;

  void clear() { rows.fill(ADCStruct{0, 0, 0, 0}); }
  static constexpr uint16_t capacity() { return ADCParam::NSAMPLES; }
  ADCStruct& operator[](uint16_t i) { return rows[i]; }
  const ADCStruct& operator[](uint16_t i) const { return rows[i]; }
};

// One acquisition of `sample` scans over four channel selectors into GState's buffer. False when
// the capture is not whole (the transfer did not start, or its end never came): the buffer then
// holds no rows (size2use 0), so nothing can be computed from a part of a capture.
bool ADCScan(uint32_t ch1, uint32_t ch2, uint32_t ch3, uint32_t ch4, uint16_t sample);
// A clamp read on the high-power (20 ohm) or low-power (270 ohm) range: one mains cycle when
// quick, else four. False as ADCScan.
bool ADCRead_HP(bool quick);
bool ADCRead_LP(bool quick);
// The buffer holds the rows of a whole capture (none after a failed one).
bool captureComplete();

void printADCInfo();
void debugADCBuffer();
