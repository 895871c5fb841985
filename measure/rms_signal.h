// Per-channel analysis of a capture: mean, RMS and the 50 Hz fundamental's amplitude and phase
// by correlation with Q15 sine/cosine tables at the scan rate; phase helpers; drift fit.
#pragma once

#include <array>
#include <cstdint>

#include "adc.h"
#include "adc_chan.h"

struct RmsTrigLut {
  static constexpr uint16_t kSize = ADCParam::NSAMPLES;
  // 32767 x sin / cos of (i x one scan period at 50 Hz), rounded; four mains cycles.
  static const std::array<int16_t, kSize> kSinBaseQ15;
  static const std::array<int16_t, kSize> kCosBaseQ15;
};

// A configured inductive phase correction this small selects the automatic voltage phase.
constexpr float kAutoInductivePhaseCorrectionRad = 0.01f;

// A channel's samples, read once for an analysis that passes over them several times (the
// inductive E-field view computes a drift term for every row). Rows past the buffer read 0, as
// through the view.
class ChannelSamples {
 public:
  explicit ChannelSamples(const ADC_Chan& chan);
  uint16_t size() const { return size_; }
  int16_t operator[](uint16_t i) const { return i < RmsTrigLut::kSize ? v_[i] : 0; }

 private:
  uint16_t size_;
  int16_t v_[RmsTrigLut::kSize];
};

struct Measure {
  int32_t average;  // counts; 0: not computed
  float rmsRaw;     // counts about the mean, plus 0.5; 0: not computed
  float rmsV;
  bool phaseOk;
  float phaseRad;         // fundamental phase in (-pi, pi]
  float magnitude;        // |correlation| in counts x samples
  float phaseCorrection;  // fixed offset applied by getPhaseRad()
  ADC_Chan* chan;

  explicit Measure(ADC_Chan* channel = nullptr);
  void reset();
  void computeAverage();
  void computeRMS();
  bool computeFundamentalPhase();
  float getPhaseRad() const;
};

float normalizePhaseRad(float phaseRad);
float phaseRadToSamples(float phaseRad);
// sin or cos (by table) of phaseRad, interpolated in the Q15 table.
float lookupTrigLutQ15(const std::array<int16_t, RmsTrigLut::kSize>& table, float phaseRad);
// Least-squares slope (counts per row) of the eFieldInd words of the first n rows.
float linearFitSlopeCountsPerSample(const ADCStruct* samples, uint16_t n);
void refreshEFieldSlopeCorrectionFromCapture();
bool isAutoInductivePhaseCorrection(float corr);
