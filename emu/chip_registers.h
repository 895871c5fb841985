// The register blocks of the STM32G070 as the target backend defines them from the reference
// manual (reg_*.h through its device header), for the register fronts. Included ahead of every
// emulator source (cmake/emu.cmake): the device header comes in before the simulated board's headers,
// and its SysTick instance macro, which the fronts never use (they address registers by offset),
// goes so that it cannot rewrite the board's tick model (sim::SysTick).
#pragma once

#include "stm32g0xx_device.h"

#undef SysTick
