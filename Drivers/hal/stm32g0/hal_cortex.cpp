// Cortex-M0+ core: interrupt controller, SysTick set-up and the single-instruction core operations.
#include "hal_backend.h"

namespace {
// Priority levels live in the top NVIC_PRIO_BITS of each 8-bit priority field.
uint32_t priorityField(uint32_t preemptPriority) {
  return (preemptPriority & ((1U << NVIC_PRIO_BITS) - 1U)) << (8U - NVIC_PRIO_BITS);
}
}  // namespace

extern "C" {

// The M0+ has no sub-priorities: only preemptPriority (0..3) counts.
void HAL_NVIC_SetPriority(IRQn_Type irq, uint32_t preemptPriority, uint32_t) {
  const uint32_t level = priorityField(preemptPriority);
  if (irq >= 0) {
    const uint32_t n = static_cast<uint32_t>(irq);
    const uint32_t shift = 8U * (n & 3U);
    regModify(NVIC->IPR[n >> 2], 0xFFU << shift, level << shift);  // word access only
    return;
  }
  switch (irq) {
    case SVC_IRQn: regModify(SCB->SHPR2, 0xFFU << SCB_SHPR2_PRI_11_Pos, level << SCB_SHPR2_PRI_11_Pos); break;
    case PendSV_IRQn: regModify(SCB->SHPR3, 0xFFU << SCB_SHPR3_PRI_14_Pos, level << SCB_SHPR3_PRI_14_Pos); break;
    case SysTick_IRQn: regModify(SCB->SHPR3, 0xFFU << SCB_SHPR3_PRI_15_Pos, level << SCB_SHPR3_PRI_15_Pos); break;
    default: break;  // NMI and HardFault have fixed priorities
  }
}

void HAL_NVIC_EnableIRQ(IRQn_Type irq) {
  if (irq >= 0) NVIC->ISER = 1U << (static_cast<uint32_t>(irq) & 31U);
}

void HAL_NVIC_DisableIRQ(IRQn_Type irq) {
  if (irq < 0) return;
  NVIC->ICER = 1U << (static_cast<uint32_t>(irq) & 31U);
  __DSB();  // the line is off once this returns
  __ISB();
}

void HAL_NVIC_ClearPendingIRQ(IRQn_Type irq) {
  if (irq >= 0) NVIC->ICPR = 1U << (static_cast<uint32_t>(irq) & 31U);
}

// SysTick from HCLK, interrupting every `ticks` cycles; 1 when the reload does not fit 24 bits.
uint32_t HAL_SYSTICK_Config(uint32_t ticks) {
  if (ticks == 0U || ticks - 1U > SysTick_LOAD_RELOAD) return 1U;
  SysTick->LOAD = ticks - 1U;
  HAL_NVIC_SetPriority(SysTick_IRQn, (1U << NVIC_PRIO_BITS) - 1U, 0);
  SysTick->VAL = 0U;
  SysTick->CTRL = SysTick_CTRL_CLKSOURCE | SysTick_CTRL_TICKINT | SysTick_CTRL_ENABLE;
  return 0U;
}

void NVIC_SystemReset(void) {
  __DSB();  // complete outstanding memory accesses first
  SCB->AIRCR = SCB_AIRCR_VECTKEY_VALUE | SCB_AIRCR_SYSRESETREQ;
  __DSB();
  for (;;) {
    __NOP();  // until the reset takes effect
  }
}

void __disable_irq(void) { __asm volatile("cpsid i" ::: "memory"); }
void __enable_irq(void) { __asm volatile("cpsie i" ::: "memory"); }
void __WFI(void) { __asm volatile("wfi" ::: "memory"); }
void __DSB(void) { __asm volatile("dsb 0xF" ::: "memory"); }
void __ISB(void) { __asm volatile("isb 0xF" ::: "memory"); }
void __NOP(void) { __asm volatile("nop"); }

}  // extern "C"
