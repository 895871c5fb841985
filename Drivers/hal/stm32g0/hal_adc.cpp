// ADC1 of the STM32G070 (reference manual, analog-to-digital converter): regulator, enable and
// disable, self-calibration, fixed-order channel selection, oversampling, regular conversions by
// polling or into memory through DMA1 channel 1 (its DMAMUX request and channel settings come
// from HAL_DMA_Init in the MSP), the internal channels, factory calibration words, unique ID.
#include "hal_backend.h"
#include "hal_backend_ops.h"

namespace {

constexpr uint32_t kStepTimeoutMs = 2;      // every bit the hardware clears does so within microseconds
constexpr uint32_t kRegulatorStartUs = 20;  // tADCVREG_STUP
constexpr uint32_t kSensorStartUs = 10;     // temperature sensor / reference buffer start-up

// Spin for at least `us` microseconds (shorter than one tick): about four cycles per loop.
void spinUs(uint32_t us) {
  const uint32_t loops = (HAL_RCC_GetHCLKFreq() / 1000000u + 1u) * us / 4u + 1u;
  volatile uint32_t i = 0;
  while (i < loops) i = i + 1u;
}

bool waitBits(const volatile uint32_t& reg, uint32_t mask, uint32_t want) {
  return regWait(reg, mask, want, kStepTimeoutMs) == HAL_OK;
}

bool validHandle(const ADC_HandleTypeDef* hadc) { return hadc != nullptr && hadc->Instance == ADC1; }

bool stopConversion(ADC_TypeDef* adc) {
  if ((adc->CR & ADC_CR_ADSTART) == 0) return true;
  regSet(adc->CR, ADC_CR_ADSTP);
  return waitBits(adc->CR, ADC_CR_ADSTART, 0);
}

bool disable(ADC_TypeDef* adc) {
  if (!stopConversion(adc)) return false;
  if ((adc->CR & ADC_CR_ADEN) == 0) return true;
  regSet(adc->CR, ADC_CR_ADDIS);
  if (!waitBits(adc->CR, ADC_CR_ADEN, 0)) return false;
  adc->ISR = ADC_ISR_ADRDY;
  return true;
}

bool enable(ADC_TypeDef* adc) {
  if (adc->CR & ADC_CR_ADEN) return true;
  adc->ISR = ADC_ISR_ADRDY;
  regSet(adc->CR, ADC_CR_ADEN);
  return waitBits(adc->ISR, ADC_ISR_ADRDY, ADC_ISR_ADRDY);
}

// Starts the regular sequence after clearing the flags of the previous one.
bool startRegular(ADC_HandleTypeDef* hadc) {
  ADC_TypeDef* adc = hadc->Instance;
  if (!enable(adc)) return false;
  adc->ISR = ADC_ISR_EOC | ADC_ISR_EOS | ADC_ISR_OVR | ADC_ISR_EOSMP;
  regSet(adc->CR, ADC_CR_ADSTART);
  return true;
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_ADC_Init(ADC_HandleTypeDef* hadc) {
  if (!validHandle(hadc)) return HAL_ERROR;
  const ADC_InitTypeDef& init = hadc->Init;
  if (hadc->State == HAL_ADC_STATE_RESET) {
    hadc->Lock = HAL_UNLOCKED;
    HAL_ADC_MspInit(hadc);
  }
  ADC_TypeDef* adc = hadc->Instance;
  if (adc->CR & ADC_CR_ADSTART) {
    hadc->State = hadc->State | HAL_ADC_STATE_ERROR_INTERNAL;
    return HAL_ERROR;
  }
  if ((adc->CR & ADC_CR_ADVREGEN) == 0) {
    adc->CR = ADC_CR_ADVREGEN;
    spinUs(kRegulatorStartUs);
  }
  // The configuration registers take writes only while the converter is disabled.
  if (!disable(adc)) {
    hadc->State = HAL_ADC_STATE_ERROR_INTERNAL;
    return HAL_ERROR;
  }
  if (init.ScanConvMode > ADC_SCAN_SEQ_FIXED_BACKWARD || init.SamplingTimeCommon1 > 7u ||
      init.SamplingTimeCommon2 > 7u || (init.Resolution & ~ADC_CFGR1_RES) != 0u) {
    hadc->State = HAL_ADC_STATE_ERROR_CONFIG;
    return HAL_ERROR;
  }
  uint32_t cfgr1 = init.Resolution | init.DataAlign | init.Overrun;
  if (init.ScanConvMode == ADC_SCAN_SEQ_FIXED_BACKWARD) cfgr1 |= ADC_CFGR1_SCANDIR;
  if (init.ContinuousConvMode == ENABLE) cfgr1 |= ADC_CFGR1_CONT;
  if (init.DiscontinuousConvMode == ENABLE) cfgr1 |= ADC_CFGR1_DISCEN;
  if (init.LowPowerAutoWait == ENABLE) cfgr1 |= ADC_CFGR1_WAIT;
  if (init.LowPowerAutoPowerOff == ENABLE) cfgr1 |= ADC_CFGR1_AUTOFF;
  if (init.DMAContinuousRequests == ENABLE) cfgr1 |= ADC_CFGR1_DMACFG;
  adc->CFGR1 = cfgr1;  // software trigger, channel bit field (fixed order)

  uint32_t cfgr2 = (init.ClockPrescaler & ADC_CFGR2_CKMODE) | (init.TriggerFrequencyMode & ADC_CFGR2_LFTRIG);
  if (init.OversamplingMode == ENABLE) {
    cfgr2 |= ADC_CFGR2_OVSE | (init.Oversampling.Ratio & ADC_CFGR2_OVSR) |
             (init.Oversampling.RightBitShift & ADC_CFGR2_OVSS) | (init.Oversampling.TriggeredMode & ADC_CFGR2_TOVS);
  }
  adc->CFGR2 = cfgr2;
  adc->SMPR = (init.SamplingTimeCommon1 << ADC_SMPR_SMP1_Pos) | (init.SamplingTimeCommon2 << ADC_SMPR_SMP2_Pos);
  hadc->ErrorCode = 0;
  hadc->State = HAL_ADC_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_DeInit(ADC_HandleTypeDef* hadc) {
  if (!validHandle(hadc)) return HAL_ERROR;
  ADC_TypeDef* adc = hadc->Instance;
  const bool stopped = disable(adc);
  adc->IER = 0;
  adc->ISR = 0xFFFFFFFFu;
  adc->CFGR1 = 0;
  adc->CFGR2 = 0;
  adc->SMPR = 0;
  adc->CHSELR = 0;
  adc->CR = 0;  // regulator off: the calibration factor is lost with it
  regClear(ADC1_COMMON->CCR, ADC_CCR_TSEN | ADC_CCR_VREFEN | ADC_CCR_VBATEN);
  HAL_ADC_MspDeInit(hadc);
  hadc->ErrorCode = 0;
  hadc->State = HAL_ADC_STATE_RESET;
  return stopped ? HAL_OK : HAL_ERROR;
}

HAL_StatusTypeDef HAL_ADCEx_Calibration_Start(ADC_HandleTypeDef* hadc) {
  if (!validHandle(hadc) || hadc->State == HAL_ADC_STATE_RESET) return HAL_ERROR;
  ADC_TypeDef* adc = hadc->Instance;
  // Calibration runs with the converter disabled and its DMA requests off.
  if (!disable(adc)) return HAL_ERROR;
  const uint32_t dma = adc->CFGR1 & (ADC_CFGR1_DMAEN | ADC_CFGR1_DMACFG);
  regClear(adc->CFGR1, ADC_CFGR1_DMAEN | ADC_CFGR1_DMACFG);
  regSet(adc->CR, ADC_CR_ADCAL);
  const bool done = waitBits(adc->CR, ADC_CR_ADCAL, 0);
  regSet(adc->CFGR1, dma);
  if (!done) {
    hadc->State = hadc->State | HAL_ADC_STATE_ERROR_INTERNAL;
    return HAL_ERROR;
  }
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_ConfigChannel(ADC_HandleTypeDef* hadc, ADC_ChannelConfTypeDef* config) {
  if (!validHandle(hadc) || config == nullptr) return HAL_ERROR;
  const uint32_t n = ADC_CHANNEL_NUMBER(config->Channel);
  if (n > 18u || (config->Channel & ADC_CHSELR_CHSEL_ALL) != (1u << n)) return HAL_ERROR;
  if (config->Rank != ADC_RANK_CHANNEL_NUMBER && config->Rank != ADC_RANK_NONE) return HAL_ERROR;
  ADC_TypeDef* adc = hadc->Instance;
  if (adc->CR & ADC_CR_ADSTART) {
    hadc->State = hadc->State | HAL_ADC_STATE_ERROR_CONFIG;
    return HAL_ERROR;
  }
  adc->ISR = ADC_ISR_CCRDY;
  if (config->Rank == ADC_RANK_NONE) {
    regClear(adc->CHSELR, ADC_CHSELR_CHSEL(n));
  } else {
    // Without scan the sequence is this channel alone; in the fixed sequence it joins the others.
    adc->CHSELR =
        hadc->Init.ScanConvMode == ADC_SCAN_DISABLE ? ADC_CHSELR_CHSEL(n) : (adc->CHSELR | ADC_CHSELR_CHSEL(n));
    if (config->SamplingTime == ADC_SAMPLINGTIME_COMMON_2)
      regSet(adc->SMPR, ADC_SMPR_SMPSEL_CH(n));
    else
      regClear(adc->SMPR, ADC_SMPR_SMPSEL_CH(n));
  }
  // The new selection takes effect once the converter flags it ready (only while enabled).
  if (adc->CR & ADC_CR_ADEN) (void)waitBits(adc->ISR, ADC_ISR_CCRDY, ADC_ISR_CCRDY);
  if (config->Rank != ADC_RANK_NONE && (config->Channel & ADC_CHANNEL_ID_INTERNAL)) {
    uint32_t path = 0;
    if (n == ADC_CH_TEMPSENSOR) path = ADC_CCR_TSEN;
    if (n == ADC_CH_VREFINT) path = ADC_CCR_VREFEN;
    if (n == ADC_CH_VBAT) path = ADC_CCR_VBATEN;
    if ((ADC1_COMMON->CCR & path) != path) {
      regSet(ADC1_COMMON->CCR, path);
      spinUs(kSensorStartUs);
    }
  }
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_Start_DMA(ADC_HandleTypeDef* hadc, uint32_t* data, uint32_t length) {
  if (!validHandle(hadc) || data == nullptr || length == 0 || length > DMA_CNDTR_NDT || hadc->DMA_Handle == nullptr)
    return HAL_ERROR;
  ADC_TypeDef* adc = hadc->Instance;
  if (adc->CR & ADC_CR_ADSTART) return HAL_BUSY;
  DMA_HandleTypeDef* hdma = hadc->DMA_Handle;
  halAdcHookDma(hadc);
  if (HAL_DMA_Start_IT(hdma, reinterpret_cast<uint32_t>(&adc->DR), reinterpret_cast<uint32_t>(data), length) != HAL_OK)
    return HAL_ERROR;
  regSet(adc->CFGR1, ADC_CFGR1_DMAEN);
  hadc->State =
      (hadc->State & ~(HAL_ADC_STATE_READY | HAL_ADC_STATE_REG_EOC | HAL_ADC_STATE_REG_OVR)) | HAL_ADC_STATE_REG_BUSY;
  if (!startRegular(hadc)) {
    (void)HAL_DMA_Abort(hdma);
    hadc->State = HAL_ADC_STATE_ERROR_INTERNAL;
    return HAL_ERROR;
  }
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_Stop_DMA(ADC_HandleTypeDef* hadc) {
  if (!validHandle(hadc)) return HAL_ERROR;
  ADC_TypeDef* adc = hadc->Instance;
  const bool stopped = stopConversion(adc);
  if (hadc->DMA_Handle != nullptr) (void)HAL_DMA_Abort(hadc->DMA_Handle);
  regClear(adc->CFGR1, ADC_CFGR1_DMAEN);
  if (!stopped || !disable(adc)) {
    hadc->State = hadc->State | HAL_ADC_STATE_ERROR_INTERNAL;
    return HAL_ERROR;
  }
  hadc->State = HAL_ADC_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_Start(ADC_HandleTypeDef* hadc) {
  if (!validHandle(hadc) || hadc->State == HAL_ADC_STATE_RESET) return HAL_ERROR;
  if (hadc->Instance->CR & ADC_CR_ADSTART) return HAL_BUSY;
  hadc->State = (hadc->State & ~(HAL_ADC_STATE_READY | HAL_ADC_STATE_REG_EOC)) | HAL_ADC_STATE_REG_BUSY;
  if (!startRegular(hadc)) {
    hadc->State = HAL_ADC_STATE_ERROR_INTERNAL;
    return HAL_ERROR;
  }
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_Stop(ADC_HandleTypeDef* hadc) {
  if (!validHandle(hadc)) return HAL_ERROR;
  if (!disable(hadc->Instance)) {
    hadc->State = hadc->State | HAL_ADC_STATE_ERROR_INTERNAL;
    return HAL_ERROR;
  }
  hadc->State = HAL_ADC_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_ADC_PollForConversion(ADC_HandleTypeDef* hadc, uint32_t timeoutMs) {
  if (!validHandle(hadc)) return HAL_ERROR;
  ADC_TypeDef* adc = hadc->Instance;
  const uint32_t flag = hadc->Init.EOCSelection == ADC_EOC_SEQ_CONV ? ADC_ISR_EOS : ADC_ISR_EOC;
  const uint32_t start = HAL_GetTick();
  while ((adc->ISR & flag) == 0) {
    if (timeoutMs != HAL_MAX_DELAY && HAL_GetTick() - start > timeoutMs) {
      if ((adc->ISR & flag) != 0) break;
      hadc->State = hadc->State | HAL_ADC_STATE_TIMEOUT;
      return HAL_TIMEOUT;
    }
  }
  halAdcConversionsDone(hadc);
  return HAL_OK;
}

uint32_t HAL_ADC_GetValue(ADC_HandleTypeDef* hadc) {
  if (!validHandle(hadc)) return 0;
  return hadc->Instance->DR & ADC_DR_DATA;  // reading DR clears EOC
}

uint16_t HAL_ADCEx_GetVrefintCal(void) { return *VREFINT_CAL_ADDR; }
uint16_t HAL_ADCEx_GetTsCal1(void) { return *TS_CAL1_ADDR; }
uint32_t HAL_GetUIDw0(void) { return *reinterpret_cast<const volatile uint32_t*>(UID_BASE); }
uint32_t HAL_GetUIDw1(void) { return *reinterpret_cast<const volatile uint32_t*>(UID_BASE + 4u); }
uint32_t HAL_GetUIDw2(void) { return *reinterpret_cast<const volatile uint32_t*>(UID_BASE + 8u); }

}  // extern "C"
