// Debug-pin toggle request armed by a remote-settings frame; whoever drives the debug pin takes it.
#pragma once

#include <cstdint>

constexpr uint32_t kHalfPeriodMs = 250;
constexpr uint32_t kHalfCycleCount = 12;

void armDbg1Toggle();
bool dbg1TogglePending();
// Returns whether a request was pending, and clears it.
bool takeDbg1ToggleRequest();
