// Low-power millisecond delay on TIM6, standby with an RTC wake-up, and the reset/wake-up cause texts.
#pragma once

#include <cstddef>
#include <cstdint>

// Set by the TIM6 update interrupt when a delay chunk has elapsed.
extern volatile bool tim6_delay_elapsed;

// TIM6 as a 1 kHz time base with its interrupt enabled; the boot sequence calls it once.
void initDelayTimer();
// Sleeps the core for `ms` milliseconds (1 or 2 ms busy-wait); the millisecond tick advances by ms.
void delayMsLowPower(uint32_t ms);
// Standby for `sleep` seconds; the wake-up restarts the program from reset. Returns (after
// logging why) only when the wake-up timer cannot be set or the core did not go down.
void standBy(uint16_t sleep);

// The highest-priority reset flag of an RCC_CSR value, as text.
void getResetCauseString(uint32_t csr, char* buf, size_t bufSize);
// The first wake-up flag of a PWR_SR1 value, as text.
void getBootCauseMaskString(uint32_t sr1, char* buf, size_t bufSize);
// Logs "Reset cause: ..." and "boot cause: ..." for the values captured at boot.
void resetCauseDecoder(uint32_t resetCause, uint32_t bootCause);
