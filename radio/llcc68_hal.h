// Bus glue under the LLCC68 command layer: write and read transactions framed by chip select,
// the hardware reset, the chip-select wake-up and the BUSY-line wait. The only radio code that
// touches the microcontroller.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum llcc68_hal_status_e {
  LLCC68_HAL_STATUS_OK = 0,
  LLCC68_HAL_STATUS_ERROR = 3,
} llcc68_hal_status_t;

// True when BUSY reads low; false when it stayed high for timeout_ms.
bool llcc68_hal_busy_wait_ready(uint32_t timeout_ms);
llcc68_hal_status_t llcc68_hal_write(const void* context, const uint8_t* command, uint16_t command_length,
                                     const uint8_t* data, uint16_t data_length);
llcc68_hal_status_t llcc68_hal_read(const void* context, const uint8_t* command, uint16_t command_length, uint8_t* data,
                                    uint16_t data_length);
llcc68_hal_status_t llcc68_hal_reset(const void* context);
llcc68_hal_status_t llcc68_hal_wakeup(const void* context);

#ifdef __cplusplus
}
#endif
