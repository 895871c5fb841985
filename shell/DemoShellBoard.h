// Board commands of the shell: the debug-line square wave and the provisioning run.
#pragma once

#include <cstdint>

#include "dbg1_toggle.h"

void cmdDbg1(const char* args);
// Takes no arguments; arms the over-the-air provisioning run.
void cmdProvision(const char* args);
// The provisioning run: the handshake until confirmed, then the closing line; the radio supply is
// left off.
void runProvision();
