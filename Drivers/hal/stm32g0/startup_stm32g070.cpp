// Start-up of the STM32G070: the vector table, the reset handler that prepares RAM and runs the
// static constructors before main, and the fault handler for a HardFault and every unexpected
// interrupt.
#include <cstring>

#include "stm32g0xx_hal.h"

extern "C" {

// Linker script symbols.
extern uint32_t _estack;  // top of RAM: initial stack pointer
extern uint32_t _sidata;  // initial values of .data in flash
extern uint32_t _sdata;
extern uint32_t _edata;
extern uint32_t _sbss;
extern uint32_t _ebss;
extern void (*__preinit_array_start[])(void);
extern void (*__preinit_array_end[])(void);
extern void (*__init_array_start[])(void);
extern void (*__init_array_end[])(void);

void SystemInit(void);
void Reset_Handler(void);
int main(void);
void Default_Handler(void);

// Every handler is a weak alias of Default_Handler: a definition elsewhere (Core/Src) wins. Nothing
// defines HardFault_Handler: a HardFault is recorded and reset like an unexpected interrupt.
#define WEAK_HANDLER(name) void name(void) __attribute__((weak, alias("Default_Handler"), nothrow))
WEAK_HANDLER(NMI_Handler);
WEAK_HANDLER(HardFault_Handler);
WEAK_HANDLER(SVC_Handler);
WEAK_HANDLER(PendSV_Handler);
WEAK_HANDLER(SysTick_Handler);
WEAK_HANDLER(WWDG_IRQHandler);
WEAK_HANDLER(RTC_TAMP_IRQHandler);
WEAK_HANDLER(FLASH_IRQHandler);
WEAK_HANDLER(RCC_IRQHandler);
WEAK_HANDLER(EXTI0_1_IRQHandler);
WEAK_HANDLER(EXTI2_3_IRQHandler);
WEAK_HANDLER(EXTI4_15_IRQHandler);
WEAK_HANDLER(DMA1_Channel1_IRQHandler);
WEAK_HANDLER(DMA1_Channel2_3_IRQHandler);
WEAK_HANDLER(DMA1_Ch4_7_DMAMUX1_OVR_IRQHandler);
WEAK_HANDLER(ADC1_IRQHandler);
WEAK_HANDLER(TIM1_BRK_UP_TRG_COM_IRQHandler);
WEAK_HANDLER(TIM1_CC_IRQHandler);
WEAK_HANDLER(TIM3_IRQHandler);
WEAK_HANDLER(TIM6_IRQHandler);
WEAK_HANDLER(TIM7_IRQHandler);
WEAK_HANDLER(TIM14_IRQHandler);
WEAK_HANDLER(TIM15_IRQHandler);
WEAK_HANDLER(TIM16_IRQHandler);
WEAK_HANDLER(TIM17_IRQHandler);
WEAK_HANDLER(I2C1_IRQHandler);
WEAK_HANDLER(I2C2_IRQHandler);
WEAK_HANDLER(SPI1_IRQHandler);
WEAK_HANDLER(SPI2_IRQHandler);
WEAK_HANDLER(USART1_IRQHandler);
WEAK_HANDLER(USART2_IRQHandler);
WEAK_HANDLER(USART3_4_IRQHandler);
#undef WEAK_HANDLER

}  // extern "C"

namespace {

// The first word of the table is the initial stack pointer, the others are handlers.
union VectorEntry {
  void (*handler)(void);
  uint32_t* stackTop;
};

constexpr int kCoreVectors = 16;
constexpr int kIrqVectors = 32;

// Core exceptions, then interrupt lines 0..31 (IRQn_Type numbers).
__attribute__((section(".isr_vector"), used)) const VectorEntry kVectorTable[kCoreVectors + kIrqVectors] = {
    {.stackTop = &_estack},
    {Reset_Handler},
    {NMI_Handler},
    {HardFault_Handler},
    {nullptr},
    {nullptr},
    {nullptr},
    {nullptr},
    {nullptr},
    {nullptr},
    {nullptr},
    {SVC_Handler},
    {nullptr},
    {nullptr},
    {PendSV_Handler},
    {SysTick_Handler},
    {WWDG_IRQHandler},                    // 0
    {nullptr},                            // 1
    {RTC_TAMP_IRQHandler},                // 2
    {FLASH_IRQHandler},                   // 3
    {RCC_IRQHandler},                     // 4
    {EXTI0_1_IRQHandler},                 // 5
    {EXTI2_3_IRQHandler},                 // 6
    {EXTI4_15_IRQHandler},                // 7
    {nullptr},                            // 8
    {DMA1_Channel1_IRQHandler},           // 9
    {DMA1_Channel2_3_IRQHandler},         // 10
    {DMA1_Ch4_7_DMAMUX1_OVR_IRQHandler},  // 11
    {ADC1_IRQHandler},                    // 12
    {TIM1_BRK_UP_TRG_COM_IRQHandler},     // 13
    {TIM1_CC_IRQHandler},                 // 14
    {nullptr},                            // 15
    {TIM3_IRQHandler},                    // 16
    {TIM6_IRQHandler},                    // 17
    {TIM7_IRQHandler},                    // 18
    {TIM14_IRQHandler},                   // 19
    {TIM15_IRQHandler},                   // 20
    {TIM16_IRQHandler},                   // 21
    {TIM17_IRQHandler},                   // 22
    {I2C1_IRQHandler},                    // 23
    {I2C2_IRQHandler},                    // 24
    {SPI1_IRQHandler},                    // 25
    {SPI2_IRQHandler},                    // 26
    {USART1_IRQHandler},                  // 27
    {USART2_IRQHandler},                  // 28
    {USART3_4_IRQHandler},                // 29
    {nullptr},                            // 30
    {nullptr},                            // 31
};
static_assert(USART3_4_IRQn == 29 && TIM6_IRQn == 17 && DMA1_Channel2_3_IRQn == 10, "vector numbers");

void runAll(void (*const* first)(void), void (*const* last)(void)) {
  for (; first != last; ++first) (*first)();
}

}  // namespace

extern "C" {

// Vector table at the start of flash (also where a debugger or boot loader may have moved it).
void SystemInit(void) { SCB->VTOR = FLASH_BASE; }

// RAM contents and static constructors, on the stack the reset handler set up.
// Then main, which does not return; if it did, stop here. (Called from C++, not from the reset
// handler's assembly, so that the link-time optimiser sees the call.)
__attribute__((used, noreturn)) void Reset_Run(void) {
  SystemInit();
  const auto bytes = [](const uint32_t* begin, const uint32_t* end) {
    return static_cast<size_t>(reinterpret_cast<uintptr_t>(end) - reinterpret_cast<uintptr_t>(begin));
  };
  std::memcpy(&_sdata, &_sidata, bytes(&_sdata, &_edata));
  std::memset(&_sbss, 0, bytes(&_sbss, &_ebss));
  runAll(__preinit_array_start, __preinit_array_end);
  runAll(__init_array_start, __init_array_end);
  main();
  for (;;) {
  }
}

// Entered with the stack pointer from the table; it is set again because a boot loader or a
// debugger may jump here with another stack. The literal pool stays with the code.
__attribute__((naked, noreturn)) void Reset_Handler(void) {
  __asm volatile(
      "ldr r0, =_estack\n"
      "mov sp, r0\n"
      "bl Reset_Run\n"
      ".ltorg\n");
}

// A node that spun here would never report again and would drain its cell: the exception number
// and the stacked PC go to the backup registers (the next start reports them), then the chip resets.
__attribute__((used)) void Fault_RecordAndReset(const uint32_t* frame, uint32_t ipsr) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(frame);
  // A stack pointer gone astray is not followed: a read through it would fault again (lockup).
  const uint32_t pc = at >= SRAM_BASE && at <= reinterpret_cast<uintptr_t>(&_estack) - 32u ? frame[6] : 0u;
  // The RTC domain is open for writes from its bring-up on (before it, the record is lost; the reset
  // still comes).
  (&TAMP->BKP0R)[HAL_FAULT_RECORD_REGISTER] = HAL_FAULT_RECORD_MARK | (ipsr & 0x3Fu);
  (&TAMP->BKP0R)[HAL_FAULT_PC_REGISTER] = pc;
  NVIC_SystemReset();
}

// The exception frame the core stacked on entry is at MSP (the firmware never uses PSP).
__attribute__((naked)) void Default_Handler(void) {
  __asm volatile(
      "mrs r0, msp\n"
      "mrs r1, ipsr\n"
      "ldr r2, =Fault_RecordAndReset\n"
      "bx r2\n"
      ".ltorg\n");
}

}  // extern "C"
