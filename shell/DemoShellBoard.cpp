// "dbg1" and "provision": argument checks and arming; the runs belong to the main loop.
#include "DemoShellBoard.h"

#include "Debug.h"
#include "DemoShell.h"
#include "DemoShellParse.h"
#include "DemoShellRender.h"
#include "DemoShellTx.h"
#include "MCUState.h"
#include "SerialCommandUtil.h"
#include "SerialTokenizer.h"
#include "gstate.h"
#include "packethandler.h"

namespace {
constexpr uint32_t kDbg1MaxHalfMs = 60000;
constexpr uint32_t kDbg1MaxTotalMs = 600000;
}  // namespace

void cmdDbg1(const char* args) {
  if (mcustate().pin.dbg._1.h.bus == nullptr) {
    printV2("err: dbg1 is not a GPIO on board revision %u (no output to toggle)",
            static_cast<unsigned>(MCUState::hwRevision));
    return;
  }
  char onText[SCU::kTokenBufSize];
  char offText[SCU::kTokenBufSize];
  const char* p = SCU::parseToken(args, onText, sizeof onText);
  const char* rest = p == nullptr ? nullptr : SCU::parseToken(p, offText, sizeof offText);
  if (rest == nullptr) {
    print("err: dbg1 needs <on_ms> <off_ms> <total_ms>");
    return;
  }
  uint32_t onMs = 0;
  uint32_t offMs = 0;
  uint32_t totalMs = 0;
  // A run cut at the buffer size must not leave its tail to be read as the next number.
  if (ShellParse::tokenWasCut(p) || ShellParse::tokenWasCut(rest) ||
      !ShellParse::boundedU32(onText, 1, kDbg1MaxHalfMs, onMs) ||
      !ShellParse::boundedU32(offText, 1, kDbg1MaxHalfMs, offMs) ||
      !ShellParse::boundedU32(rest, 1, kDbg1MaxTotalMs, totalMs)) {
    print("err: dbg1 <on_ms> <off_ms> in 1..60000, <total_ms> in 1..600000");
    return;
  }
  if (!armPending(Pending::dbg1Toggle)) return;
  gDbg1OnMs = onMs;
  gDbg1OffMs = offMs;
  gDbg1TotalMs = totalMs;
  printV2("ok: dbg1 %lu %lu %lu", static_cast<unsigned long>(onMs), static_cast<unsigned long>(offMs),
          static_cast<unsigned long>(totalMs));
}

void cmdProvision(const char* args) {
  if (*SCU::skipWs(args) != '\0') {
    print("err: provision takes no arguments");
    return;
  }
  if (!armPending(Pending::provision)) return;
  print("ok: provision (LoRa assign+confirm, blocking until done)");
}

void runProvision() {
  // A node without identity asks as a fresh one: no stale key or replay counter goes with it.
  if (uidIsUnset()) setGstate().config.clearProvisionedIdentity();
  print("provision: LoRa P10/P13 handshake running (board blocks until confirm)");
  (void)loraProvision();
  printV2("ok: provision done (uid 0x%06lX, config.ok %s)", static_cast<unsigned long>(gstate().config.uid.toU24()),
          yesNO(gstate().config.ok()));
  mcustate().pin.switch_.lora.setOff();
}
