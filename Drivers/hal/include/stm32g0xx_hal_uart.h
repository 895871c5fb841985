// Universal synchronous/asynchronous receiver transmitter: blocking transmit and
// receive-to-idle with DMA, as the console uses them.
#pragma once

#include "stm32g0xx_hal_dma.h"

#ifdef __cplusplus
extern "C" {
#endif

#define UART_WORDLENGTH_8B 0x00000000U
#define UART_STOPBITS_1 0x00000000U
#define UART_PARITY_NONE 0x00000000U
#define UART_MODE_RX 0x00000004U
#define UART_MODE_TX 0x00000008U
#define UART_MODE_TX_RX 0x0000000CU
#define UART_HWCONTROL_NONE 0x00000000U
#define UART_OVERSAMPLING_16 0x00000000U
#define UART_ONE_BIT_SAMPLE_DISABLE 0x00000000U
#define UART_PRESCALER_DIV1 0x00000000U
#define UART_ADVFEATURE_NO_INIT 0x00000000U
#define UART_TXFIFO_THRESHOLD_1_8 0x00000000U
#define UART_RXFIFO_THRESHOLD_1_8 0x00000000U

#define HAL_UART_ERROR_NONE 0x00000000U
#define HAL_UART_ERROR_PE 0x00000001U
#define HAL_UART_ERROR_NE 0x00000002U
#define HAL_UART_ERROR_FE 0x00000004U
#define HAL_UART_ERROR_ORE 0x00000008U
#define HAL_UART_ERROR_DMA 0x00000010U
#define HAL_UART_ERROR_RTO 0x00000020U

typedef enum {
  HAL_UART_STATE_RESET = 0x00U,
  HAL_UART_STATE_READY = 0x20U,
  HAL_UART_STATE_BUSY = 0x24U,
  HAL_UART_STATE_BUSY_TX = 0x21U,
  HAL_UART_STATE_BUSY_RX = 0x22U,
  HAL_UART_STATE_BUSY_TX_RX = 0x23U,
  HAL_UART_STATE_TIMEOUT = 0xA0U,
  HAL_UART_STATE_ERROR = 0xE0U,
} HAL_UART_StateTypeDef;

typedef uint32_t HAL_UART_RxTypeTypeDef;
#define HAL_UART_RECEPTION_STANDARD 0x00000000U
#define HAL_UART_RECEPTION_TOIDLE 0x00000001U

typedef uint32_t HAL_UART_RxEventTypeTypeDef;
#define HAL_UART_RXEVENT_TC 0x00000000U
#define HAL_UART_RXEVENT_HT 0x00000001U
#define HAL_UART_RXEVENT_IDLE 0x00000002U

typedef struct {
  uint32_t BaudRate;
  uint32_t WordLength;
  uint32_t StopBits;
  uint32_t Parity;
  uint32_t Mode;
  uint32_t HwFlowCtl;
  uint32_t OverSampling;
  uint32_t OneBitSampling;
  uint32_t ClockPrescaler;
} UART_InitTypeDef;

typedef struct {
  uint32_t AdvFeatureInit;
} UART_AdvFeatureInitTypeDef;

typedef struct __UART_HandleTypeDef {
  USART_TypeDef* Instance;
  UART_InitTypeDef Init;
  UART_AdvFeatureInitTypeDef AdvancedInit;
  uint8_t* pRxBuffPtr;
  uint16_t RxXferSize;
  volatile uint16_t RxXferCount;
  volatile HAL_UART_RxTypeTypeDef ReceptionType;
  volatile HAL_UART_RxEventTypeTypeDef RxEventType;
  DMA_HandleTypeDef* hdmatx;
  DMA_HandleTypeDef* hdmarx;
  HAL_LockTypeDef Lock;
  volatile HAL_UART_StateTypeDef gState;
  volatile HAL_UART_StateTypeDef RxState;
  volatile uint32_t ErrorCode;
} UART_HandleTypeDef;

HAL_StatusTypeDef HAL_UART_Init(UART_HandleTypeDef* huart);
HAL_StatusTypeDef HAL_UART_DeInit(UART_HandleTypeDef* huart);
void HAL_UART_MspInit(UART_HandleTypeDef* huart);
void HAL_UART_MspDeInit(UART_HandleTypeDef* huart);
HAL_StatusTypeDef HAL_UART_Transmit(UART_HandleTypeDef* huart, const uint8_t* data, uint16_t size,
                                    uint32_t timeoutMs);
HAL_StatusTypeDef HAL_UARTEx_ReceiveToIdle_DMA(UART_HandleTypeDef* huart, uint8_t* data, uint16_t size);
HAL_UART_RxEventTypeTypeDef HAL_UARTEx_GetRxEventType(const UART_HandleTypeDef* huart);
HAL_StatusTypeDef HAL_UART_AbortReceive(UART_HandleTypeDef* huart);
HAL_StatusTypeDef HAL_UARTEx_SetTxFifoThreshold(UART_HandleTypeDef* huart, uint32_t threshold);
HAL_StatusTypeDef HAL_UARTEx_SetRxFifoThreshold(UART_HandleTypeDef* huart, uint32_t threshold);
HAL_StatusTypeDef HAL_UARTEx_DisableFifoMode(UART_HandleTypeDef* huart);
void HAL_UART_IRQHandler(UART_HandleTypeDef* huart);

// Callbacks the application implements (weak defaults in the backends).
void HAL_UARTEx_RxEventCallback(UART_HandleTypeDef* huart, uint16_t size);
void HAL_UART_ErrorCallback(UART_HandleTypeDef* huart);

#ifdef __cplusplus
}
#endif
