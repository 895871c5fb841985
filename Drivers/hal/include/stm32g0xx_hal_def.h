// Common types of the hardware layer.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "stm32g0xx_device.h"  // backend: peripheral instances (GPIOA, USART1, ...)

typedef enum { HAL_OK = 0x00U, HAL_ERROR = 0x01U, HAL_BUSY = 0x02U, HAL_TIMEOUT = 0x03U } HAL_StatusTypeDef;
typedef enum { HAL_UNLOCKED = 0x00U, HAL_LOCKED = 0x01U } HAL_LockTypeDef;
typedef enum { DISABLE = 0U, ENABLE = 1U } FunctionalState;

#define HAL_MAX_DELAY 0xFFFFFFFFU

#define __HAL_LINKDMA(handle, field, dmaHandle) \
  do {                                          \
    (handle)->field = &(dmaHandle);             \
    (dmaHandle).Parent = (handle);              \
  } while (0)
