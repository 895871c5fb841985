// What this project added to the hardware layer's API: not in the chip maker's HAL manual. Each
// stands where the firmware would otherwise touch a register itself (the reset and wake-up flags,
// the PWR clock, the factory calibration words); both backends implement them.
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

// Reset flags of this start, as HAL_RCCEx_ReadCSR returns them (the chip's own bit positions).
#define HAL_RESET_FLAG_OPTION_BYTES 0x02000000U
#define HAL_RESET_FLAG_PIN 0x04000000U
#define HAL_RESET_FLAG_POWER_ON 0x08000000U  // power-on or brown-out
#define HAL_RESET_FLAG_SOFTWARE 0x10000000U
#define HAL_RESET_FLAG_IWDG 0x20000000U
#define HAL_RESET_FLAG_WWDG 0x40000000U
#define HAL_RESET_FLAG_LOW_POWER 0x80000000U
// Written with HAL_RCCEx_WriteCSR: clears every reset flag.
#define HAL_RESET_FLAGS_CLEAR 0x00800000U
// The fault record: the target's start-up code, on a HardFault or an unexpected interrupt, writes
// the mark with the exception number (3: HardFault, 16 + n: interrupt n) to this backup register and
// the stacked PC (0: the stack pointer was astray) to the next one, then resets the chip.
#define HAL_FAULT_RECORD_REGISTER 3U
#define HAL_FAULT_PC_REGISTER 4U
#define HAL_FAULT_RECORD_MARK 0xFA170000U
#define HAL_FAULT_RECORD_MARK_MASK 0xFFFFFF00U
// Reset flags of this start.
uint32_t HAL_RCCEx_ReadCSR(void);
void HAL_RCCEx_WriteCSR(uint32_t value);

// Wake-up flags, as HAL_PWREx_ReadSR1 returns them; HAL_PWREx_WriteSCR clears those given.
#define HAL_WAKE_FLAG_PIN1 0x00000001U
#define HAL_WAKE_FLAG_PIN2 0x00000002U
#define HAL_WAKE_FLAG_PIN4 0x00000008U
#define HAL_WAKE_FLAG_PIN5 0x00000010U
#define HAL_WAKE_FLAG_PIN6 0x00000020U
#define HAL_WAKE_FLAG_STANDBY 0x00000100U   // the start is a wake-up from standby
#define HAL_WAKE_FLAG_INTERNAL 0x00008000U  // an internal wake-up line (the RTC's)
uint32_t HAL_PWREx_ReadSR1(void);
void HAL_PWREx_WriteSCR(uint32_t flags);

// In standby the pins float unless PWR holds them: pulls `pins` of `port` down there (PWR_PDCRx)
// and has PWR apply its pulls in standby (PWR_CR3.APC).
void HAL_PWREx_HoldLowInStandby(GPIO_TypeDef* port, uint32_t pins);

// Switches the PWR clock on and reads its enable register back once (the read the chip needs
// before PWR is written); returns the value read, HAL_PWR_CLOCK_ON set.
#define HAL_PWR_CLOCK_ON 0x10000000U
uint32_t HAL_RCCEx_EnablePwrClockReadBack(void);

// Factory calibration words in system memory: the internal reference reading and the
// temperature sensor reading at 30 degrees C, both taken with VDDA = 3.0 V.
uint16_t HAL_ADCEx_GetVrefintCal(void);
uint16_t HAL_ADCEx_GetTsCal1(void);

// The flash's ECC double errors: a double word whose programming was cut off fails its check, and
// each read of it sets FLASH_ECCR.ECCD, which raises the NMI. The NMI handler takes the error (true
// when the NMI was one; the flag is cleared); a checked read of flash copies `size` bytes and tells
// whether every double word of them passed its check.
bool HAL_FLASHEx_TakeEccDoubleError(void);
bool HAL_FLASHEx_ReadChecked(void* dst, const void* src, size_t size);

#ifdef __cplusplus
}
#endif
