// Serial peripheral interface (SPI1, master): blocking transmit and receive with timeouts, as the
// radio bus uses them.
#pragma once

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SPI_MODE_SLAVE 0x00000000U
#define SPI_MODE_MASTER 0x00000104U  // MSTR | SSI

#define SPI_DIRECTION_2LINES 0x00000000U
#define SPI_DIRECTION_2LINES_RXONLY 0x00000400U
#define SPI_DIRECTION_1LINE 0x00008000U

#define SPI_DATASIZE_4BIT 0x00000300U
#define SPI_DATASIZE_8BIT 0x00000700U
#define SPI_DATASIZE_16BIT 0x00000F00U

#define SPI_POLARITY_LOW 0x00000000U
#define SPI_POLARITY_HIGH 0x00000002U
#define SPI_PHASE_1EDGE 0x00000000U
#define SPI_PHASE_2EDGE 0x00000001U

#define SPI_NSS_SOFT 0x00000200U
#define SPI_NSS_HARD_INPUT 0x00000000U
#define SPI_NSS_HARD_OUTPUT 0x00040000U

#define SPI_BAUDRATEPRESCALER_2 0x00000000U
#define SPI_BAUDRATEPRESCALER_4 0x00000008U
#define SPI_BAUDRATEPRESCALER_8 0x00000010U
#define SPI_BAUDRATEPRESCALER_16 0x00000018U
#define SPI_BAUDRATEPRESCALER_32 0x00000020U
#define SPI_BAUDRATEPRESCALER_64 0x00000028U
#define SPI_BAUDRATEPRESCALER_128 0x00000030U
#define SPI_BAUDRATEPRESCALER_256 0x00000038U

#define SPI_FIRSTBIT_MSB 0x00000000U
#define SPI_FIRSTBIT_LSB 0x00000080U
#define SPI_TIMODE_DISABLE 0x00000000U
#define SPI_TIMODE_ENABLE 0x00000010U
#define SPI_CRCCALCULATION_DISABLE 0x00000000U
#define SPI_CRCCALCULATION_ENABLE 0x00002000U
#define SPI_CRC_LENGTH_DATASIZE 0x00000000U
#define SPI_CRC_LENGTH_8BIT 0x00000001U
#define SPI_CRC_LENGTH_16BIT 0x00000002U
#define SPI_NSS_PULSE_DISABLE 0x00000000U
#define SPI_NSS_PULSE_ENABLE 0x00000008U

#define HAL_SPI_ERROR_NONE 0x00000000U
#define HAL_SPI_ERROR_MODF 0x00000001U
#define HAL_SPI_ERROR_OVR 0x00000004U
#define HAL_SPI_ERROR_FLAG 0x00000020U
#define HAL_SPI_ERROR_TIMEOUT 0x00000080U

typedef enum {
  HAL_SPI_STATE_RESET = 0x00U,
  HAL_SPI_STATE_READY = 0x01U,
  HAL_SPI_STATE_BUSY = 0x02U,
  HAL_SPI_STATE_BUSY_TX = 0x03U,
  HAL_SPI_STATE_BUSY_RX = 0x04U,
  HAL_SPI_STATE_BUSY_TX_RX = 0x05U,
  HAL_SPI_STATE_ERROR = 0x06U,
} HAL_SPI_StateTypeDef;

typedef struct {
  uint32_t Mode;
  uint32_t Direction;
  uint32_t DataSize;
  uint32_t CLKPolarity;
  uint32_t CLKPhase;
  uint32_t NSS;
  uint32_t BaudRatePrescaler;
  uint32_t FirstBit;
  uint32_t TIMode;
  uint32_t CRCCalculation;
  uint32_t CRCPolynomial;
  uint32_t CRCLength;
  uint32_t NSSPMode;
} SPI_InitTypeDef;

typedef struct __SPI_HandleTypeDef {
  SPI_TypeDef* Instance;
  SPI_InitTypeDef Init;
  HAL_LockTypeDef Lock;
  volatile HAL_SPI_StateTypeDef State;
  volatile uint32_t ErrorCode;
} SPI_HandleTypeDef;

HAL_StatusTypeDef HAL_SPI_Init(SPI_HandleTypeDef* hspi);
HAL_StatusTypeDef HAL_SPI_DeInit(SPI_HandleTypeDef* hspi);
void HAL_SPI_MspInit(SPI_HandleTypeDef* hspi);
void HAL_SPI_MspDeInit(SPI_HandleTypeDef* hspi);
// Blocking transfers; each fails with HAL_TIMEOUT when it has not finished after timeoutMs.
// Receive in full-duplex master mode clocks out the buffer's current contents while it reads.
HAL_StatusTypeDef HAL_SPI_Transmit(SPI_HandleTypeDef* hspi, const uint8_t* data, uint16_t size, uint32_t timeoutMs);
HAL_StatusTypeDef HAL_SPI_Receive(SPI_HandleTypeDef* hspi, uint8_t* data, uint16_t size, uint32_t timeoutMs);
HAL_StatusTypeDef HAL_SPI_TransmitReceive(SPI_HandleTypeDef* hspi, const uint8_t* txData, uint8_t* rxData,
                                          uint16_t size, uint32_t timeoutMs);

#ifdef __cplusplus
}
#endif
