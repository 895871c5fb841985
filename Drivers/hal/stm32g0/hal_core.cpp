// Start-up of the hardware layer and the millisecond tick on SysTick, with the busy delay.
#include "hal_backend.h"

volatile uint32_t uwTick = 0;

namespace {
constexpr uint32_t kTickPriority = 3;  // lowest level: every peripheral interrupt pre-empts the tick
uint32_t gTickPriority = kTickPriority;
}  // namespace

PollDeadline::PollDeadline(uint32_t timeoutMs)
    : start_(HAL_GetTick()),
      timeoutMs_(timeoutMs),
      // Core cycles of the time-out over four per poll; capped where the product would overflow.
      pollsLeft_(timeoutMs >= 0xFFFFFFFFu / 16000u ? 0xFFFFFFFFu
                                                   : (HAL_RCC_GetHCLKFreq() / 4000u) * (timeoutMs + 1u) + 1u) {}

bool PollDeadline::expired() {
  if (timeoutMs_ == HAL_MAX_DELAY) return false;
  if (pollsLeft_ == 0) return true;
  --pollsLeft_;
  return HAL_GetTick() - start_ > timeoutMs_;
}

HAL_StatusTypeDef regWait(const volatile uint32_t& reg, uint32_t mask, uint32_t expected, uint32_t timeoutMs) {
  PollDeadline deadline(timeoutMs);
  while ((reg & mask) != expected) {
    if (deadline.expired()) return (reg & mask) == expected ? HAL_OK : HAL_TIMEOUT;
  }
  return HAL_OK;
}

extern "C" {

HAL_StatusTypeDef HAL_Init(void) {
  regSet(FLASH->ACR, FLASH_ACR_ICEN);  // instruction cache (on at reset; the prefetch buffer stays off)
  if (HAL_InitTick(kTickPriority) != HAL_OK) return HAL_ERROR;
  HAL_MspInit();
  return HAL_OK;
}

HAL_StatusTypeDef HAL_DeInit(void) {
  // Every peripheral back to its reset state; the RTC domain is not touched.
  RCC->APBRSTR1 = 0xFFFFFFFFU;
  RCC->APBRSTR1 = 0U;
  RCC->APBRSTR2 = 0xFFFFFFFFU;
  RCC->APBRSTR2 = 0U;
  RCC->AHBRSTR = 0xFFFFFFFFU;
  RCC->AHBRSTR = 0U;
  RCC->IOPRSTR = 0xFFFFFFFFU;
  RCC->IOPRSTR = 0U;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_InitTick(uint32_t tickPriority) {
  if (tickPriority >= (1U << NVIC_PRIO_BITS)) return HAL_ERROR;
  if (HAL_SYSTICK_Config(HAL_RCC_GetHCLKFreq() / 1000U) != 0) return HAL_ERROR;
  HAL_NVIC_SetPriority(SysTick_IRQn, tickPriority, 0);
  gTickPriority = tickPriority;
  return HAL_OK;
}

uint32_t HAL_GetTickPrio(void) { return gTickPriority; }

void HAL_IncTick(void) { uwTick = uwTick + 1U; }

uint32_t HAL_GetTick(void) { return uwTick; }

void HAL_Delay(uint32_t delayMs) {
  const uint32_t start = HAL_GetTick();
  uint32_t wait = delayMs;
  if (wait < HAL_MAX_DELAY) wait += 1U;  // the first tick may come at once: wait at least delayMs
  while ((HAL_GetTick() - start) < wait) {
  }
}

// The counter keeps running; only its interrupt (and so the core wake-up) stops.
void HAL_SuspendTick(void) { regClear(SysTick->CTRL, SysTick_CTRL_TICKINT); }
void HAL_ResumeTick(void) { regSet(SysTick->CTRL, SysTick_CTRL_TICKINT); }

}  // extern "C"
