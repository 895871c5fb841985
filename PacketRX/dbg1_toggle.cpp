// Debug line 1: the pending toggle request, and the square wave of "dbg1", a bench signal to
// check timing with a scope.
#include "dbg1_toggle.h"

#include "Debug.h"
#include "MCUState.h"
#include "sleep.h"

uint32_t gDbg1OnMs = 0;
uint32_t gDbg1OffMs = 0;
uint32_t gDbg1TotalMs = 0;

namespace {
bool gDbg1TogglePending = false;
}

void armDbg1Toggle() { gDbg1TogglePending = true; }
bool dbg1TogglePending() { return gDbg1TogglePending; }
bool takeDbg1ToggleRequest() {
  const bool was = gDbg1TogglePending;
  gDbg1TogglePending = false;
  return was;
}

void runDbg1Toggle() {
  const DPinH& line = mcustate().pin.dbg._1;
  const uint32_t period = gDbg1OnMs + gDbg1OffMs;
  const uint32_t cycles = period == 0 ? 0 : gDbg1TotalMs / period;
  for (uint32_t i = 0; i < cycles; ++i) {
    line.setOn();
    delayMsLowPower(gDbg1OnMs);
    line.setOff();
    delayMsLowPower(gDbg1OffMs);
  }
  line.setOff();
  printV2("ok: dbg1 done (%lu cycles)", static_cast<unsigned long>(cycles));
}
