// Measurement report lines. Values are cut into integer and fraction digits (no float
// formatting); the integer text keeps the sign of values between -1 and 0 ("-0") and is never
// wrapped, so field order and count stay fixed while every value reads back right.
#include "measure_report.h"

#include <cstdio>

#include "Debug.h"
#include "DemoShellFormat.h"
#include "gstate.h"

namespace {

constexpr float kPi = 3.1415927f;

// One raw console line, built in a 512-byte buffer; nothing at all when formatting failed.
void printCsvLine(const char* buffer, int n) {
  if (n <= 0) return;
  const int limit = static_cast<int>(kFormatBufferSize) - 1;
  printRaw(buffer, n < limit ? n : limit);
}

}  // namespace

const char* adcChanLabel(ADCChan c) {
  switch (c) {
    case ADCChan::Bfield: return "Bfield";
    case ADCChan::EFieldCap: return "EFieldCap";
    case ADCChan::EfieldInd: return "EfieldInd";
  }
  return "?";
}

void printDebug(const Measure& m) {
  if (m.chan == nullptr) {
    debug("Measure: chan=null");
    return;
  }
  const unsigned size = m.chan->size();
  const unsigned burden = m.chan->burdenResistor;
  const ShellFmt::SplitText rmsRaw = ShellFmt::split(m.rmsRaw, 4);
  const ShellFmt::SplitText rmsV = ShellFmt::split(m.rmsV, 4);
  const ShellFmt::SplitText phase = ShellFmt::split(m.getPhaseRad(), 4);
  const ShellFmt::SplitText magnitude = ShellFmt::split(m.magnitude, 4);
  debugV2("Measure %s: N=%u avg=%ld rmsRaw=%s.%04lu rmsV=%s.%04lu burden=%u", adcChanLabel(m.chan->chanId), size,
          static_cast<long>(m.average), rmsRaw.integer, rmsRaw.decimal, rmsV.integer, rmsV.decimal, burden);
  debugV2("  phaseOk=%d phaseRad=%s.%04lu rad magnitude=%s.%04lu", m.phaseOk ? 1 : 0, phase.integer, phase.decimal,
          magnitude.integer, magnitude.decimal);
  char line[kFormatBufferSize];
  const int n =
      std::snprintf(line, sizeof line, "MEASURE_CSV,%u,%u,%u,%ld,%s,%lu,%s,%lu,%u,%d,%s,%lu,%s,%lu", MEASURE_CSV_REV,
                    static_cast<unsigned>(m.chan->chanId), size, static_cast<long>(m.average), rmsRaw.integer,
                    rmsRaw.decimal, rmsV.integer, rmsV.decimal, burden, m.phaseOk ? 1 : 0, phase.integer, phase.decimal,
                    magnitude.integer, magnitude.decimal);
  printCsvLine(line, n);
  debug("");
}

void printDebugPower(const GState& g) {
  const uint16_t burden = g.bField.chan != nullptr ? g.bField.chan->burdenResistor : 0;
  const float correctedB = clampCorrectedBPhaseRad(g.bField.phaseRad, g.currOriginal, burden);
  const float ePhase = g.eFieldInductive.getPhaseRad();
  const float shift = powerShiftRad(correctedB, ePhase);
  const float shiftDeg = shift * 180.0f / kPi;

  const ShellFmt::SplitText corr = ShellFmt::split(g.config.inductive50HzPhaseCorrection, 4);
  const ShellFmt::SplitText bPhase = ShellFmt::split(g.bField.phaseRad, 4);
  const ShellFmt::SplitText eText = ShellFmt::split(ePhase, 4);
  const ShellFmt::SplitText shiftText = ShellFmt::split(shift, 4);
  const ShellFmt::SplitText degText = ShellFmt::split(shiftDeg, 4);
  const ShellFmt::SplitText iOrig = ShellFmt::split(g.currOriginal, 4);
  const ShellFmt::SplitText iCorr = ShellFmt::split(g.currCorrected, 4);
  const ShellFmt::SplitText pf = ShellFmt::split(g.power.powerFactor, 4);
  const ShellFmt::SplitText watts = ShellFmt::split(g.power.estimatedPower, 2);
  const int bOk = g.bField.phaseOk ? 1 : 0;
  const int eOk = g.eFieldInductive.phaseOk ? 1 : 0;

  debugV2("PhaseCorr: phaseOk B=%d Eind=%d phaseCorrectionRad=%s.%04lu", bOk, eOk, corr.integer, corr.decimal);
  debugV2("  phaseRad B=%s.%04lu Eind=%s.%04lu  shift=%s.%04lu rad (%s.%04lu deg)", bPhase.integer, bPhase.decimal,
          eText.integer, eText.decimal, shiftText.integer, shiftText.decimal, degText.integer, degText.decimal);
  debugV2("  IOriginal=%s.%04lu A    ICorrected=%s.%04lu A", iOrig.integer, iOrig.decimal, iCorr.integer,
          iCorr.decimal);
  debugV2("  power_2: PF=%s.%04lu P=%s.%02lu W (vi time average) ", pf.integer, pf.decimal, watts.integer,
          watts.decimal);
  char line[kFormatBufferSize];
  const int n = std::snprintf(line, sizeof line,
                              "POWER_CSV,%u,%d,%d,0,%s,%lu,%s,%lu,0,0,%s,%lu,%s,%lu,0,0,0,0,%s,%lu,%s,%lu,%s,%lu",
                              POWER_CSV_REV, bOk, eOk, bPhase.integer, bPhase.decimal, eText.integer, eText.decimal,
                              shiftText.integer, shiftText.decimal, iOrig.integer, iOrig.decimal, pf.integer,
                              pf.decimal, watts.integer, watts.decimal, corr.integer, corr.decimal);
  printCsvLine(line, n);
}

void printHighPowerRead(float watts) {
  const ShellFmt::SplitText p = ShellFmt::split(watts, 3);
  debugV2("high power read %s.%03lu W\n", p.integer, p.decimal);
}
