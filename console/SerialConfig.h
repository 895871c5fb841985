// Console line transport: receive-to-idle DMA chunks into a byte ring (interrupt side), and
// line assembly from the ring in the main loop.
#pragma once

#include <cstdint>

constexpr uint16_t kRxDmaChunkBytes = 64;
constexpr uint16_t kRxRingSize = 512;
constexpr uint32_t kLineMax = 192;
constexpr uint32_t kRxDmaRetryIntervalMs = 250;

void serialConfigInit();
void serialConfigPoll();
// True when no received byte waits in the ring (the main loop may sleep).
bool serialRxIdle();

// Provided by the shell: called once for every complete, non-empty line.
void serialHandleLine(const char* line);
