// Measurement bench on the in-process simulated board.
#include "measure_bench.h"

#include <cmath>

#include "MCUState.h"
#include "adc.h"
#include "adc_model.h"
#include "clamp_phase_comp.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "main.h"
#include "sleep.h"
#include "test_board.h"

namespace testing_support {

void bringUpMeasurementBoard() {
  freshBoard();
  calibrateVRef();
  takeOutput();
}

void setScenario(const sim::Scenario& scenario) { sim::board().adc().frontEnd().setScenario(scenario); }

sim::Scenario scenarioFrom(const std::string& items) {
  sim::Scenario s;
  std::string message;
  if (!sim::parseScenario(items, s, message)) s.current = -1;  // makes the test's expectations fail loudly
  return s;
}

bool highPowerReading() {
  const Stage1& stage1 = mcustate().pin.switch_.stage1;
  stage1.setOn();
  delayMsLowPower(20);
  ADCRead_HP(false);
  const bool ok = computePowerFast();
  stage1.setOff();
  return ok;
}

void waitForMainsPhase(int k, int of) {
  constexpr uint64_t kCycleUs = 20000;
  const uint64_t target = kCycleUs * static_cast<uint64_t>(k % of) / static_cast<uint64_t>(of);
  const uint64_t now = sim::board().nowUs() % kCycleUs;
  sim::board().busyWait((target + kCycleUs - now) % kCycleUs);
}

float calibratePhaseCorrection(const sim::Scenario& pickup, int readings) {
  sim::Scenario load = pickup;
  load.current = 10.0;
  load.pf = 1.0;
  for (double& h : load.harmonic) h = 0;
  setScenario(load);
  constexpr float kStart = 0.5f;
  setGstate().config.inductive50HzPhaseCorrection = kStart;
  double sum = 0;
  for (int i = 0; i < readings; ++i) {
    waitForMainsPhase(i, readings);  // as readings taken at random moments would, on average
    highPowerReading();
    const GState& g = gstate();
    const uint16_t burden = g.bField.chan->burdenResistor;
    const float corrected = clampCorrectedBPhaseRad(g.bField.phaseRad, g.currOriginal, burden);
    sum += powerShiftRad(corrected, g.eFieldInductive.getPhaseRad());
  }
  float c = normalizePhaseRad(kStart + static_cast<float>(sum / readings));
  // The node takes |c| <= 0.01 as "automatic": step just outside the band.
  if (std::fabs(c) <= kAutoInductivePhaseCorrectionRad) c = std::copysign(0.0101f, c);
  return c;
}

}  // namespace testing_support
