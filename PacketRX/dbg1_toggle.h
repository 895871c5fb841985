// Debug line 1: the square wave the shell's "dbg1" runs, and the toggle request that a
// remote-settings frame arms (whoever drives the debug pin takes it).
#pragma once

#include <cstdint>

constexpr uint32_t kHalfPeriodMs = 250;
constexpr uint32_t kHalfCycleCount = 12;

// Square wave of "dbg1", in milliseconds; stored when the command arms the run.
extern uint32_t gDbg1OnMs;
extern uint32_t gDbg1OffMs;
extern uint32_t gDbg1TotalMs;

void armDbg1Toggle();
bool dbg1TogglePending();
// Returns whether a request was pending, and clears it.
bool takeDbg1ToggleRequest();

// total / (on + off) whole periods of the wave stored by "dbg1", then the line off and the
// closing line; run by the shell's pending action.
void runDbg1Toggle();
