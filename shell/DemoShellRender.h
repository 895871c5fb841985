// Label texts of the shell's tables, and the composite tables of measurement results.
#pragma once

#include <cstdint>

#include "MCUState.h"

// "yes" / "no".
const char* yn(bool value);
// "yes" / "NO": for flags whose "no" needs attention (configuration valid, phase found).
const char* yesNO(bool value);
const char* boardRevisionLabel(MCUState::HwRevision revision);
// By the radio's bandwidth, coding-rate and ramp-time codes; "?" for an unknown code.
const char* loraBwLabel(uint8_t bw);
const char* loraCrLabel(uint8_t cr);
const char* loraRampLabel(uint8_t ramp);
