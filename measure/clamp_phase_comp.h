// Active power against an assumed 230 V mains sinusoid, with the current clamp's phase lead and
// ratio error compensated, and the phase helpers of the assumed voltage.
#pragma once

#include <array>
#include <cstdint>

#include "clamp_curves.h"
#include "functions.h"
#include "rms_signal.h"

struct RealPower {
  float powerFactor;     // -1..1
  float estimatedPower;  // watts; negative: power flowing the other way
};

constexpr float kMainsVoltage = 230.0f;
// Peak mains voltage x clamp ratio: 230 x sqrt(2) x 1000, rounded.
constexpr float kPowerScale = 325270.0f;
constexpr float kPhaseSignLimitRad = 1.5707964f;

float clampCorrectedBPhaseRad(float bPhaseRad, float uncorrectedCurrentA, uint16_t burdenResistor);
// Clamp amplitude correction through the configured clamp mapping.
float correctClampCurrent(float old);

float eFieldPhaseForPower(float measuredEPhaseRad);
float voltagePhaseRadForP2Mac(float measuredEPhaseRad, float currOriginalA, uint16_t burdenResistor);
// Angle between current and voltage.
float powerShiftRad(float bPhaseRad, float measuredEPhaseRad);

// Clamp current, active power and power factor of the capture in GState; false when the clamp
// channel has no fundamental (previous results kept).
bool computePowerFast();
float integrateActivePowerLut(const Measure& bField, float voltagePhaseRad, float vRef);
void finalizeActivePowerFromRaw(float rawActivePowerW, float currOriginal, bool ePhaseOk, float correctedBPhaseRad,
                                float measuredEPhaseRad);
