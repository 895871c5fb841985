// Radio commands of the shell: "tx" in all its forms and "rx" only check and store their
// arguments; the radio work runs when the main loop takes the armed action.
#include "DemoShellTx.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Debug.h"
#include "DemoShellFormat.h"
#include "DemoShellParse.h"
#include "DemoShellRender.h"
#include "DemoShellSample.h"
#include "MCUState.h"
#include "RTCMem.h"
#include "SerialCommandUtil.h"
#include "SerialTokenizer.h"
#include "gstate.h"
#include "lora_airtime.h"
#include "lora_inbound.h"
#include "packet3.h"
#include "packethandler.h"
#include "uplink_counter.h"

namespace {

constexpr uint16_t kDefaultPacket5ListenMs = 500;
constexpr uint32_t kMaxListenMs = 60000;
constexpr uint8_t kTxPowerWindowSignalDbm = 14;
constexpr unsigned kValueBuf = 32;

struct TxPacketName {
  const char* name;
  TxPacket value;
};
const std::array<TxPacketName, 6> kPackets = {{
    {"p3", TxPacket::p3},
    {"p7", TxPacket::p7},
    {"p8", TxPacket::p8},
    {"p9", TxPacket::p9},
    {"p10", TxPacket::p10},
    {"debug", TxPacket::debug},
}};

void rowFormatted(const char* label, const char* format, ...) __attribute__((format(printf, 2, 3)));
void rowFormatted(const char* label, const char* format, ...) {
  char value[kValueBuf];
  va_list args;
  va_start(args, format);
  std::vsnprintf(value, sizeof value, format, args);
  va_end(args);
  ShellFmt::row1(label, value);
}

void cmdTxP5(const char* rest) {
  uint32_t listenMs = kDefaultPacket5ListenMs;
  if (*SCU::skipWs(rest) != '\0' && !ShellParse::boundedU32(rest, kMinPacket5ListenMs, kMaxListenMs, listenMs)) {
    printV2("err: tx p5 [ms] takes a listen window in %u..60000", static_cast<unsigned>(kMinPacket5ListenMs));
    return;
  }
  if (!armPending(Pending::txPacket5)) return;
  gP5ListenMs = static_cast<uint16_t>(listenMs);
  printV2("ok: tx p5 (packet 5 at 14 dBm, then listen %lu ms)", static_cast<unsigned long>(listenMs));
}

void cmdTxRaw(const char* rest) {
  uint8_t payload[kMaxRawPayload] = {};
  uint8_t len = 0;
  bool skipCsma = false;
  if (!parseTxRaw(rest, payload, len, skipCsma)) return;
  if (!armPending(Pending::txRaw)) return;
  std::memcpy(gRawPayload, payload, sizeof gRawPayload);
  gRawLen = len;
  gRawSkipCsma = skipCsma;
  const uint32_t airMs = LoraAirTime::timeOnAirMsForTx(len, MCUState::Lora::modParams, 8);
  printV2("ok: tx raw %u bytes, ~%lu ms on air%s", static_cast<unsigned>(len), static_cast<unsigned long>(airMs),
          skipCsma ? ", no CSMA" : "");
}

}  // namespace

void warnIfUidUnsetForLora() {
  if (!uidIsUnset()) return;
  print("warn: uid is 0 -- assign a valid uid before useful TX/RX");
  print("warn:   set uid 0xNNNNNN then save   (value agreed with Brannoc)");
  print("warn:   or: provision                 (full automatic LoRa assign+confirm)");
}

bool parseTxRaw(const char* args, uint8_t* payloadOut, uint8_t& lenOut, bool& skipCsmaOut) {
  const char* p = SCU::skipWs(args);
  skipCsmaOut = false;
  if (p[0] == '-' && p[1] == 'n' && SCU::isBlank(p[2])) {
    skipCsmaOut = true;
    p = SCU::skipWs(p + 2);
  }
  if (*p == '\0') {
    print("err: tx raw needs hex bytes, e.g. tx raw 01AB23  (or: tx raw -n 01AB23)");
    return false;
  }
  unsigned digits = 0;
  if (!ShellParse::hexDigitCount(p, digits)) {
    print("err: tx raw payload must be one unbroken run of hex digits (no spaces)");
    return false;
  }
  if (digits % 2 != 0) {
    print("err: tx raw needs an even number of hex digits (2 per byte)");
    return false;
  }
  if (digits > 2u * kMaxRawPayload) {
    printV2("err: tx raw max %u bytes (%u hex digits)", static_cast<unsigned>(kMaxRawPayload), 2u * kMaxRawPayload);
    return false;
  }
  if (!SCU::parseHexBytes(p, payloadOut, digits / 2)) {
    print("err: tx raw could not parse payload");
    return false;
  }
  lenOut = static_cast<uint8_t>(digits / 2);
  return true;
}

void cmdTx(const char* args) {
  warnIfUidUnsetForLora();
  char first[SCU::kTokenBufSize];
  const char* rest = SCU::parseToken(args, first, sizeof first);
  if (rest != nullptr && std::strcmp(first, "p5") == 0) return cmdTxP5(rest);
  if (rest != nullptr && std::strcmp(first, "raw") == 0) return cmdTxRaw(rest);
  if (*SCU::skipWs(args) == '\0') {
    if (!armPending(Pending::txBlock)) return;
    print("ok: tx (full production loraBlock)");
    return;
  }
  char name[SCU::kTokenBufSize];
  const TxPacketName* entry =
      ShellParse::loneToken(args, name, sizeof name) ? SCU::findByName(kPackets, name, &TxPacketName::name) : nullptr;
  if (entry == nullptr) {
    print("err: tx takes nothing (production path) or p3|p5|p7|p8|p9|p10|debug");
    return;
  }
  if (!armPending(Pending::txPacket)) return;
  gTxPacket = entry->value;
  // The two selections that carry the ADC capture.
  if ((entry->value == TxPacket::p9 || entry->value == TxPacket::debug) && !gCaptureDone) {
    printV2("warn: no sample since boot, %s will carry an empty ADC buffer", entry->name);
  }
  printV2("ok: tx %s", entry->name);
}

void cmdRx(const char* args) {
  warnIfUidUnsetForLora();
  uint32_t windowMs = 0;
  if (!ShellParse::boundedU32(args, 1, kMaxListenMs, windowMs)) {
    print("err: rx needs <ms> in 1..60000");
    return;
  }
  if (!armPending(Pending::rxWindow)) return;
  gRxWindowMs = static_cast<uint16_t>(windowMs);
  printV2("ok: rx %lu", static_cast<unsigned long>(windowMs));
}

void runTxPacket(TxPacket packet) {
  switch (packet) {
    case TxPacket::p3: sendPacket3(false); break;
    case TxPacket::p7: sendPacket7(); break;
    case TxPacket::p8: sendPacket8(); break;
    case TxPacket::p9: sendPacket9(); break;
    case TxPacket::p10: sendPacket10(); break;
    case TxPacket::debug:
      setMCUGstate().lora.currentPackedNum = nextUplinkCounter();
      sendPacket8();
      sendPacket4();
      sendPacket7();
      sendPacket3(false);
      break;
    default: break;
  }
}

void runTxPacket5(uint16_t listenMs) {
  setMCUGstate().lora.currentPackedNum = nextUplinkCounter();
  const int8_t storedDbm = rtcMem().txPowerDbm.get();
  const bool configOk = gstate().config.ok();

  ShellFmt::section("tx p5 (receive-window signal)");
  ShellFmt::head1("field", "value");
  rowFormatted("uid", "0x%06lX", static_cast<unsigned long>(gstate().config.uid.toU24()));
  rowFormatted("packetCounter", "%lu", static_cast<unsigned long>(mcustate().lora.currentPackedNum.toU32()));
  rowFormatted("tx power (dBm)", "%d -> 14", static_cast<int>(storedDbm));
  rowFormatted("air time (ms)", "~%lu", static_cast<unsigned long>(LoRaPacket3::airTime));
  ShellFmt::row1("hmacKey", hmacKeyIsBlank() ? "blank" : "set");
  ShellFmt::row1("config.ok", yesNO(configOk));
  if (!configOk) print("warn: config.ok is NO -- lora_inbound will not dispatch anything received");

  if (!loraSetTxPowerDbm(kTxPowerWindowSignalDbm))
    print("warn: could not set 14 dBm, sending at whatever the radio holds");
  sendPacket3(true);
  if (!loraSetTxPowerDbm(storedTxPowerDbm()))
    printV2("warn: could not restore tx power to %d dBm", static_cast<int>(storedDbm));

  rtcMem().timeSinceLastLoraRX.set(0);
  printV2("listening %lu ms ...", static_cast<unsigned long>(listenMs));
  const LoraListenResult result = loraListen(listenMs);
  reportListenResult("rx window", listenMs, result);
}

void runTxRaw() {
  const LoraSupplyPin& supply = mcustate().pin.switch_.lora;
  (void)supply.setOn();
  if (gRawSkipCsma) {
    llcc68HandlerInstance().send(gRawPayload, gRawLen);
  } else {
    lora_send(gRawPayload, gRawLen);
  }
  supply.setOff();
}

void runRxWindow() {
  const LoraSupplyPin& supply = mcustate().pin.switch_.lora;
  (void)supply.setOn();
  ShellFmt::section("rx");
  print("note: no packet 5 was sent; the Vantor forwards only after one (use: tx p5)");
  const LoraListenResult result = loraListen(gRxWindowMs);
  supply.setOff();
  reportListenResult("rx window", gRxWindowMs, result);
}

void reportListenResult(const char* what, uint32_t windowMs, const LoraListenResult& result) {
  using Outcome = LoraListenResult::Outcome;
  ShellFmt::head1(what, "value");
  rowFormatted("window (ms)", "%lu", static_cast<unsigned long>(windowMs));
  ShellFmt::row1("outcome", result.label());
  rowFormatted("elapsed (ms)", "%lu", static_cast<unsigned long>(result.elapsedMs));
  if (result.gotFrame()) {
    rowFormatted("frame (bytes)", "%u", static_cast<unsigned>(result.len));
    rowFormatted("rssi (dBm)", "%d", static_cast<int>(result.rssiDbm));
    rowFormatted("snr (dB)", "%d", static_cast<int>(result.snrDb));
  } else {
    ShellFmt::row1("frame", "none");
  }
  rowFormatted("corrupt dropped", "%u", static_cast<unsigned>(result.droppedFrames));
  if (result.outcome == Outcome::rxDone && result.len == 0)
    print("warn: RX_DONE but no payload came out of the FIFO -- suspect SPI");
  if (result.outcome == Outcome::setupFailed)
    print("warn: the radio never entered RX -- check the lora switch pin and SPI");
  if (result.outcome == Outcome::pollExpired)
    print("warn: no IRQ before the poll limit -- the radio stopped answering, suspect SPI");
  if (result.corruptFrame()) print("warn: a frame was rejected and RX could not be re-armed -- window ended early");
}
