// ADC1 of the simulated board, its results moved by the DMA channel of the capture; factory
// calibration words and unique ID.
#include "adc_model.h"
#include "board.h"
#include "hal_backend_ops.h"
#include "hal_dma_channel.h"

namespace {

constexpr double kSampleCycles[8] = {1.5, 3.5, 7.5, 12.5, 19.5, 39.5, 79.5, 160.5};
constexpr uint32_t kRegulatorStartUs = 20;  // ADC voltage regulator start-up
constexpr uint32_t kCalibrationUs = 60;     // self-calibration (about 82 ADC clocks + enable)

sim::Adc& model() { return sim::board().adc(); }

bool validHandle(const ADC_HandleTypeDef* hadc) { return hadc != nullptr && hadc->Instance == ADC1; }

// A converter that never answers, or never stops: the target's step time-out (2 ms of polling)
// passes, then the operation (each begins by stopping or disabling the converter) reports a time-out.
constexpr uint32_t kStepTimeoutUs = 2000;
bool timedOut(ADC_HandleTypeDef* hadc) {
  if (!model().stopStuck()) return false;
  sim::board().busyWait(kStepTimeoutUs);
  hadc->State = hadc->State | HAL_ADC_STATE_ERROR_INTERNAL;
  return true;
}

bool isValidChannel(uint32_t channel) {
  const uint32_t n = ADC_CHANNEL_NUMBER(channel);
  if (n > 18) return false;
  if ((channel & 0x7FFFFu) != (1u << n)) return false;
  const bool internal = (channel & ADC_CHANNEL_ID_INTERNAL) != 0;
  const bool internalNumber = n >= 12 && n <= 14;
  return internal == internalNumber;
}

// Translate the handle's initialisation record into the converter's set-up; false if invalid.
bool setupFrom(const ADC_InitTypeDef& init, sim::AdcSetup& s) {
  const double pclk = static_cast<double>(HAL_RCC_GetPCLK1Freq());
  switch (init.ClockPrescaler) {
    case ADC_CLOCK_SYNC_PCLK_DIV1: s.clockHz = pclk; break;
    case ADC_CLOCK_SYNC_PCLK_DIV2: s.clockHz = pclk / 2; break;
    case ADC_CLOCK_SYNC_PCLK_DIV4: s.clockHz = pclk / 4; break;
    case ADC_CLOCK_ASYNC_DIV1: s.clockHz = 16e6; break;  // HSI16 as the kernel clock
    default: return false;
  }
  switch (init.Resolution) {
    case ADC_RESOLUTION_12B: s.resolutionBits = 12; break;
    case ADC_RESOLUTION_10B: s.resolutionBits = 10; break;
    case ADC_RESOLUTION_8B: s.resolutionBits = 8; break;
    case ADC_RESOLUTION_6B: s.resolutionBits = 6; break;
    default: return false;
  }
  if (init.DataAlign != ADC_DATAALIGN_RIGHT) return false;  // left alignment is not used here
  if (init.ScanConvMode > ADC_SCAN_SEQ_FIXED_BACKWARD) return false;
  if (init.SamplingTimeCommon1 > 7 || init.SamplingTimeCommon2 > 7) return false;
  s.sampleCycles = {kSampleCycles[init.SamplingTimeCommon1], kSampleCycles[init.SamplingTimeCommon2]};
  s.backward = init.ScanConvMode == ADC_SCAN_SEQ_FIXED_BACKWARD;
  s.continuous = init.ContinuousConvMode == ENABLE;
  s.oversampleRatio = 1;
  s.oversampleShift = 0;
  if (init.OversamplingMode == ENABLE) {
    if ((init.Oversampling.Ratio & ~0x1Cu) != 0 || (init.Oversampling.RightBitShift & ~0x1E0u) != 0 ||
        init.Oversampling.RightBitShift > ADC_RIGHTBITSHIFT_8)
      return false;
    s.oversampleRatio = 2 << (init.Oversampling.Ratio >> 2);
    s.oversampleShift = static_cast<int>(init.Oversampling.RightBitShift >> 5);
  }
  return true;
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_ADC_Init(ADC_HandleTypeDef* hadc) {
  sim::board().halCall();
  if (!validHandle(hadc)) return HAL_ERROR;
  if (timedOut(hadc)) return HAL_TIMEOUT;
  if (hadc->State == HAL_ADC_STATE_RESET) {
    hadc->Lock = HAL_UNLOCKED;
    HAL_ADC_MspInit(hadc);
  }
  if (model().running()) {
    hadc->State = hadc->State | HAL_ADC_STATE_ERROR_INTERNAL;
    return HAL_ERROR;
  }
  sim::AdcSetup s;
  if (!setupFrom(hadc->Init, s)) {
    hadc->State = HAL_ADC_STATE_ERROR_CONFIG;
    return HAL_ERROR;
  }
  model().setup(s);
  sim::board().busyWait(kRegulatorStartUs);
  hadc->ErrorCode = 0;
  hadc->State = HAL_ADC_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_DeInit(ADC_HandleTypeDef* hadc) {
  sim::board().halCall();
  if (!validHandle(hadc)) return HAL_ERROR;
  const bool stuck = timedOut(hadc);
  model().reset();  // registers back to reset values; the calibration factor is lost
  HAL_ADC_MspDeInit(hadc);
  hadc->ErrorCode = 0;
  hadc->State = HAL_ADC_STATE_RESET;
  return stuck ? HAL_ERROR : HAL_OK;
}

HAL_StatusTypeDef HAL_ADCEx_Calibration_Start(ADC_HandleTypeDef* hadc) {
  sim::board().halCall();
  if (!validHandle(hadc) || hadc->State == HAL_ADC_STATE_RESET) return HAL_ERROR;
  if (timedOut(hadc)) return HAL_TIMEOUT;
  if (model().running()) {
    hadc->State = hadc->State | HAL_ADC_STATE_ERROR_CONFIG;
    return HAL_ERROR;
  }
  sim::board().busyWait(kCalibrationUs);
  model().calibrate();
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_ConfigChannel(ADC_HandleTypeDef* hadc, ADC_ChannelConfTypeDef* config) {
  sim::board().halCall();
  if (!validHandle(hadc) || config == nullptr || !isValidChannel(config->Channel)) return HAL_ERROR;
  if (config->Rank != ADC_RANK_CHANNEL_NUMBER && config->Rank != ADC_RANK_NONE) return HAL_ERROR;
  if (config->SamplingTime != ADC_SAMPLINGTIME_COMMON_1 && config->SamplingTime != ADC_SAMPLINGTIME_COMMON_2)
    return HAL_ERROR;
  if (model().running()) {
    hadc->State = hadc->State | HAL_ADC_STATE_ERROR_CONFIG;
    return HAL_ERROR;
  }
  const int n = static_cast<int>(ADC_CHANNEL_NUMBER(config->Channel));
  if (config->Rank == ADC_RANK_NONE) {
    model().select(n, false);
    return HAL_OK;
  }
  // Without scan the sequencer holds just this channel; in the fixed sequence it is added.
  if (hadc->Init.ScanConvMode == ADC_SCAN_DISABLE)
    model().selectOnly(n);
  else
    model().select(n, true);
  model().setSamplingTimeSelect(n, config->SamplingTime == ADC_SAMPLINGTIME_COMMON_2 ? 1 : 0);
  if (config->Channel & ADC_CHANNEL_ID_INTERNAL) {
    model().enableInternalPath(n);
    sim::board().busyWait(10);  // sensor / reference buffer start-up
  }
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_Start_DMA(ADC_HandleTypeDef* hadc, uint32_t* data, uint32_t length) {
  sim::board().halCall();
  if (!validHandle(hadc) || data == nullptr || length == 0 || hadc->DMA_Handle == nullptr) return HAL_ERROR;
  if (model().running() || (hadc->State & HAL_ADC_STATE_REG_BUSY)) return HAL_BUSY;
  if (hadc->State == HAL_ADC_STATE_RESET) return HAL_ERROR;
  DMA_HandleTypeDef* hdma = hadc->DMA_Handle;
  halAdcHookDma(hadc);
  if (simDmaStart(hdma, reinterpret_cast<uintptr_t>(data), length) != HAL_OK) return HAL_ERROR;
  hadc->State =
      (hadc->State & ~(HAL_ADC_STATE_READY | HAL_ADC_STATE_REG_EOC | HAL_ADC_STATE_REG_OVR)) | HAL_ADC_STATE_REG_BUSY;
  model().startDma();
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_Stop_DMA(ADC_HandleTypeDef* hadc) {
  sim::board().halCall();
  if (!validHandle(hadc)) return HAL_ERROR;
  if (timedOut(hadc)) return HAL_TIMEOUT;
  model().stop();
  if (hadc->DMA_Handle != nullptr) simDmaAbort(hadc->DMA_Handle);
  hadc->State = HAL_ADC_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_Start(ADC_HandleTypeDef* hadc) {
  sim::board().halCall();
  if (!validHandle(hadc) || hadc->State == HAL_ADC_STATE_RESET) return HAL_ERROR;
  if (model().running()) return HAL_BUSY;
  hadc->State = (hadc->State & ~(HAL_ADC_STATE_READY | HAL_ADC_STATE_REG_EOC)) | HAL_ADC_STATE_REG_BUSY;
  model().startSingle();
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_Stop(ADC_HandleTypeDef* hadc) {
  sim::board().halCall();
  if (!validHandle(hadc)) return HAL_ERROR;
  if (timedOut(hadc)) return HAL_TIMEOUT;
  model().stop();
  hadc->State = HAL_ADC_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_PollForConversion(ADC_HandleTypeDef* hadc, uint32_t timeoutMs) {
  if (!validHandle(hadc)) return HAL_ERROR;
  const uint32_t start = HAL_GetTick();
  // A loop of reads: within the board's quiet span it costs no round over the devices.
  const sim::Adc& flags = sim::board().adcState();
  while (!flags.endOfConversion()) {
    if (!flags.running() || (timeoutMs != HAL_MAX_DELAY && HAL_GetTick() - start > timeoutMs)) {
      hadc->State = hadc->State | HAL_ADC_STATE_TIMEOUT;
      return HAL_TIMEOUT;
    }
    sim::board().busyWait(1);
  }
  halAdcConversionsDone(hadc);
  return HAL_OK;
}

uint32_t HAL_ADC_GetValue(ADC_HandleTypeDef* hadc) {
  sim::board().halCall();
  if (!validHandle(hadc)) return 0;
  return model().readData();
}

uint16_t HAL_ADCEx_GetVrefintCal(void) { return model().factory().vrefintCal; }
uint16_t HAL_ADCEx_GetTsCal1(void) { return model().factory().tsCal1; }
uint32_t HAL_GetUIDw0(void) { return model().factory().uid[0]; }
uint32_t HAL_GetUIDw1(void) { return model().factory().uid[1]; }
uint32_t HAL_GetUIDw2(void) { return model().factory().uid[2]; }

}  // extern "C"
