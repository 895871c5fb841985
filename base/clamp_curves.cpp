// The current clamp's phase-lead curves.
#include "clamp_curves.h"

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
