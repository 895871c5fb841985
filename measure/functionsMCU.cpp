// Supply, reference and temperature measurements, battery state of charge, chip identity.
#include "functionsMCU.h"

#include <cmath>

#include "Debug.h"
#include "DemoShellFormat.h"
#include "MCUState.h"
#include "gstate.h"
#include "main.h"

const std::array<TablePoint, 12> VBAT_SOC_TABLE = {{
    {2.8f, 0.0f},
    {2.9f, 0.03f},
    {3.0f, 0.1f},
    {3.2f, 0.2f},
    {3.22f, 0.3f},
    {3.25f, 0.4f},
    {3.26f, 0.5f},
    {3.27f, 0.6f},
    {3.3f, 0.7f},
    {3.32f, 0.8f},
    {3.35f, 0.9f},
    {3.4f, 1.0f},
}};

namespace {

constexpr uint32_t kPollTimeoutMs = 32;
constexpr float kTempSlopeMvPerC = 2.5f;
constexpr float kSocTempCoeffVPerC = 0.003f;

void reinitAndCalibrate(ADC_HandleTypeDef* hadc) {
  if (HAL_ADC_DeInit(hadc) != HAL_OK || HAL_ADC_Init(hadc) != HAL_OK) Error_Handler();
  if (HAL_ADCEx_Calibration_Start(hadc) != HAL_OK) Error_Handler();
}

// One oversampled conversion (mean of 16, still 12 bits) of an internal channel, with the
// converter's own set-up restored afterwards.
uint16_t readInternalChannel(uint32_t channel) {
  ADC_HandleTypeDef* hadc = mcustate().hadc1;
  if (hadc == nullptr) return 0;
  const ADC_InitTypeDef saved = hadc->Init;
  hadc->Init.ScanConvMode = ADC_SCAN_DISABLE;
  hadc->Init.ContinuousConvMode = DISABLE;
  hadc->Init.NbrOfConversion = 1;
  hadc->Init.OversamplingMode = ENABLE;
  hadc->Init.Oversampling.Ratio = ADC_OVERSAMPLING_RATIO_16;
  hadc->Init.Oversampling.RightBitShift = ADC_RIGHTBITSHIFT_4;
  hadc->Init.Oversampling.TriggeredMode = ADC_TRIGGEREDMODE_SINGLE_TRIGGER;
  reinitAndCalibrate(hadc);

  ADC_ChannelConfTypeDef cfg{};
  cfg.Channel = channel;
  cfg.Rank = ADC_RANK_CHANNEL_NUMBER;
  cfg.SamplingTime = ADC_SAMPLINGTIME_COMMON_1;
  if (HAL_ADC_ConfigChannel(hadc, &cfg) != HAL_OK) Error_Handler();

  (void)HAL_ADC_Start(hadc);
  (void)HAL_ADC_PollForConversion(hadc, kPollTimeoutMs);  // a time-out still reads the register
  HAL_Delay(1);
  const uint16_t reading = static_cast<uint16_t>(HAL_ADC_GetValue(hadc));
  (void)HAL_ADC_Stop(hadc);

  hadc->Init = saved;
  reinitAndCalibrate(hadc);
  return reading;
}

}  // namespace

void calibrateVRef() {
  const uint16_t reading = readInternalChannel(ADC_CHANNEL_VREFINT);
  GState& g = setGstate();
  // A zero reading (dead converter) would make the supply infinite: keep the previous value.
  if (reading != 0) g.adc.VRef = static_cast<float>(HAL_ADCEx_GetVrefintCal()) * 3.0f / static_cast<float>(reading);
  const float mv = g.adc.VRef * 1000.0f;
  const int16_t mvShown = std::fabs(mv) < 2.0e9f ? static_cast<int16_t>(static_cast<int32_t>(mv)) : 0;
  debugV2("VRef Calibration, read %d (0x%04X) VDDA estimated at (%d) mV", static_cast<int>(reading),
          static_cast<unsigned>(reading), static_cast<int>(mvShown));
}

float getTemperature() {
  const uint16_t reading = readInternalChannel(ADC_CHANNEL_TEMPSENSOR);
  const float t = convertToTemperature(reading);
  // Cut as the reports cut it: a value between -1 and 0 keeps its minus sign.
  const ShellFmt::SplitText s = ShellFmt::split(t, 3);
  debugV2("Temperature: %s.%03lu\n", s.integer, s.decimal);
  return t;
}

float convertToTemperature(uint16_t adcValue) {
  const float cal30 = static_cast<float>(HAL_ADCEx_GetTsCal1());
  const float sensorMv = toV(static_cast<int32_t>(adcValue)) * 1000.0f;
  const float calMv = cal30 * (3.0f / 4096.0f) * 1000.0f;
  return (sensorMv - calMv) / kTempSlopeMvPerC + 30.0f;
}

float getStateOfCharge(float vbatV, float tempCelsius) {
  const float v = vbatV + (25.0f - tempCelsius) * kSocTempCoeffVPerC;
  const float soc = interpolateFromTable(VBAT_SOC_TABLE.data(), VBAT_SOC_TABLE.size(), v);
  if (soc < 0.0f) return 0.0f;
  if (soc > 1.0f) return 1.0f;
  return soc;
}

void readSupplyAtStart() {
  debug("boot: calibrating vref");
  calibrateVRef();
  debug("boot: reading temperature");
  setGstate().temperature = getTemperature();
  setMCUGstate().SoC = getStateOfCharge(gstate().adc.VRef, gstate().temperature);
}

std::array<uint32_t, 3> readChipID() { return {HAL_GetUIDw0(), HAL_GetUIDw1(), HAL_GetUIDw2()}; }
