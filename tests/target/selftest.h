// The self-test of the firmware's measurement, power, frame and tag code: the same source runs on
// the host and on the emulated Cortex-M0 core, and both must print the same lines (every float as
// its bit pattern, every frame as its bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "HMAC.h"
#include "selftest_captures.h"

// Where the lines go: the host's standard output, or the emulator's semihosting console.
void selfTestWrite(const char* text, size_t length);

// Runs every case, one line per result.
void runSelfTest();
// What a test image on the emulated core runs after its start-up.
void testImageMain();

// The capture and its settings into GState, on a freshly built record.
void loadCapture(const SelfTestCapture& capture);
// The frame settings every case shares: key bytes 0x10..0x1F, identity 0xABCDEF.
HMAC::Key selfTestKey();
