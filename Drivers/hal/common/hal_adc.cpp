// ADC: the handle's states at the end of a sequence of conversions, and the DMA channel's events
// of a capture (completion and its callback, transfer error).
// The converter's set-up and control are the backend's.
#include "hal_backend_ops.h"

void halAdcConversionsDone(ADC_HandleTypeDef* hadc) {
  hadc->State = hadc->State | HAL_ADC_STATE_REG_EOC;
  if (hadc->Init.ContinuousConvMode != ENABLE) {
    hadc->State = (hadc->State & ~HAL_ADC_STATE_REG_BUSY) | HAL_ADC_STATE_READY;
  }
}

namespace {

// The DMA channel's end of transfer: the conversions are done, then the callback.
void adcDmaComplete(DMA_HandleTypeDef* hdma) {
  auto* hadc = static_cast<ADC_HandleTypeDef*>(hdma->Parent);
  if (hadc == nullptr) return;
  halAdcConversionsDone(hadc);
  HAL_ADC_ConvCpltCallback(hadc);
}

// A transfer error: the handle says so; the reading that waits for completion times out.
void adcDmaError(DMA_HandleTypeDef* hdma) {
  auto* hadc = static_cast<ADC_HandleTypeDef*>(hdma->Parent);
  if (hadc != nullptr) hadc->State = hadc->State | HAL_ADC_STATE_ERROR_DMA;
}

}  // namespace

void halAdcHookDma(ADC_HandleTypeDef* hadc) {
  DMA_HandleTypeDef* hdma = hadc->DMA_Handle;
  hdma->Parent = hadc;
  hdma->XferCpltCallback = adcDmaComplete;
  hdma->XferHalfCpltCallback = nullptr;
  hdma->XferErrorCallback = adcDmaError;
}

extern "C" uint32_t HAL_ADC_GetState(ADC_HandleTypeDef* hadc) {
  return hadc == nullptr ? HAL_ADC_STATE_RESET : hadc->State;
}
