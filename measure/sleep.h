// Low-power millisecond delay, standby and reset-cause texts.
#pragma once

#include <cstdint>

void delayMsLowPower(uint32_t ms);
