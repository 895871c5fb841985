// Measurement reports: readable lines and one machine-readable CSV line per channel and for
// the power result, so that a bench script can log what the node computed.
#pragma once

#include "adc_chan.h"

struct GState;
struct Measure;

// Layout revisions of the two CSV lines (first field of each).
constexpr unsigned MEASURE_CSV_REV = 3;
constexpr unsigned POWER_CSV_REV = 4;

// "Bfield", "EFieldCap", "EfieldInd", "?" for any other code.
const char* adcChanLabel(ADCChan c);
// Readable lines and "MEASURE_CSV" of one channel's analysis.
void printDebug(const Measure& m);
// Readable lines and "POWER_CSV" of the power result; after computePowerFast().
void printDebugPower(const GState& gState);
// "high power read ... W" of a full reading's power: cut to 3 decimals, the sign kept also between
// -1 and 0 W.
void printHighPowerRead(float watts);
