// The shell's "tx" and "rx": argument checks and arming, the single-packet runs, and the table
// that reports a receive window.
#pragma once

#include <cstdint>

#include "DemoShell.h"
#include "DemoShellInfo.h"
#include "llcc68handler.h"

constexpr uint16_t kMinPacket5ListenMs = 250;

void cmdTx(const char* args);
void cmdRx(const char* args);
// "[-n] <hex>": at most 90 bytes into payloadOut; prints its own error line and returns false.
bool parseTxRaw(const char* args, uint8_t* payloadOut, uint8_t& lenOut, bool& skipCsmaOut);

void runTxPacket(TxPacket packet);
void runTxPacket5(uint16_t listenMs);
void runTxRaw();
void runRxWindow();
void reportListenResult(const char* what, uint32_t windowMs, const LoraListenResult& result);

void warnIfUidUnsetForLora();
