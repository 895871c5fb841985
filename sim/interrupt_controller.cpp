// Interrupt delivery of the simulated core.
#include "interrupt_controller.h"

// The firmware's interrupt handlers, called by name as the vector table would. Weak, so that a
// handler the firmware does not define simply never runs.
extern "C" {
void SysTick_Handler(void) __attribute__((weak));
void DMA1_Channel1_IRQHandler(void) __attribute__((weak));
void DMA1_Channel2_3_IRQHandler(void) __attribute__((weak));
void USART1_IRQHandler(void) __attribute__((weak));
void TIM6_IRQHandler(void) __attribute__((weak));
void SPI1_IRQHandler(void) __attribute__((weak));
void RTC_TAMP_IRQHandler(void) __attribute__((weak));
}

namespace sim {

namespace {

using Handler = void (*)(void);

Handler handlerFor(int irq) {
  switch (irq) {
    case SysTick_IRQn: return SysTick_Handler;
    case DMA1_Channel1_IRQn: return DMA1_Channel1_IRQHandler;
    case DMA1_Channel2_3_IRQn: return DMA1_Channel2_3_IRQHandler;
    case USART1_IRQn: return USART1_IRQHandler;
    case TIM6_IRQn: return TIM6_IRQHandler;
    case SPI1_IRQn: return SPI1_IRQHandler;
    case RTC_TAMP_IRQn: return RTC_TAMP_IRQHandler;
    default: return nullptr;
  }
}

}  // namespace

bool InterruptController::nextReady(IRQn_Type& irq) const {
  uint64_t waiting = ready();
  int best = -1;
  while (waiting != 0) {
    const int line = __builtin_ctzll(waiting);
    waiting &= waiting - 1;
    // NMI has a fixed priority above every configurable one.
    if (best < 0 || line == NonMaskableInt_IRQn + kBias ||
        (best != NonMaskableInt_IRQn + kBias && priority_[static_cast<size_t>(line)] < priority_[static_cast<size_t>(best)]))
      best = line;
  }
  if (best < 0) return false;
  irq = static_cast<IRQn_Type>(best - kBias);
  return true;
}

bool InterruptController::deliver() {
  if (takenByCore_ || primask_ || depth_ > 0) return false;
  uint64_t waiting = ready();
  const bool any = waiting != 0;
  while (waiting != 0) {
    const int line = __builtin_ctzll(waiting);
    pending_ &= ~(1ull << line);
    Handler h = handlerFor(line - kBias);
    if (h != nullptr) {
      ++depth_;
      h();
      --depth_;
    }
    if (primask_) return true;
    waiting = ready();
  }
  return any;
}

}  // namespace sim
