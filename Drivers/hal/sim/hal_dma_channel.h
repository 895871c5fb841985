// DMA channels of the simulated board as the peripherals' code starts and stops them (the target's
// HAL_DMA_Start_IT and HAL_DMA_Abort, on host addresses). Private to Drivers/hal/sim.
#pragma once

#include <cstdint>

#include "stm32g0xx_hal.h"

// Starts a transfer of `length` items between the peripheral and host memory on an initialised
// channel, with its transfer-complete and transfer-error interrupts, and the half-transfer
// interrupt when XferHalfCpltCallback is set.
HAL_StatusTypeDef simDmaStart(DMA_HandleTypeDef* hdma, uintptr_t memory, uint32_t length);
// Stops the channel and its interrupts without calling any callback.
void simDmaAbort(DMA_HandleTypeDef* hdma);
// Items the running transfer has still to move.
uint32_t simDmaRemaining(const DMA_HandleTypeDef* hdma);
