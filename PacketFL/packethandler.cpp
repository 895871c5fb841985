// Transmission cycle and provisioning handshake: which frames go out in which order, with which
// counter, at which power, and when the node listens afterwards.
#include "packethandler.h"

#include "Debug.h"
#include "MCUState.h"
#include "RTCMem.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "llcc68handler.h"
#include "logic.h"
#include "lora_inbound.h"
#include "packet10_debug.h"
#include "packet17_debug.h"
#include "packet3_debug.h"
#include "packet4_debug.h"
#include "packet7_debug.h"
#include "packet7_node.h"
#include "packet8.h"
#include "packet9_debug.h"
#include "uplink_counter.h"

namespace {

constexpr uint16_t loraListenWindowMs = 500;
constexpr uint16_t kProvisionWindowMs = 10000;
constexpr uint8_t kTxPowerWindowSignalDbm = 14;

LoRaPacketCounterU24 currentCounter() { return mcustate().lora.currentPackedNum; }
const UID& configuredUid() { return gstate().config.uid; }

// The cycle's counter: advanced in the RTC (it survives standby) and held for every frame of it.
uint32_t advanceCycleCounter() {
  const LoRaPacketCounterU24 next = nextUplinkCounter();
  setMCUGstate().lora.currentPackedNum = next;
  return next.toU32();
}

bool pinResetAtBoot() { return (mcustate().resetCause & HAL_RESET_FLAG_PIN) != 0; }

void sendFrame(const LoRaFrameBuffer& frame) { lora_send(frame.data(), frame.used_bytes()); }

// Frames of a capture are shown, then sent; a frame that fails to go out does not stop the series.
template <typename Payload, void (*Show)(const Payload&)>
void sendCaptureFrame(const Payload& payload, const LoRaFrameBuffer& frame) {
  Show(payload);
  sendFrame(frame);
}

// Every capture goes whole (231 rows) under the cycle's counter, whatever the last reading used.
template <typename Payload, void (*Show)(const Payload&)>
void sendCapture(uint8_t packetCode, uint32_t (*encodeSample)(const ADCStruct&), const char* failText) {
  const ADCBufT& buf = gstate().adc.buf;
  if (!encodeCaptureSeries<Payload>(packetCode, configuredUid(), currentCounter(), buf.rows.data(), buf.rows.size(),
                                    HMAC::liveKey(), encodeSample, sendCaptureFrame<Payload, Show>)) {
    debug(failText);
  }
}

// One attempt of the handshake: packet 10, then the long window in which the answer may come.
void provisionAttempt(uint16_t& attempt) {
  ++attempt;
  clearLoraProvisionAck();
  char ts[kTsPrefixReserve];
  ts[0] = '\0';
  debugTsPrefix(ts, sizeof ts);
  debugV2("%sprovision attempt %u (wake +%lums)\n", ts, static_cast<unsigned>(attempt),
          static_cast<unsigned long>(debugWakeMs()));
  sendPacket10();
  (void)loraListen(kProvisionWindowMs);
}

}  // namespace

void sendPacket3(bool openRX) {
  const GState& g = gstate();
  const LoRaPacket3::Payload payload = LoRaPacket3::makePayload(
      currentCounter(), configuredUid(), g.temperature, g.adc.VRef, g.power.powerFactor, g.currCorrected, openRX);
  const LoRaFrameBuffer frame = LoRaPacket3::encode(payload);
  LoRaPacket3::debugPkt(payload);
  sendFrame(frame);
}

void sendPacket4() {
  sendCapture<LoRaPacket4::Payload, LoRaPacket4::debugPkt>(LoRaPacket4::PACKET_CODE,
                                                           LoRaPacket4::encodeAdcSample<ADCStruct>,
                                                           "send_adc_capture_lora_packet4: encode failed\n");
}

void sendPacket9() {
  sendCapture<LoRaPacket9::Payload, LoRaPacket9::debugPkt>(LoRaPacket9::PACKET_CODE,
                                                           LoRaPacket9::encodeAdcSample<ADCStruct>,
                                                           "send_adc_capture_lora_packet9: encode failed\n");
}

void sendPacket7() {
  const LoRaPacket7::Payload payload = LoRaPacket7::makePayload(currentCounter(), configuredUid(), gstate());
  const LoRaFrameBuffer frame = LoRaPacket7::encode(payload);
  if (frame.used_bytes() == 0) {
    debug("sendPacket7: encode failed\n");
    return;
  }
  LoRaPacket7::debugPkt(payload);
  sendFrame(frame);
}

void sendPacket8() {
  const GState& g = gstate();
  const LoRaPacket8::Payload payload =
      LoRaPacket8::makePayload(currentCounter(), configuredUid(), readChipID(), g.config.inductive50HzPhaseCorrection,
                               g.adc.eFieldSlopeCorrection, g.config.clampMapping);
  const LoRaFrameBuffer frame = LoRaPacket8::encode(payload);
  if (frame.used_bytes() == 0) {
    debug("sendPacket8: encode failed\n");
    return;
  }
  sendFrame(frame);
}

void sendPacket10() {
  const LoRaPacket10::Payload payload = LoRaPacket10::makePayload(
      currentCounter(), configuredUid(), LoRaPacket10::packStUidBytes(readChipID()), LoRaPacket10::kPhaseTagNone);
  const LoRaFrameBuffer frame = LoRaPacket10::encode(payload);
  if (frame.used_bytes() == 0) {
    debug("sendPacket10: encode failed\n");
    return;
  }
  LoRaPacket10::debugPkt(payload);
  sendFrame(frame);
}

void sendPacket17(bool ok, LoRaPacket17::Reason reason) { sendPacket17(ok, reason, configuredUid(), HMAC::liveKey()); }

void sendPacket17(bool ok, LoRaPacket17::Reason reason, const UID& uid, const HMAC::Key& key) {
  // Its own counter value, so that the cycle's next frames still follow it.
  const LoRaPacketCounterU24 counter = nextUplinkCounter();
  const LoRaPacket17::Payload payload = LoRaPacket17::makePayload(counter, uid, ok, reason);
  const LoRaFrameBuffer frame = LoRaPacket17::encode(payload, key);
  if (frame.used_bytes() == 0) {
    debug("sendPacket17: encode failed\n");
    return;
  }
  LoRaPacket17::debugPkt(payload);
  sendFrame(frame);
}

void loraBlock() {
  const uint32_t n = advanceCycleCounter();
  rtcMem().timeSinceLastLoraTX.set(0);
  const LoraSupplyPin& supply = mcustate().pin.switch_.lora;
  (void)supply.setOn();

  const bool pinReset = pinResetAtBoot();
  if (pinReset) sendPacket8();
  const uint16_t rate = gstate().config.txDebugPacketRate;
  if (rate == 0 || n % rate == 0 || pinReset) {
    sendPacket8();
    sendPacket4();
    sendPacket7();
  }

  const bool listen = enableLoraRX(rtcMem().timeSinceLastLoraRX.get(), mcustate().SoC) || gstate().config.forceLoraRX;
  if (listen) {
    const int8_t storedDbm = storedTxPowerDbm();
    (void)loraSetTxPowerDbm(kTxPowerWindowSignalDbm);
    sendPacket3(true);
    (void)loraSetTxPowerDbm(storedDbm);
    rtcMem().timeSinceLastLoraRX.set(0);
    (void)loraListen(loraListenWindowMs);
  } else {
    sendPacket3(false);
  }
  supply.setOff();
}

bool loraProvision() { return loraProvisionWithin(0); }

bool loraProvisionWithin(uint16_t maxAttempts, uint32_t (*pauseMs)(uint16_t attemptsMade)) {
  (void)mcustate().pin.switch_.lora.setOn();
  setLoraProvisioningActive(true);
  uint16_t attempt = 0;
  // One phase: attempts until its acknowledgement came, or until the allowance is used up.
  const auto phase = [&](bool confirm) {
    do {
      if (maxAttempts != 0 && attempt >= maxAttempts) return false;
      if (pauseMs != nullptr) delayMsLowPowerRadioSleep(pauseMs(attempt));
      provisionAttempt(attempt);
    } while (!(confirm ? loraProvisionConfirmReceived() : loraProvisionAssignReceived()));
    return true;
  };
  const bool done = (gstate().config.ok() || phase(false)) && phase(true);
  setLoraProvisioningActive(false);
  return done;
}
