// Label texts of the shell's tables, and the composite tables of measurement results.
#pragma once

#include <cstdint>

#include "MCUState.h"

struct GState;
struct Measure;

// "yes" / "no".
const char* yn(bool value);
// "yes" / "NO": for flags whose "no" needs attention (configuration valid, phase found).
const char* yesNO(bool value);
const char* boardRevisionLabel(MCUState::HwRevision revision);
// By the radio's bandwidth, coding-rate and ramp-time codes; "?" for an unknown code.
const char* loraBwLabel(uint8_t bw);
const char* loraCrLabel(uint8_t cr);
const char* loraRampLabel(uint8_t ramp);
// "AUTO" when the configured correction selects the automatic voltage phase, else 4 decimals.
const char* phaseCorrectionText(char* buffer, unsigned capacity, float correction);

namespace ShellFmt {

// Two-channel table of the analysis results (the shell passes bField and eFieldInductive).
void measures(const Measure& a, const Measure& b);
// Current, power, power factor and the phases they came from.
void power(const GState& state);
// Minimum, maximum, peak-to-peak and mean of each channel view of the capture.
void adcStats(const GState& state);

}  // namespace ShellFmt
