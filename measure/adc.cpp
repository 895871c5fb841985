// ADC acquisition: back-to-back scans of four channels into GState's capture by DMA.
#include "adc.h"

#include <cstdio>

#include "Debug.h"
#include "MCUState.h"
#include "functions.h"
#include "gstate.h"
#include "main.h"
#include "sleep.h"

namespace {

constexpr uint32_t kRangeSettleMs = 5;
constexpr uint16_t kHpBurden = ClampParam::hpRes;
constexpr uint16_t kLpBurden = ClampParam::lpRes;
constexpr uint32_t kScanUsPerRow = 346;  // four conversions of 173 ADC clocks at 2 MHz
constexpr uint32_t kScanMarginMs = 10;

void configureChannel(ADC_HandleTypeDef* hadc, uint32_t channel) {
  ADC_ChannelConfTypeDef cfg{};
  cfg.Channel = channel;
  cfg.Rank = ADC_RANK_CHANNEL_NUMBER;
  cfg.SamplingTime = ADC_SAMPLINGTIME_COMMON_1;
  if (HAL_ADC_ConfigChannel(hadc, &cfg) != HAL_OK) Error_Handler();
}

// Sleep until the DMA-complete interrupt has set the flag. Interrupts are masked around the
// check so that a completion in between still ends the sleep at once. The completion may never
// come (an overrun stops the converter's DMA requests): the wait ends at twice the capture's
// length plus a margin, on the millisecond tick, whose interrupt also ends each sleep.
bool waitForScan(uint16_t sample) {
  const uint32_t limitMs = 2u * (static_cast<uint32_t>(sample) * kScanUsPerRow / 1000u) + kScanMarginMs;
  const uint32_t start = HAL_GetTick();
  while (!mcustate().adcReady) {
    if (HAL_GetTick() - start > limitMs) return false;
    __disable_irq();
    if (!mcustate().adcReady) __WFI();
    __enable_irq();
  }
  return true;
}

bool clampRead(const DPinH& opto, uint16_t burden, uint32_t clampChannel, uint32_t ch4, bool quick) {
  const MCUState::Pin& pins = mcustate().pin;
  opto.setOn();
  delayMsLowPower(kRangeSettleMs);
  GState& g = setGstate();
  g.adc.buf.size2use = quick ? ADCParam::NSAMPLES_QUICK : ADCParam::NSAMPLES;
  if (g.bField.chan != nullptr) g.bField.chan->burdenResistor = burden;
  const bool complete = ADCScan(clampChannel, pins.adc.bFieldLow, pins.adc.eField, ch4, g.adc.buf.size2use);
  opto.setOff();
  return complete;
}

void printInfoInt(const char* name, long value) { debugV2("  %-24s: %12ld\n", name, value); }

void printInfoFixed(const char* name, float value, uint8_t digits) {
  const SplitFloat s = splitFloat6(value, digits);
  if (digits == 3)
    debugV2("  %-24s: %12d.%03d\n", name, static_cast<int>(s.integer), static_cast<int>(s.decimal));
  else
    debugV2("  %-24s: %12d.%06d\n", name, static_cast<int>(s.integer), static_cast<int>(s.decimal));
}

}  // namespace

bool ADCScan(uint32_t ch1, uint32_t ch2, uint32_t ch3, uint32_t ch4, uint16_t sample) {
  ADC_HandleTypeDef* hadc = mcustate().hadc1;
  ADCBufT& buf = setGstate().adc.buf;
  if (hadc == nullptr) {  // before bring-up there is no converter to run
    buf.size2use = 0;
    return false;
  }
  // The DMA must never write past the buffer.
  if (sample > ADCBufT::capacity()) sample = ADCBufT::capacity();

  if (HAL_ADC_GetState(hadc) != HAL_ADC_STATE_READY) {
    (void)HAL_ADC_Stop_DMA(hadc);
    (void)HAL_ADC_Stop(hadc);
  }
  buf.clear();

  if (HAL_ADC_DeInit(hadc) != HAL_OK || HAL_ADC_Init(hadc) != HAL_OK) Error_Handler();
  if (HAL_ADCEx_Calibration_Start(hadc) != HAL_OK) Error_Handler();
  const uint32_t channels[4] = {ch1, ch2, ch3, ch4};
  for (uint32_t ch : channels) configureChannel(hadc, ch);

  setMCUGstate().adcReady = false;
  if (sample == 0) return true;  // nothing asked: no transfer to start or wait for
  // Four half-words per scan row.
  if (HAL_ADC_Start_DMA(hadc, reinterpret_cast<uint32_t*>(buf.rows.data()), static_cast<uint32_t>(sample) * 4u) !=
      HAL_OK) {
    debug("ADC scan: start failed, capture left empty");  // waiting would never end
  } else {
    const bool complete = waitForScan(sample);
    (void)HAL_ADC_Stop(hadc);
    (void)HAL_ADC_Stop_DMA(hadc);
    if (complete) return true;
    debug("ADC scan: no end of capture (DMA stalled), capture incomplete");
  }
  // The rows before the stall would read as a far smaller signal: the capture counts as empty.
  buf.size2use = 0;
  return false;
}

bool captureComplete() { return gstate().adc.buf.size2use != 0; }

bool ADCRead_HP(bool quick) {
  const MCUState::Pin& pins = mcustate().pin;
  return clampRead(pins.switch_.optoHP, kHpBurden, pins.adc.bFieldHP, pins.adc.scanCh4Hp, quick);
}

bool ADCRead_LP(bool quick) {
  const MCUState::Pin& pins = mcustate().pin;
  return clampRead(pins.switch_.optoLP, kLpBurden, pins.adc.bFieldLP, pins.adc.scanCh4Lp, quick);
}

extern "C" void HAL_ADC_ConvCpltCallback(ADC_HandleTypeDef*) { setMCUGstate().adcReady = true; }

void printADCInfo() {
  debug("ADC Info:\n");
  printInfoInt("ADC_NUM_CHANNELS", static_cast<long>(ADCParam::NUM_CHANNELS));
  printInfoInt("ADC_CLOCK_HZ", static_cast<long>(ADCParam::CLOCK_HZ));
  printInfoFixed("CYCLES_PER_CHANNEL", ADCParam::CYCLES_PER_CHANNEL, 3);
  printInfoFixed("TIME_PER_CHANNEL_S", ADCParam::TIME_PER_CHANNEL_S, 6);
  printInfoFixed("TIME_PER_FULL_SCAN_S", ADCParam::TIME_PER_FULL_SCAN_S, 6);
  printInfoFixed("ADC_EFF_FREQ_HZ", ADCParam::EFF_FREQ_HZ, 3);
  printInfoFixed("SAMPLES_PER_AC_CYCLE", ADCParam::SAMPLES_PER_AC_CYCLE, 3);
  printInfoFixed("ADC_Tot_Time", ADCParam::Tot_Time, 3);
}

void debugADCBuffer() {
  const ADCBufT& buf = gstate().adc.buf;
  debug("=== ADC Raw Values ===");
  debug("   n    Raw1   (mV)     Raw2   (mV)     DBChan   (mV)     Raw3   (mV)     Raw4   (mV)");
  const uint16_t n = buf.size2use <= ADCBufT::capacity() ? buf.size2use : ADCBufT::capacity();
  char line[kFormatBufferSize];
  for (uint16_t i = 0; i < n; ++i) {
    const ADCStruct& r = buf[i];
    const int len = std::snprintf(
        line, sizeof line, "%4d    %4d (%5d)    %4d (%5d)    %5d (%5d)    %4d (%5d)    %4d (%5d)", static_cast<int>(i),
        r.bFieldH, static_cast<int>(tomV(r.bFieldH)), r.bFieldL, static_cast<int>(tomV(r.bFieldL)), r.getBFieldV(),
        static_cast<int>(tomV(r.getBFieldV())), r.eFieldInd, static_cast<int>(tomV(r.eFieldInd)), r.eFieldCap,
        static_cast<int>(tomV(r.eFieldCap)));
    if (len > 0) printRaw(line, len < static_cast<int>(sizeof line) ? len : static_cast<int>(sizeof line) - 1);
  }
  debug("=== END ADC Raw Values ===");
}
