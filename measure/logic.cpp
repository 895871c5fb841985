// Reading logic and adaptive thresholds.
#include "logic.h"

#include <cmath>

#include "Debug.h"
#include "MCUState.h"
#include "RTCMem.h"
#include "adc.h"
#include "clamp_phase_comp.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "measure_report.h"
#include "sleep.h"

const std::array<TablePoint, 4> currentMultTable = {{{0.0f, 10.0f}, {2.0f, 2.0f}, {5.0f, 1.0f}, {100.0f, 1.0f}}};
const std::array<TablePoint, 5> socMultTable = {
    {{0.0f, 5.0f}, {0.1f, 4.0f}, {0.5f, 2.0f}, {0.85f, 0.5f}, {1.0f, 0.01f}}};
const std::array<TablePoint, 6> stableMultTable = {
    {{0.0f, 10.0f}, {1.0f, 1.0f}, {5.0f, 0.3f}, {10.0f, 0.15f}, {20.0f, 0.05f}, {600.0f, 0.0001f}}};
const std::array<TablePoint, 4> rxDelayBySocTable = {{{0.0f, 3600.0f}, {0.5f, 300.0f}, {0.9f, 60.0f}, {1.0f, 0.0f}}};

namespace {
constexpr uint32_t kFrontEndSettleMs = 20;
constexpr float kMaxBandA = 100.0f;
constexpr THS kEmptyBand{99.0f, -99.0f, -1.0f};
constexpr THS kImpossibleBand{99999.0f, 0.0f, 0.0f};

// A capture that is not whole is taken once more; false when that one is not whole either.
bool captureHP(bool quick) { return ADCRead_HP(quick) || ADCRead_HP(quick); }

// Amperes as whole milliamperes for the log, not cut to 16 bits (a band reaches 100 A); 0 for what
// is no current (negative, NaN).
unsigned long milliamperes(float amperes) {
  const float milli = amperes * 1000.0f;
  return milli > 0.0f && milli < 4.0e9f ? static_cast<unsigned long>(milli) : 0;
}

}  // namespace

float quickRead() {
  if (!captureHP(true)) return NAN;
  Measure& b = setGstate().bField;
  b.reset();
  b.computeRMS();
  return volt2current(b.rmsV, ClampParam::hpRes);
}

void fullRead() {
  const bool complete = captureHP(false);
  mcustate().pin.switch_.stage1.setOff();
  if (!complete) return;  // no values: the capture is empty
  Measure& b = setGstate().bField;
  b.reset();
  b.computeRMS();
  (void)computePowerFast();
  printHighPowerRead(gstate().power.estimatedPower);
}

THS sendThs(float soc, uint8_t stableReadCount, float baselineCurrent, const TablePoint* currentMult,
            size_t currentMultCount, const TablePoint* socMult, size_t socMultCount, const TablePoint* stableMult,
            size_t stableMultCount) {
  const float a = interpolateFromTable(currentMult, currentMultCount, baselineCurrent);
  const float b = interpolateFromTable(socMult, socMultCount, soc);
  const float c = interpolateFromTable(stableMult, stableMultCount, static_cast<float>(stableReadCount));
  THS band;
  band.ths = baselineCurrent * b * c * a;
  band.max = std::fmin(band.ths + baselineCurrent, kMaxBandA);
  band.min = std::fmax(baselineCurrent - band.ths, 0.0f);
  return band;
}

THS sendThs(float soc, uint8_t stableReadCount, float baselineCurrent) {
  if (gstate().config.forceLoraRX) return kImpossibleBand;  // every reading is a full one
  return sendThs(soc, stableReadCount, baselineCurrent, currentMultTable.data(), currentMultTable.size(),
                 socMultTable.data(), socMultTable.size(), stableMultTable.data(), stableMultTable.size());
}

bool enableLoraRX(uint16_t curDelay, float SoC, const TablePoint* rxDelayBySoc, size_t count) {
  return static_cast<float>(curDelay) > interpolateFromTable(rxDelayBySoc, count, SoC);
}

bool enableLoraRX(uint16_t curDelay, float SoC) {
  return enableLoraRX(curDelay, SoC, rxDelayBySocTable.data(), rxDelayBySocTable.size());
}

bool powerReadingLogic(bool force) {
  RTCMem& rtc = rtcMem();
  THS band = kEmptyBand;
  if (!force) {
    const float baseline = static_cast<float>(rtc.firstStableRawCoarseRMSCurrent.get()) / 1000.0f;
    band = sendThs(mcustate().SoC, rtc.stableReadCounter.get(), baseline);
  }
  const Stage1& stage1 = mcustate().pin.switch_.stage1;
  stage1.setOn();
  delayMsLowPower(kFrontEndSettleMs);
  float current = 0.0f;
  if (!force) {
    current = quickRead();
    if (std::isnan(current)) {  // no capture: the run is left as it was
      stage1.setOff();
      return false;
    }
    if (!(current > band.max) && !(band.min > current)) {
      debugV2("QuickRed Curr: %lu  min / max %lu / %lu ", milliamperes(current), milliamperes(band.min),
              milliamperes(band.max));
      rtc.stableReadCounter.add(1);
      stage1.setOff();
      return false;
    }
  }
  // A new stable run starts around this current (none when forced: no quick read was taken).
  rtc.firstStableRawCoarseRMSCurrent.set(tou16(current));
  rtc.stableReadCounter.set(0);
  fullRead();
  stage1.setOff();
  return captureComplete();
}
