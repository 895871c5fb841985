// Active power with clamp phase compensation.
#include "clamp_phase_comp.h"

#include <cmath>

#include "float_exact.h"
#include "gstate.h"

float clampCorrectedBPhaseRad(float bPhaseRad, float uncorrectedCurrentA, uint16_t burdenResistor) {
  return normalizePhaseRad(bPhaseRad - clampPhaseShiftRad(uncorrectedCurrentA, burdenResistor));
}

float correctClampCurrent(float old) {
  const ClampMapping& mapping = gstate().config.clampMapping;
  return interpolateFromTable(mapping.data(), mapping.size(), old);
}

float eFieldPhaseForPower(float measuredEPhaseRad) {
  const float corr = gstate().config.inductive50HzPhaseCorrection;
  if (isAutoInductivePhaseCorrection(corr)) return normalizePhaseRad(measuredEPhaseRad);
  return normalizePhaseRad(corr + measuredEPhaseRad);
}

float voltagePhaseRadForP2Mac(float measuredEPhaseRad, float currOriginalA, uint16_t burdenResistor) {
  return normalizePhaseRad(eFieldPhaseForPower(measuredEPhaseRad) + clampPhaseShiftRad(currOriginalA, burdenResistor));
}

float powerShiftRad(float bPhaseRad, float measuredEPhaseRad) {
  return normalizePhaseRad(bPhaseRad - eFieldPhaseForPower(measuredEPhaseRad));
}

float integrateActivePowerLut(const Measure& bField, float voltagePhaseRad, float vRef) {
  if (bField.chan == nullptr) return 0.0f;
  const float phi = normalizePhaseRad(voltagePhaseRad);
  const float sinPhi = lookupTrigLutQ15(RmsTrigLut::kSinBaseQ15, phi);
  const float cosPhi = lookupTrigLutQ15(RmsTrigLut::kCosBaseQ15, phi);
  const ChannelSamples samples(*bField.chan);
  const uint16_t n = samples.size();
  float acc = 0.0f;
  for (uint16_t i = 0; i < n && i < RmsTrigLut::kSize; ++i) {
    // sin(i w + phi) by the angle sum, from the tables.
    using namespace FloatExact;
    const float u =
        mul(add(mul(fromInt(RmsTrigLut::kSinBaseQ15[i]), cosPhi), mul(fromInt(RmsTrigLut::kCosBaseQ15[i]), sinPhi)),
            1.0f / 32767.0f);
    acc = add(acc, mul(u, fromInt(samples[i] - bField.average)));
  }
  const uint16_t burden = bField.chan->burdenResistor;
  if (n == 0 || burden == 0) return 0.0f;
  const float numerator = vRef * kPowerScale * acc;
  const float denominator = static_cast<float>(burden) * 4096.0f * static_cast<float>(n);
  return numerator / denominator;
}

void finalizeActivePowerFromRaw(float rawActivePowerW, float currOriginal, bool ePhaseOk, float correctedBPhaseRad,
                                float measuredEPhaseRad) {
  GState& g = setGstate();
  g.currCorrected = correctClampCurrent(currOriginal);
  float sign = 1.0f;
  if (ePhaseOk)
    sign = std::fabs(powerShiftRad(correctedBPhaseRad, measuredEPhaseRad)) <= kPhaseSignLimitRad ? 1.0f : -1.0f;
  else
    sign = rawActivePowerW < 0.0f ? -1.0f : 1.0f;
  g.power.estimatedPower = sign * correctClampCurrent(std::fabs(rawActivePowerW) / kMainsVoltage) * kMainsVoltage;
  const float s = g.currCorrected * kMainsVoltage;
  float pf = 0.0f;
  if (s > 0.0f) pf = std::fmin(1.0f, std::fmax(-1.0f, g.power.estimatedPower / s));
  g.power.powerFactor = pf;
}

bool computePowerFast() {
  refreshEFieldSlopeCorrectionFromCapture();
  GState& g = setGstate();
  g.bField.reset();
  g.eFieldInductive.reset();
  if (!g.bField.computeFundamentalPhase()) return false;
  const bool ePhaseOk = g.eFieldInductive.computeFundamentalPhase();
  g.bField.computeRMS();
  const uint16_t burden = g.bField.chan != nullptr ? g.bField.chan->burdenResistor : 0;
  g.currOriginal = volt2current(g.bField.rmsV, burden);
  if (g.bField.rmsRaw <= 0.0f || g.currOriginal <= 0.0f) {
    g.power.powerFactor = 0.0f;
    g.currCorrected = correctClampCurrent(g.currOriginal);
    g.power.estimatedPower = 0.0f;
    return true;
  }
  const float correctedB = clampCorrectedBPhaseRad(g.bField.phaseRad, g.currOriginal, burden);
  float voltagePhase = g.bField.phaseRad;
  if (isAutoInductivePhaseCorrection(g.config.inductive50HzPhaseCorrection))
    voltagePhase = normalizePhaseRad(g.bField.phaseRad + clampPhaseShiftRad(g.currOriginal, burden));
  else if (ePhaseOk)
    voltagePhase = voltagePhaseRadForP2Mac(g.eFieldInductive.getPhaseRad(), g.currOriginal, burden);
  const float raw = integrateActivePowerLut(g.bField, voltagePhase, g.adc.VRef);
  finalizeActivePowerFromRaw(raw, g.currOriginal, ePhaseOk, correctedB, g.eFieldInductive.getPhaseRad());
  return true;
}
