// Shell start, main loop, line framing and the pending-action mechanism.
#include "DemoShell.h"

#include <array>

#include "Debug.h"
#include "DemoShellBoard.h"
#include "DemoShellInfo.h"
#include "DemoShellSample.h"
#include "DemoShellTx.h"
#include "DeviceConfig.h"
#include "MCUState.h"
#include "SerialCommandUtil.h"
#include "SerialConfig.h"
#include "SerialSetters.h"
#include "SerialTokenizer.h"
#include "build_info.h"
#include "dbg1_toggle.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "packethandler.h"
#include "sleep.h"
#include "stm32g0xx_hal.h"

Pending gPending = Pending::none;
uint16_t gStandbySecs = 0;
SampleMode gSampleMode = SampleMode::full;
uint32_t gRepeatCount = 0;
uint32_t gRepeatPeriodSec = 0;
TxPacket gTxPacket = TxPacket::p3;
uint16_t gRxWindowMs = 0;
uint16_t gP5ListenMs = 0;
uint8_t gRawPayload[kMaxRawPayload] = {};
uint8_t gRawLen = 0;
bool gRawSkipCsma = false;

namespace {

constexpr const char* kRule = "##########################";

const std::array<SCU::CommandEntry, 17> kShellCommands = {{
    {"help", cmdHelp},
    {"info", cmdInfo},
    {"compileInfo", cmdCompileInfo},
    {"sample", cmdSample},
    {"every", cmdEvery},
    {"print", cmdPrint},
    {"set", cmdSet},
    {"save", cmdSave},
    {"unprovision", cmdUnprovision},
    {"provision", cmdProvision},
    {"tx", cmdTx},
    {"radio", cmdRadio},
    {"rx", cmdRx},
    {"dbg1", cmdDbg1},
    {"pin", cmdPin},
    {"sleep", cmdSleep},
    {"reset", cmdReset},
}};

// The radio is powered for one single-packet action and cut after it.
template <typename Action>
void withRadioSupply(Action action) {
  const LoraSupplyPin& supply = mcustate().pin.switch_.lora;
  (void)supply.setOn();
  action();
  supply.setOff();
}

// Sleep the core until the next interrupt when there is nothing to do. Interrupts are masked
// around the check so that a byte arriving in between still ends the sleep at once.
void idleUntilInterrupt() {
  __disable_irq();
  if (serialRxIdle() && gPending == Pending::none) HAL_PWR_EnterSLEEPMode(PWR_MAINREGULATOR_ON, PWR_SLEEPENTRY_WFI);
  __enable_irq();
}

}  // namespace

void serialHandleLine(const char* line) { DemoShell::handleLine(line); }

bool armPending(Pending action) {
  if (gPending != Pending::none) {
    print("err: busy, a command is already pending (one at a time)");
    return false;
  }
  gPending = action;
  return true;
}

void runPendingAction() {
  const Pending action = gPending;
  gPending = Pending::none;
  switch (action) {
    case Pending::standby: standBy(gStandbySecs); break;
    case Pending::reset:
      __DSB();
      NVIC_SystemReset();
      for (;;) {
      }
    case Pending::sample: runSample(gSampleMode); break;
    case Pending::sampleRepeat: runSampleRepeat(); break;
    case Pending::txBlock:
      loraBlock();
      print("ok: tx done");
      break;
    case Pending::txPacket:
      withRadioSupply([] { runTxPacket(gTxPacket); });
      print("ok: tx packet done");
      break;
    case Pending::txPacket5:
      withRadioSupply([] { runTxPacket5(gP5ListenMs); });
      print("ok: tx p5 done");
      break;
    case Pending::txRaw:
      runTxRaw();
      printV2("ok: tx raw done (%u bytes)", static_cast<unsigned>(gRawLen));
      break;
    case Pending::rxWindow:
      runRxWindow();
      print("ok: rx done");
      break;
    case Pending::provision: runProvision(); break;
    case Pending::dbg1Toggle: runDbg1Toggle(); break;
    default: break;
  }
}

void cmdReset(const char*) {
  gPending = Pending::reset;  // replaces whatever was armed: a reset always wins
  print("ok: reset");
}

// The command list: each command in a column of 22 characters, then what it does.
constexpr struct {
  const char* command;
  const char* what;
} kHelpRows[] = {
    {"help", "this list"},
    {"info", "identity, calibration and power state"},
    {"compileInfo", "HW revision, LoRa radio and gstate/MCUState toggles"},
    {"sample [full|hp|lp]", "one acquisition + RMS + phase + power (default full)"},
    {"every <n> <sec>", "repeat the last sample mode n times, sec apart"},
    {"print <what>", "adc|rms|power|csv|rtc|prov|adcinfo|vref|temp|soc"},
    {"set <var> <value>", "phase <rad> | uid <hex> | hmacHash <hex> | clampMapping <i> <in> <out>"},
    {"save", "commit staged config to flash"},
    {"unprovision", "erase config flash (fresh-install state) then reset"},
    {"provision", "LoRa P10 assign+confirm (blocking until done)"},
    {"tx [pN|debug]", "nothing = production path; else p3|p7|p8|p9|p10|debug"},
    {"tx p5 [ms]", "packet 5 (= p3 + 'I listen now') at 14 dBm, then listen 250+"},
    {"tx raw [-n] <hex>", "arbitrary payload, max 90 B; -n skips CSMA (Vantor will drop it)"},
    {"radio on", "power the LoRa interface and init it ('pin lora off' cuts it)"},
    {"rx <ms>", "open a LoRa listen window"},
    {"dbg1 <on> <off> <tot>", "square wave on dbg1 (ms)"},
    {"pin <name> on|off", "stage1|optohp|lora"},
    {"sleep <sec>", "STANDBY 1..65535 s; wake is a RESET back into this shell"},
    {"reset", "immediate software reset"},
};

void cmdHelp(const char*) {
  printV2("commands:");
  for (const auto& row : kHelpRows) printV2("  %-22s%s", row.command, row.what);
  printV2("note: 'set phase' is live for the next 'sample'; 'save' only to survive a sleep");
  printV2("ok: help");
}

void printBanner() {
  print("");
  print("=== Orvane demo shell ===");
  printBuildInfo();
}

void printReadyState() {
  debugV2Uid(gstate().config.uid, true);
  if (!gstate().config.ok()) {
    print("warn: uid not committed -- run: set uid 0xNNNNNN   then: save");
    print("warn: until then TX identity is invalid and RX will not dispatch");
  }
  print("ready");
}

void DemoShell::handleLine(const char* line) {
  const char* start = SCU::skipWs(line);
  if (*start == '\0') return;
  print(kRule);
  printV2("> %s", start);
  print("");
  print("");
  const SCU::DispatchResult result = SCU::dispatchCommand(start, kShellCommands);
  if (result == SCU::DispatchResult::unknownCommand) {
    print("err: unknown command (try 'help')");
  } else {
    SCU::reportDispatchError(result);
  }
  print(kRule);
}

void DemoShell::run() {
  printBanner();
  DeviceConfig::init();
  readSupplyAtStart();
  printReadyState();
  cmdHelp("");
  for (;;) {
    serialConfigPoll();
    runPendingAction();
    idleUntilInterrupt();
  }
}
