// A bench for measurement tests: a simulated board brought up as the firmware's boot does (clock,
// pins, ADC), a scenario on the analog front end, and helpers to take readings as the shell does.
#pragma once

#include <string>

#include "analog_frontend.h"

namespace testing_support {

// Fresh board, 4 MHz clock, pins and ADC up, the ADC handle in MCUState, VRef measured.
void bringUpMeasurementBoard();
// Puts `scenario` on the front end (also the supply and temperature the chip sees).
void setScenario(const sim::Scenario& scenario);
sim::Scenario scenarioFrom(const std::string& items);
// A high-power single-branch reading with power computation: front end on, settle, four-cycle
// capture, computePowerFast, front end off. Returns computePowerFast's result.
bool highPowerReading();
// Waits until the mains phase (at 50 Hz) is `k` / `of` of a cycle, so that readings taken one
// after another start at evenly spread points of the cycle.
void waitForMainsPhase(int k, int of);
// Phase correction for the scenario's pick-up, found as the calibration procedure says: a
// resistive load, several readings, the mean reported phase shift added to a start value.
float calibratePhaseCorrection(const sim::Scenario& pickup, int readings = 16);

}  // namespace testing_support
