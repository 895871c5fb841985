// Captures taken with the simulated front end, replayed by the self-test on the host and on the
// emulated core.
#pragma once

#include <cstdint>

#include "adc.h"

struct SelfTestCapture {
  const char* name;
  uint16_t rows;
  uint16_t burdenResistor;
  uint32_t vRefBits;             // float bit pattern of the supply the capture was taken at
  uint32_t phaseCorrectionBits;  // configured inductive phase correction, float bits
  bool quick;                    // one mains cycle: the reading logic's quick read
  ADCStruct row[ADCParam::NSAMPLES];
};

extern const SelfTestCapture kSelfTestCaptures[];
extern const unsigned kSelfTestCaptureCount;
