// Labels of the shell's tables and the tables of measurement results.
#include "DemoShellRender.h"

#include <array>
#include <cstdio>

#include "Debug.h"
#include "DemoShellFormat.h"
#include "gstate.h"
#include "measure_report.h"

const char* yn(bool value) { return value ? "yes" : "no"; }
const char* yesNO(bool value) { return value ? "yes" : "NO"; }

const char* boardRevisionLabel(MCUState::HwRevision revision) {
  switch (revision) {
    case MCUState::HwRevision::R6_1: return "R6_1";
    case MCUState::HwRevision::R10: return "R10";
  }
  return "?";
}

const char* loraBwLabel(uint8_t bw) {
  // Indexed by the radio's bandwidth code; code 7 does not exist.
  static constexpr std::array<const char*, 11> kLabels = {"7.8", "15.6", "31.25", "62.5", "125", "250",
                                                          "500", "?",    "10.4",  "20.8", "41.7"};
  return bw < kLabels.size() ? kLabels[bw] : "?";
}

const char* loraCrLabel(uint8_t cr) {
  static constexpr std::array<const char*, 5> kLabels = {"?", "4/5", "4/6", "4/7", "4/8"};
  return cr < kLabels.size() ? kLabels[cr] : "?";
}

const char* loraRampLabel(uint8_t ramp) {
  static constexpr std::array<const char*, 8> kLabels = {"10 us",  "20 us",  "40 us",   "80 us",
                                                         "200 us", "800 us", "1700 us", "3400 us"};
  return ramp < kLabels.size() ? kLabels[ramp] : "?";
}

namespace {

const char* measureLabel(const Measure& m) { return m.chan != nullptr ? adcChanLabel(m.chan->chanId) : "null"; }

}  // namespace

const char* phaseCorrectionText(char* buffer, unsigned capacity, float correction) {
  if (isAutoInductivePhaseCorrection(correction)) return "AUTO";
  return ShellFmt::fixed(buffer, capacity, correction, 4);
}

namespace ShellFmt {

void measures(const Measure& a, const Measure& b) {
  head2("measure", measureLabel(a), measureLabel(b));
  char textA[24];
  char textB[24];
  std::snprintf(textA, sizeof textA, "%u", a.chan != nullptr ? static_cast<unsigned>(a.chan->size()) : 0u);
  row2("samples (both)", textA, "\"");
  std::snprintf(textA, sizeof textA, "%ld", static_cast<long>(a.average));
  std::snprintf(textB, sizeof textB, "%ld", static_cast<long>(b.average));
  row2("average (counts)", textA, textB);
  std::snprintf(textA, sizeof textA, "%u", a.chan != nullptr ? static_cast<unsigned>(a.chan->burdenResistor) : 0u);
  row2("burden (ohm)", textA, "-");
  rowFloat2("rmsRaw (counts)", a.rmsRaw, b.rmsRaw, 4);
  rowFloat2("rmsV (V)", a.rmsV, b.rmsV, 4);
  row2("phaseOk", yesNO(a.phaseOk), yesNO(b.phaseOk));
  rowFloat2("phase (rad)", a.getPhaseRad(), b.getPhaseRad(), 4);
  rowFloat2("phase (deg)", a.getPhaseRad() * kRadToDeg, b.getPhaseRad() * kRadToDeg, 3);
  rowFloat2("magnitude", a.magnitude, b.magnitude, 4);
}

void power(const GState& state) {
  const uint16_t burden = state.bField.chan != nullptr ? state.bField.chan->burdenResistor : 0;
  const float correctedB = clampCorrectedBPhaseRad(state.bField.phaseRad, state.currOriginal, burden);
  const float shift = powerShiftRad(correctedB, state.eFieldInductive.getPhaseRad());
  print("\n");
  head1("metric", "value");
  rowFloat1("active power (W @ 230V)", state.power.estimatedPower, 3);
  rowFloat1("power factor", state.power.powerFactor, 4);
  rowFloat1("current raw (A)", state.currOriginal, 4);
  rowFloat1("current corrected (A)", state.currCorrected, 4);
  rowFloat1("B phase corrected", correctedB, 4);
  rowFloat1("phase shift (rad)", shift, 4);
  rowFloat1("phase shift (deg)", shift * kRadToDeg, 3);
  char text[24];
  row1("phase corr (rad)", phaseCorrectionText(text, sizeof text, state.config.inductive50HzPhaseCorrection));
}

void adcStats(const GState& state) {
  head2("adc channel", "min / max", "pp / mean");
  const ADC_Chan* channels[] = {&state.chanBField, &state.chanEFieldInd, &state.chanEFieldCap};
  for (const ADC_Chan* chan : channels) {
    // Never read past the buffer, whatever the row count says.
    uint16_t n = chan->size();
    if (n > ADCBufT::capacity()) n = ADCBufT::capacity();
    if (n == 0) {
      row2(adcChanLabel(chan->chanId), "empty", "empty");
      continue;
    }
    int min = chan->at(0);
    int max = min;
    int32_t sum = 0;
    for (uint16_t i = 0; i < n; ++i) {
      const int v = chan->at(i);
      if (v < min) min = v;
      if (v > max) max = v;
      sum += v;
    }
    char minMax[32];
    char ppMean[32];
    std::snprintf(minMax, sizeof minMax, "%d / %d", min, max);
    std::snprintf(ppMean, sizeof ppMean, "%d / %ld", max - min, static_cast<long>(sum / n));
    row2(adcChanLabel(chan->chanId), minMax, ppMean);
  }
  rowU32_1("samples per channel", state.chanBField.size());
}

}  // namespace ShellFmt
