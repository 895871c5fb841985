// The current clamp's calibration curves of phase lead, one per range, and the lead they give.
// Data of the clamp, not of a measurement: the simulated clamp is built from the same curves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "table_point.h"

constexpr size_t kClampPhasePoints = 13;
// Clamp phase lead (rad) versus uncorrected current (A), per range.
extern const std::array<TablePoint, kClampPhasePoints> ClampPhaseMappingLp;  // 270 ohm
extern const std::array<TablePoint, kClampPhasePoints> clampPhaseMappingHp;  // any other burden

const std::array<TablePoint, kClampPhasePoints>& clampPhaseMappingForBurden(uint16_t burdenResistor);
float clampPhaseShiftRad(float uncorrectedCurrentA, uint16_t burdenResistor);
