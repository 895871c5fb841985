// The bench shell: start-up, the main loop, line framing and the one-at-a-time pending action.
#pragma once

#include <cstdint>

enum class Pending : uint32_t {
  none = 0,
  standby = 1,
  reset = 2,
  sample = 3,
  sampleRepeat = 4,
  txBlock = 5,
  txPacket = 6,
  txPacket5 = 7,
  txRaw = 8,
  rxWindow = 9,
  provision = 10,
  dbg1Toggle = 11,
};

enum class SampleMode : uint32_t { full = 0, hp = 1, lp = 2 };
enum class TxPacket : uint32_t { p3 = 0, p7 = 1, p8 = 2, p9 = 3, p10 = 4, debug = 5 };

constexpr uint8_t kMaxRawPayload = 90;

// The armed action and its arguments: written by a handler just before it arms, read by the runner.
extern Pending gPending;
extern uint16_t gStandbySecs;
extern SampleMode gSampleMode;
extern uint32_t gRepeatCount;
extern uint32_t gRepeatPeriodSec;
extern TxPacket gTxPacket;
extern uint16_t gRxWindowMs;
extern uint16_t gP5ListenMs;
extern uint8_t gRawPayload[kMaxRawPayload];
extern uint8_t gRawLen;
extern bool gRawSkipCsma;

namespace DemoShell {
[[noreturn]] void run();
void handleLine(const char* line);
}  // namespace DemoShell

// Arms `action` unless one is pending (then prints the busy line and returns false).
bool armPending(Pending action);
void runPendingAction();
void printBanner();
void printReadyState();

void cmdHelp(const char* args);
void cmdReset(const char* args);
void cmdPrint(const char* args);
void cmdSave(const char* args);
void cmdUnprovision(const char* args);
void cmdSleep(const char* args);
// Radio supply and board switches (DemoShellRadio.cpp).
void cmdRadio(const char* args);
void cmdPin(const char* args);

// Targets of "print".
void printAdc(const char* args);
void printRms(const char* args);
void printPower(const char* args);
void printCsv(const char* args);
void printRtcCmd(const char* args);
void printProv(const char* args);
void printAdcInfoCmd(const char* args);
void printVref(const char* args);
void printTemp(const char* args);
void printSoc(const char* args);
