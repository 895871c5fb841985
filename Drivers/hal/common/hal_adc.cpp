// ADC: the handle's states at the end of a sequence of conversions and the completion callback.
// The converter's set-up and control are the backend's.
#include "hal_backend_ops.h"

void halAdcConversionsDone(ADC_HandleTypeDef* hadc) {
  hadc->State = hadc->State | HAL_ADC_STATE_REG_EOC;
  if (hadc->Init.ContinuousConvMode != ENABLE) {
    hadc->State = (hadc->State & ~HAL_ADC_STATE_REG_BUSY) | HAL_ADC_STATE_READY;
  }
}

void halAdcDmaComplete(ADC_HandleTypeDef* hadc) {
  halAdcConversionsDone(hadc);
  HAL_ADC_ConvCpltCallback(hadc);
}

extern "C" uint32_t HAL_ADC_GetState(ADC_HandleTypeDef* hadc) {
  return hadc == nullptr ? HAL_ADC_STATE_RESET : hadc->State;
}
