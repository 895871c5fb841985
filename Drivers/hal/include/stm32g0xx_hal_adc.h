// Analog-to-digital converter (ADC1): regular conversions with DMA or polling, self-calibration,
// oversampling, the internal reference and temperature sensor channels with their factory
// calibration words, and the chip's 96-bit unique ID.
#pragma once

#include "stm32g0xx_hal_def.h"
#include "stm32g0xx_hal_dma.h"

#ifdef __cplusplus
extern "C" {
#endif

// Clock: asynchronous kernel clock, or the synchronous peripheral clock divided (CKMODE).
#define ADC_CLOCK_ASYNC_DIV1 0x00000000U
#define ADC_CLOCK_SYNC_PCLK_DIV1 0xC0000000U
#define ADC_CLOCK_SYNC_PCLK_DIV2 0x40000000U
#define ADC_CLOCK_SYNC_PCLK_DIV4 0x80000000U

#define ADC_RESOLUTION_12B 0x00000000U
#define ADC_RESOLUTION_10B 0x00000008U
#define ADC_RESOLUTION_8B 0x00000010U
#define ADC_RESOLUTION_6B 0x00000018U

#define ADC_DATAALIGN_RIGHT 0x00000000U
#define ADC_DATAALIGN_LEFT 0x00000020U

// Sequencer: one channel, or every selected channel in ascending (fixed) or descending order.
#define ADC_SCAN_DISABLE 0x00000000U
#define ADC_SCAN_SEQ_FIXED 0x00000001U
#define ADC_SCAN_SEQ_FIXED_BACKWARD 0x00000002U

#define ADC_EOC_SINGLE_CONV 0x00000004U
#define ADC_EOC_SEQ_CONV 0x00000008U

#define ADC_SOFTWARE_START 0x00000000U
#define ADC_EXTERNALTRIGCONVEDGE_NONE 0x00000000U

#define ADC_OVR_DATA_PRESERVED 0x00000000U
#define ADC_OVR_DATA_OVERWRITTEN 0x00001000U

#define ADC_TRIGGER_FREQ_HIGH 0x00000000U
#define ADC_TRIGGER_FREQ_LOW 0x20000000U

// Sampling time codes (SMP1/SMP2), in ADC clock cycles.
#define ADC_SAMPLETIME_1CYCLE_5 0U
#define ADC_SAMPLETIME_3CYCLES_5 1U
#define ADC_SAMPLETIME_7CYCLES_5 2U
#define ADC_SAMPLETIME_12CYCLES_5 3U
#define ADC_SAMPLETIME_19CYCLES_5 4U
#define ADC_SAMPLETIME_39CYCLES_5 5U
#define ADC_SAMPLETIME_79CYCLES_5 6U
#define ADC_SAMPLETIME_160CYCLES_5 7U

// A channel converts with one of the two common sampling times.
#define ADC_SAMPLINGTIME_COMMON_1 0x00000000U
#define ADC_SAMPLINGTIME_COMMON_2 0x00000001U

// In the fixed sequence a channel's rank is its number; ADC_RANK_NONE removes the channel.
#define ADC_RANK_CHANNEL_NUMBER 0x00000001U
#define ADC_RANK_NONE 0x00000002U

// Channel selectors: channel number in bits 26..30, the channel's CHSELR bit in bits 0..18,
// bit 31 for the internal channels (their measurement path is switched on when configured).
#define ADC_CHANNEL_SEL(n) ((((uint32_t)(n)) << 26) | (1U << (n)))
#define ADC_CHANNEL_ID_INTERNAL 0x80000000U
#define ADC_CHANNEL_0 ADC_CHANNEL_SEL(0)
#define ADC_CHANNEL_1 ADC_CHANNEL_SEL(1)
#define ADC_CHANNEL_2 ADC_CHANNEL_SEL(2)
#define ADC_CHANNEL_3 ADC_CHANNEL_SEL(3)
#define ADC_CHANNEL_4 ADC_CHANNEL_SEL(4)
#define ADC_CHANNEL_5 ADC_CHANNEL_SEL(5)
#define ADC_CHANNEL_6 ADC_CHANNEL_SEL(6)
#define ADC_CHANNEL_7 ADC_CHANNEL_SEL(7)
#define ADC_CHANNEL_8 ADC_CHANNEL_SEL(8)
#define ADC_CHANNEL_9 ADC_CHANNEL_SEL(9)
#define ADC_CHANNEL_10 ADC_CHANNEL_SEL(10)
#define ADC_CHANNEL_11 ADC_CHANNEL_SEL(11)
#define ADC_CHANNEL_15 ADC_CHANNEL_SEL(15)
#define ADC_CHANNEL_16 ADC_CHANNEL_SEL(16)
#define ADC_CHANNEL_17 ADC_CHANNEL_SEL(17)
#define ADC_CHANNEL_18 ADC_CHANNEL_SEL(18)
#define ADC_CHANNEL_TEMPSENSOR (ADC_CHANNEL_SEL(12) | ADC_CHANNEL_ID_INTERNAL)
#define ADC_CHANNEL_VREFINT (ADC_CHANNEL_SEL(13) | ADC_CHANNEL_ID_INTERNAL)
#define ADC_CHANNEL_VBAT (ADC_CHANNEL_SEL(14) | ADC_CHANNEL_ID_INTERNAL)
// Channel number (0..18) of a selector.
#define ADC_CHANNEL_NUMBER(sel) ((((uint32_t)(sel)) >> 26) & 0x1FU)

// Oversampler: 2^(code+1) conversions accumulated, then shifted right.
#define ADC_OVERSAMPLING_RATIO_2 0x00000000U
#define ADC_OVERSAMPLING_RATIO_4 0x00000004U
#define ADC_OVERSAMPLING_RATIO_8 0x00000008U
#define ADC_OVERSAMPLING_RATIO_16 0x0000000CU
#define ADC_OVERSAMPLING_RATIO_32 0x00000010U
#define ADC_OVERSAMPLING_RATIO_64 0x00000014U
#define ADC_OVERSAMPLING_RATIO_128 0x00000018U
#define ADC_OVERSAMPLING_RATIO_256 0x0000001CU
#define ADC_RIGHTBITSHIFT_NONE 0x00000000U
#define ADC_RIGHTBITSHIFT_1 0x00000020U
#define ADC_RIGHTBITSHIFT_2 0x00000040U
#define ADC_RIGHTBITSHIFT_3 0x00000060U
#define ADC_RIGHTBITSHIFT_4 0x00000080U
#define ADC_RIGHTBITSHIFT_5 0x000000A0U
#define ADC_RIGHTBITSHIFT_6 0x000000C0U
#define ADC_RIGHTBITSHIFT_7 0x000000E0U
#define ADC_RIGHTBITSHIFT_8 0x00000100U
#define ADC_TRIGGEREDMODE_SINGLE_TRIGGER 0x00000000U
#define ADC_TRIGGEREDMODE_MULTI_TRIGGER 0x00000200U

// Handle state bits.
#define HAL_ADC_STATE_RESET 0x00000000U
#define HAL_ADC_STATE_READY 0x00000001U
#define HAL_ADC_STATE_BUSY_INTERNAL 0x00000002U
#define HAL_ADC_STATE_TIMEOUT 0x00000004U
#define HAL_ADC_STATE_ERROR_INTERNAL 0x00000010U
#define HAL_ADC_STATE_ERROR_CONFIG 0x00000020U
#define HAL_ADC_STATE_ERROR_DMA 0x00000040U
#define HAL_ADC_STATE_REG_BUSY 0x00000100U
#define HAL_ADC_STATE_REG_EOC 0x00000200U
#define HAL_ADC_STATE_REG_OVR 0x00000400U

// Factory calibration conditions of the calibration words.
#define VREFINT_CAL_VREF 3000U           // mV of VDDA when VREFINT_CAL was taken
#define TEMPSENSOR_CAL1_TEMP 30          // degrees C of TS_CAL1
#define TEMPSENSOR_CAL_VREFANALOG 3000U  // mV of VDDA when TS_CAL1 was taken

typedef struct {
  uint32_t Ratio;
  uint32_t RightBitShift;
  uint32_t TriggeredMode;
} ADC_OversamplingTypeDef;

typedef struct {
  uint32_t ClockPrescaler;
  uint32_t Resolution;
  uint32_t DataAlign;
  uint32_t ScanConvMode;
  uint32_t EOCSelection;
  FunctionalState LowPowerAutoWait;
  FunctionalState LowPowerAutoPowerOff;
  FunctionalState ContinuousConvMode;
  uint32_t NbrOfConversion;
  FunctionalState DiscontinuousConvMode;
  uint32_t ExternalTrigConv;
  uint32_t ExternalTrigConvEdge;
  FunctionalState DMAContinuousRequests;
  uint32_t Overrun;
  uint32_t SamplingTimeCommon1;
  uint32_t SamplingTimeCommon2;
  FunctionalState OversamplingMode;
  ADC_OversamplingTypeDef Oversampling;
  uint32_t TriggerFrequencyMode;
} ADC_InitTypeDef;

typedef struct {
  uint32_t Channel;
  uint32_t Rank;
  uint32_t SamplingTime;
} ADC_ChannelConfTypeDef;

typedef struct __ADC_HandleTypeDef {
  ADC_TypeDef* Instance;
  ADC_InitTypeDef Init;
  DMA_HandleTypeDef* DMA_Handle;
  HAL_LockTypeDef Lock;
  volatile uint32_t State;
  volatile uint32_t ErrorCode;
} ADC_HandleTypeDef;

HAL_StatusTypeDef HAL_ADC_Init(ADC_HandleTypeDef* hadc);
HAL_StatusTypeDef HAL_ADC_DeInit(ADC_HandleTypeDef* hadc);
void HAL_ADC_MspInit(ADC_HandleTypeDef* hadc);
void HAL_ADC_MspDeInit(ADC_HandleTypeDef* hadc);
HAL_StatusTypeDef HAL_ADCEx_Calibration_Start(ADC_HandleTypeDef* hadc);
HAL_StatusTypeDef HAL_ADC_ConfigChannel(ADC_HandleTypeDef* hadc, ADC_ChannelConfTypeDef* config);
// Regular conversions into memory by DMA: `length` half-words, then the DMA-complete interrupt
// ends in HAL_ADC_ConvCpltCallback.
HAL_StatusTypeDef HAL_ADC_Start_DMA(ADC_HandleTypeDef* hadc, uint32_t* data, uint32_t length);
HAL_StatusTypeDef HAL_ADC_Stop_DMA(ADC_HandleTypeDef* hadc);
HAL_StatusTypeDef HAL_ADC_Start(ADC_HandleTypeDef* hadc);
HAL_StatusTypeDef HAL_ADC_Stop(ADC_HandleTypeDef* hadc);
HAL_StatusTypeDef HAL_ADC_PollForConversion(ADC_HandleTypeDef* hadc, uint32_t timeoutMs);
uint32_t HAL_ADC_GetValue(ADC_HandleTypeDef* hadc);
uint32_t HAL_ADC_GetState(ADC_HandleTypeDef* hadc);
void HAL_ADC_ConvCpltCallback(ADC_HandleTypeDef* hadc);

// The 96-bit unique device identifier, word 0 (bits 0..31) to word 2.
uint32_t HAL_GetUIDw0(void);
uint32_t HAL_GetUIDw1(void);
uint32_t HAL_GetUIDw2(void);

#ifdef __cplusplus
}
#endif
