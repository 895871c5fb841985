// Shared pieces of the register-level backend: read-modify-write helpers, waits with a time-out
// on the millisecond tick, the tick set-up, and the DMA operations peripheral drivers start
// their transfers with. Private to Drivers/hal/stm32g0.
#pragma once

#include "stm32g0xx_hal.h"

// C++20 deprecates compound assignment to volatile objects; these spell the access out.
inline void regSet(volatile uint32_t& reg, uint32_t bits) { reg = reg | bits; }
inline void regClear(volatile uint32_t& reg, uint32_t bits) { reg = reg & ~bits; }
inline void regModify(volatile uint32_t& reg, uint32_t clearMask, uint32_t setBits) {
  reg = (reg & ~clearMask) | setBits;
}

// A time-out of timeoutMs on the millisecond tick that also runs out after a number of polls
// (calls of expired()): with interrupts masked, as on the fatal-error path, the tick stands
// still and a wait on it alone would never end. A poll takes at least four core cycles, so the
// count never ends a wait before its time. HAL_MAX_DELAY never expires.
class PollDeadline {
 public:
  explicit PollDeadline(uint32_t timeoutMs);
  bool expired();

 private:
  uint32_t start_;
  uint32_t timeoutMs_;
  uint32_t pollsLeft_;
};

// Waits until (reg & mask) == expected; HAL_TIMEOUT once the PollDeadline of timeoutMs expires.
HAL_StatusTypeDef regWait(const volatile uint32_t& reg, uint32_t mask, uint32_t expected, uint32_t timeoutMs);

extern "C" {

// SysTick at 1 ms from the current HCLK, with the given interrupt priority (0..3). The clock
// functions call it again whenever HCLK changes.
HAL_StatusTypeDef HAL_InitTick(uint32_t tickPriority);
uint32_t HAL_GetTickPrio(void);

#define HAL_DMA_ERROR_NONE 0x00000000U
#define HAL_DMA_ERROR_TE 0x00000001U  // transfer error (bus error on either side)

// Starts a transfer of dataLength items on an initialised channel with its transfer-complete
// and transfer-error interrupts, and the half-transfer interrupt when XferHalfCpltCallback is
// set. HAL_DMA_IRQHandler then calls the handle's callbacks. For the peripheral-to-memory
// direction srcAddress is the peripheral register, dstAddress the buffer (and the reverse).
HAL_StatusTypeDef HAL_DMA_Start_IT(DMA_HandleTypeDef* hdma, uint32_t srcAddress, uint32_t dstAddress,
                                   uint32_t dataLength);
// Stops the channel and its interrupts without calling any callback.
HAL_StatusTypeDef HAL_DMA_Abort(DMA_HandleTypeDef* hdma);

}  // extern "C"

// Items the running transfer has still to move (the chip maker's __HAL_DMA_GET_COUNTER).
inline uint32_t HAL_DMA_GetCounter(const DMA_HandleTypeDef* hdma) { return hdma->Instance->CNDTR & DMA_CNDTR_NDT; }
