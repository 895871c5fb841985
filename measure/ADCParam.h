// Acquisition timing: ADC clock, sampling and conversion times, and what they make of a 50 Hz
// mains cycle. Every value follows from the peripheral clock and the sampling time.
#pragma once

#include <cstdint>

struct ADCParam {
  static constexpr uint32_t CPU_CLOCK_HZ = 4000000;
  static constexpr uint32_t PRESCALER = 2;
  static constexpr uint32_t CLOCK_HZ = CPU_CLOCK_HZ / PRESCALER;
  static constexpr float SAMPLE_CYCLES = 160.5f;
  static constexpr float CONV_CYCLES_12BIT = 12.5f;
  static constexpr float CYCLES_PER_CHANNEL = SAMPLE_CYCLES + CONV_CYCLES_12BIT;
  static constexpr float NUM_CHANNELS = 4.0f;
  static constexpr float TIME_PER_CHANNEL_S = CYCLES_PER_CHANNEL / static_cast<float>(CLOCK_HZ);
  static constexpr float TIME_PER_FULL_SCAN_S = TIME_PER_CHANNEL_S * NUM_CHANNELS;
  static constexpr float EFF_FREQ_HZ = 1.0f / TIME_PER_FULL_SCAN_S;
  static constexpr uint8_t AC_FREQ_HZ = 50;
  static constexpr float AC_PERIOD_S = 1.0f / AC_FREQ_HZ;
  static constexpr float SAMPLES_PER_AC_CYCLE = AC_PERIOD_S / TIME_PER_FULL_SCAN_S;
  static constexpr uint8_t CYCLE_2_SAMPLE = 4;
  static constexpr uint8_t NSAMPLES = static_cast<uint8_t>(CYCLE_2_SAMPLE * SAMPLES_PER_AC_CYCLE);
  static constexpr float Tot_Time = NSAMPLES * TIME_PER_FULL_SCAN_S;
  static constexpr float DEGREES_PER_SAMPLE = 360.0f * AC_FREQ_HZ * TIME_PER_FULL_SCAN_S;
  static constexpr float RADIANS_PER_SAMPLE = 2.0f * 3.14159265358979f * AC_FREQ_HZ * TIME_PER_FULL_SCAN_S;
  static constexpr float DEGREES_PER_CHANNEL = 360.0f * AC_FREQ_HZ * TIME_PER_CHANNEL_S;
  static constexpr float RADIANS_PER_CHANNEL = 2.0f * 3.14159265358979f * AC_FREQ_HZ * TIME_PER_CHANNEL_S;
  static constexpr bool BFieldUseDifferentialRead = true;
  // Rows of a quick (one mains cycle) capture.
  static constexpr uint16_t NSAMPLES_QUICK = 57;
};

static_assert(ADCParam::NSAMPLES == 231, "four mains cycles of scans");
static_assert(static_cast<uint16_t>(ADCParam::SAMPLES_PER_AC_CYCLE) == ADCParam::NSAMPLES_QUICK,
              "a quick read is one mains cycle");
