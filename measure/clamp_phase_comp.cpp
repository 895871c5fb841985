// Active power with clamp phase compensation.
#include "clamp_phase_comp.h"

#include <cmath>

#include "float_exact.h"
#include "gstate.h"

const std::array<TablePoint, kClampPhasePoints> ClampPhaseMappingLp = {{
    {0.27996f, 0.49427724f},
    {0.42718f, 0.48441613f},
    {0.67494f, 0.40643924f},
    {0.8912f, 0.46984264f},
    {1.01599f, 0.35069638f},
    {1.36358f, 0.30875933f},
    {1.71441f, 0.2744808f},
    {2.06439f, 0.23304889f},
    {2.54884f, 0.18920842f},
    {3.11723f, 0.14699112f},
    {3.54536f, 0.1389626f},
    {4.186f, 0.12691984f},
    {5.09782f, 0.115575194f},
}};

const std::array<TablePoint, kClampPhasePoints> clampPhaseMappingHp = {{
    {0.12707f, 0.15840608f},
    {0.18952f, 0.15397294f},
    {0.44879f, 0.15020303f},
    {3.3124f, 0.1240929f},
    {4.82299f, 0.11693705f},
    {9.282f, 0.10716321f},
    {11.0656f, 0.10393435f},
    {12.8492f, 0.10070549f},
    {14.6328f, 0.09747663f},
    {16.4164f, 0.09424777f},
    {25.5546f, 0.08552113f},
    {36.0178f, 0.08185594f},
    {50.3594f, 0.08517206f},
}};

const std::array<TablePoint, kClampPhasePoints>& clampPhaseMappingForBurden(uint16_t burdenResistor) {
  return burdenResistor == 270 ? ClampPhaseMappingLp : clampPhaseMappingHp;
}

float clampPhaseShiftRad(float uncorrectedCurrentA, uint16_t burdenResistor) {
  if (!(uncorrectedCurrentA > 0.0f)) return 0.0f;
  const auto& table = clampPhaseMappingForBurden(burdenResistor);
  return interpolateFromTable(table.data(), table.size(), uncorrectedCurrentA);
}

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
