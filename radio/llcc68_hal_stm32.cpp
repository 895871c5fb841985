// Bus glue of the LLCC68 on this board: SPI1, chip select, reset and BUSY from the pin map.
#include "MCUState.h"
#include "llcc68_hal.h"
#include "main.h"
#include "stm32g0xx_hal.h"

namespace {

constexpr uint32_t kBusyWaitMs = 100;
constexpr uint32_t kSpiTimeoutMs = 1000;
constexpr uint32_t kBootWaitMs = 20;

const detail::PinLayout::Lora& pins() { return mcustate().pin.lora; }

void cs_assert() { pins().cs.setOff(); }
void cs_deassert() { pins().cs.setOn(); }

}  // namespace

extern "C" {

bool llcc68_hal_busy_wait_ready(uint32_t timeout_ms) {
  const uint32_t start = HAL_GetTick();
  for (;;) {
    if (!pins().busy.read()) return true;
    if (HAL_GetTick() - start >= timeout_ms) return false;
  }
}

llcc68_hal_status_t llcc68_hal_write(const void*, const uint8_t* command, uint16_t command_length, const uint8_t* data,
                                     uint16_t data_length) {
  if (!llcc68_hal_busy_wait_ready(kBusyWaitMs)) return LLCC68_HAL_STATUS_ERROR;
  cs_assert();
  if (command_length != 0 && HAL_SPI_Transmit(&hspi1, command, command_length, kSpiTimeoutMs) != HAL_OK) {
    cs_deassert();
    return LLCC68_HAL_STATUS_ERROR;
  }
  if (data != nullptr && data_length != 0 && HAL_SPI_Transmit(&hspi1, data, data_length, kSpiTimeoutMs) != HAL_OK) {
    cs_deassert();
    return LLCC68_HAL_STATUS_ERROR;
  }
  cs_deassert();
  // The chip holds BUSY high while it executes the command.
  return llcc68_hal_busy_wait_ready(kBusyWaitMs) ? LLCC68_HAL_STATUS_OK : LLCC68_HAL_STATUS_ERROR;
}

llcc68_hal_status_t llcc68_hal_read(const void*, const uint8_t* command, uint16_t command_length, uint8_t* data,
                                    uint16_t data_length) {
  if (!llcc68_hal_busy_wait_ready(kBusyWaitMs)) return LLCC68_HAL_STATUS_ERROR;
  cs_assert();
  if (HAL_SPI_Transmit(&hspi1, command, command_length, kSpiTimeoutMs) != HAL_OK ||
      HAL_SPI_Receive(&hspi1, data, data_length, kSpiTimeoutMs) != HAL_OK) {
    cs_deassert();
    return LLCC68_HAL_STATUS_ERROR;
  }
  cs_deassert();
  return llcc68_hal_busy_wait_ready(kBusyWaitMs) ? LLCC68_HAL_STATUS_OK : LLCC68_HAL_STATUS_ERROR;
}

llcc68_hal_status_t llcc68_hal_reset(const void*) {
  pins().reset.setOff();
  HAL_Delay(1);
  pins().reset.setOn();
  HAL_Delay(6);
  return llcc68_hal_busy_wait_ready(kBootWaitMs) ? LLCC68_HAL_STATUS_OK : LLCC68_HAL_STATUS_ERROR;
}

llcc68_hal_status_t llcc68_hal_wakeup(const void*) {
  // A falling edge of chip select wakes the chip from sleep.
  cs_deassert();
  HAL_Delay(1);
  cs_assert();
  HAL_Delay(1);
  cs_deassert();
  return llcc68_hal_busy_wait_ready(kBootWaitMs) ? LLCC68_HAL_STATUS_OK : LLCC68_HAL_STATUS_ERROR;
}

}  // extern "C"
