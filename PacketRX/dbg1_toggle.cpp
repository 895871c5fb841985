// The pending debug-pin toggle request.
#include "dbg1_toggle.h"

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
