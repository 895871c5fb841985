// Direct memory access controller (DMA1 with its request multiplexer).
#pragma once

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DMA_REQUEST_ADC1 5U
#define DMA_REQUEST_USART1_RX 50U
#define DMA_REQUEST_USART1_TX 51U

#define DMA_PERIPH_TO_MEMORY 0x00000000U
#define DMA_MEMORY_TO_PERIPH 0x00000010U
#define DMA_PINC_ENABLE 0x00000040U
#define DMA_PINC_DISABLE 0x00000000U
#define DMA_MINC_ENABLE 0x00000080U
#define DMA_MINC_DISABLE 0x00000000U
#define DMA_PDATAALIGN_BYTE 0x00000000U
#define DMA_PDATAALIGN_HALFWORD 0x00000100U
#define DMA_PDATAALIGN_WORD 0x00000200U
#define DMA_MDATAALIGN_BYTE 0x00000000U
#define DMA_MDATAALIGN_HALFWORD 0x00000400U
#define DMA_MDATAALIGN_WORD 0x00000800U
#define DMA_NORMAL 0x00000000U
#define DMA_CIRCULAR 0x00000020U
#define DMA_PRIORITY_LOW 0x00000000U
#define DMA_PRIORITY_MEDIUM 0x00001000U
#define DMA_PRIORITY_HIGH 0x00002000U
#define DMA_PRIORITY_VERY_HIGH 0x00003000U

typedef enum {
  HAL_DMA_STATE_RESET = 0x00U,
  HAL_DMA_STATE_READY = 0x01U,
  HAL_DMA_STATE_BUSY = 0x02U,
  HAL_DMA_STATE_TIMEOUT = 0x03U,
} HAL_DMA_StateTypeDef;

typedef struct {
  uint32_t Request;
  uint32_t Direction;
  uint32_t PeriphInc;
  uint32_t MemInc;
  uint32_t PeriphDataAlignment;
  uint32_t MemDataAlignment;
  uint32_t Mode;
  uint32_t Priority;
} DMA_InitTypeDef;

typedef struct __DMA_HandleTypeDef {
  DMA_Channel_TypeDef* Instance;
  DMA_InitTypeDef Init;
  HAL_LockTypeDef Lock;
  volatile HAL_DMA_StateTypeDef State;
  void* Parent;
  void (*XferCpltCallback)(struct __DMA_HandleTypeDef* hdma);
  void (*XferHalfCpltCallback)(struct __DMA_HandleTypeDef* hdma);
  void (*XferErrorCallback)(struct __DMA_HandleTypeDef* hdma);
  void (*XferAbortCallback)(struct __DMA_HandleTypeDef* hdma);
  volatile uint32_t ErrorCode;
} DMA_HandleTypeDef;

HAL_StatusTypeDef HAL_DMA_Init(DMA_HandleTypeDef* hdma);
HAL_StatusTypeDef HAL_DMA_DeInit(DMA_HandleTypeDef* hdma);
void HAL_DMA_IRQHandler(DMA_HandleTypeDef* hdma);

#ifdef __cplusplus
}
#endif
