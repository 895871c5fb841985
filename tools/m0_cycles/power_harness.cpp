// Runs computePowerFast once on a full synthetic capture, between two markers, for the
// instruction-level cycle estimate of m0_cycles.py (ARMv6-M emulation of the target build).
#include "clamp_phase_comp.h"
#include "gstate.h"

extern "C" __attribute__((noinline, used)) void benchMarker(int which) { asm volatile("" ::"r"(which)); }

extern "C" __attribute__((noinline, used)) int harnessMain() {
  GState::make();
  GState& g = setGstate();
  g.adc.VRef = 3.3f;
  g.chanBField.burdenResistor = 20;
  g.config.inductive50HzPhaseCorrection = -0.03f;
  g.adc.buf.size2use = ADCParam::NSAMPLES;
  for (uint16_t i = 0; i < ADCParam::NSAMPLES; ++i) {
    // 10 A-like clamp signal and a drifting E-field pick-up, from the Q15 tables themselves.
    const int32_t s = RmsTrigLut::kSinBaseQ15[i], c = RmsTrigLut::kCosBaseQ15[i];
    g.adc.buf[i] = ADCStruct{static_cast<int16_t>(2048 + (s * 400 + c * 150) / 32768), 2047, 2048,
                             static_cast<int16_t>(2048 + (c * 250) / 32768 + i / 8)};
  }
  benchMarker(1);
  const bool ok = computePowerFast();
  benchMarker(2);
  return ok ? 0 : 1;
}

extern "C" __attribute__((naked, used)) void _start() {
  asm volatile("bl harnessMain\n bkpt #0");
}
