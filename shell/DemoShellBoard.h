// Board commands of the shell: the debug-line square wave and the provisioning run.
#pragma once

#include <cstdint>

// Square wave of "dbg1", in milliseconds; stored when the command arms the run.
extern uint32_t gDbg1OnMs;
extern uint32_t gDbg1OffMs;
extern uint32_t gDbg1TotalMs;

void cmdDbg1(const char* args);
// Takes no arguments; arms the over-the-air provisioning run.
void cmdProvision(const char* args);
// The provisioning run: the handshake until confirmed, then the closing line; the radio supply is
// left off.
void runProvision();
