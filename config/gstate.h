// The global runtime record: working configuration, measurements and their results.
#pragma once

#include <cstdint>

#include "adc.h"
#include "adc_chan.h"
#include "clamp_phase_comp.h"
#include "flashconfig.h"
#include "rms_signal.h"

// The capture and the two values every conversion of it depends on.
struct ADC_ {
  ADCBufT buf;
  float VRef;                   // supply / reference voltage from the reference calibration
  float eFieldSlopeCorrection;  // counts per row added along the inductive E-field capture
};

struct GState {
  struct AdaptivePowerTX {
    static constexpr bool enabled = false;
    static constexpr uint16_t fixedSleep = 30;
  };

  FlashConfig config;
  ADC_ adc;
  float temperature;
  ADC_Chan chanBField;
  ADC_Chan chanEFieldInd;
  ADC_Chan chanEFieldCap;
  Measure bField;           // bound to chanBField
  Measure eFieldInductive;  // bound to chanEFieldInd
  float currCorrected;
  float currOriginal;
  AdaptivePowerTX adaptivePowerTX;
  RealPower power;

  GState();
  // The measures point into the record itself: it is built in place, never copied.
  GState(const GState&) = delete;
  GState& operator=(const GState&) = delete;

  static void make();
};

const GState& gstate();
GState& setGstate();
