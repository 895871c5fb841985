// Real-time clock: initialisation, wake-up timer, and the backup registers of its domain.
#pragma once

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

#define RTC_HOURFORMAT_24 0x00000000U
#define RTC_HOURFORMAT_12 0x00000040U
#define RTC_OUTPUT_DISABLE 0x00000000U
#define RTC_OUTPUT_REMAP_NONE 0x00000000U
#define RTC_OUTPUT_POLARITY_HIGH 0x00000000U
#define RTC_OUTPUT_TYPE_OPENDRAIN 0x40000000U  // RTC_CR TAMPALRM_TYPE
#define RTC_OUTPUT_TYPE_PUSHPULL 0x00000000U
#define RTC_OUTPUT_PULLUP_NONE 0x00000000U

// Wake-up timer clock (RTC_CR WUCKSEL).
#define RTC_WAKEUPCLOCK_RTCCLK_DIV16 0x00000000U
#define RTC_WAKEUPCLOCK_RTCCLK_DIV8 0x00000001U
#define RTC_WAKEUPCLOCK_RTCCLK_DIV4 0x00000002U
#define RTC_WAKEUPCLOCK_RTCCLK_DIV2 0x00000003U
#define RTC_WAKEUPCLOCK_CK_SPRE_16BITS 0x00000004U
#define RTC_WAKEUPCLOCK_CK_SPRE_17BITS 0x00000006U

// Backup registers (TAMP_BKPxR) of the STM32G070.
#define RTC_BKP_DR0 0x00U
#define RTC_BKP_DR1 0x01U
#define RTC_BKP_DR2 0x02U
#define RTC_BKP_DR3 0x03U
#define RTC_BKP_DR4 0x04U
#define RTC_BKP_NUMBER 5U

typedef enum {
  HAL_RTC_STATE_RESET = 0x00U,
  HAL_RTC_STATE_READY = 0x01U,
  HAL_RTC_STATE_BUSY = 0x02U,
  HAL_RTC_STATE_TIMEOUT = 0x03U,
  HAL_RTC_STATE_ERROR = 0x04U,
} HAL_RTCStateTypeDef;

typedef struct {
  uint32_t HourFormat;
  uint32_t AsynchPrediv;  // 0..127
  uint32_t SynchPrediv;   // 0..32767
  uint32_t OutPut;
  uint32_t OutPutRemap;
  uint32_t OutPutPolarity;
  uint32_t OutPutType;
  uint32_t OutPutPullUp;
} RTC_InitTypeDef;

typedef struct __RTC_HandleTypeDef {
  RTC_TypeDef* Instance;
  RTC_InitTypeDef Init;
  HAL_LockTypeDef Lock;
  volatile HAL_RTCStateTypeDef State;
} RTC_HandleTypeDef;

HAL_StatusTypeDef HAL_RTC_Init(RTC_HandleTypeDef* hrtc);
void HAL_RTC_MspInit(RTC_HandleTypeDef* hrtc);
// Backup register access; writes need backup-domain access (HAL_PWR_EnableBkUpAccess).
void HAL_RTCEx_BKUPWrite(RTC_HandleTypeDef* hrtc, uint32_t BackupRegister, uint32_t Data);
uint32_t HAL_RTCEx_BKUPRead(RTC_HandleTypeDef* hrtc, uint32_t BackupRegister);
// Arms the wake-up timer with its interrupt: the wake-up event comes after WakeUpCounter + 1
// periods of WakeUpClock. Fails on an RTC that has not been initialised.
HAL_StatusTypeDef HAL_RTCEx_SetWakeUpTimer_IT(RTC_HandleTypeDef* hrtc, uint32_t WakeUpCounter, uint32_t WakeUpClock);
HAL_StatusTypeDef HAL_RTCEx_DeactivateWakeUpTimer(RTC_HandleTypeDef* hrtc);

#ifdef __cplusplus
}
#endif
