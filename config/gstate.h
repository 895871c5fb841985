// The global runtime record: working configuration, measurements and their results.
#pragma once

#include <cstdint>

#include "flashconfig.h"

struct GState {
  struct AdaptivePowerTX {
    static constexpr bool enabled = false;
    static constexpr uint16_t fixedSleep = 30;
  };

  FlashConfig config;
  float temperature = 0.0f;
  AdaptivePowerTX adaptivePowerTX;

  static void make();
};

const GState& gstate();
GState& setGstate();
