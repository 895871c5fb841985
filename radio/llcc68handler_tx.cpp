// Transmission: the pre-transmission checks, one frame with a wait derived from its time on air,
// channel sensing, and lora_send with the gap between frames and listen-before-talk.
#include <cstdint>

#include "MCUState.h"
#include "llcc68_hal.h"
#include "llcc68handler.h"
#include "sleep.h"

namespace {

constexpr int16_t kNoReadingDbm = -127;
constexpr uint32_t kTxTimeoutMs = 1000;
constexpr uint32_t kTxSettleMs = 10;
constexpr unsigned kStandbyBusyPolls = 50;
constexpr uint32_t kStandbyBusyPollMs = 10;
constexpr uint32_t kFrameGapMs = 50;
constexpr uint32_t kBackoffMs = 119;
constexpr unsigned kMaxBusySamples = 50;  // the loop ends when the count exceeds this

const detail::PinLayout::Lora& pins() { return mcustate().pin.lora; }

bool modeReadyForTx(llcc68_chip_modes_t mode) {
  return mode == LLCC68_CHIP_MODE_STBY_RC || mode == LLCC68_CHIP_MODE_STBY_XOSC || mode == LLCC68_CHIP_MODE_FS;
}

}  // namespace

int16_t Llcc68Handler::sampleChannelRssiDbm(uint16_t sampleMs) {
  if (!ensureInit()) return kNoReadingDbm;
  if (sampleMs == 0) sampleMs = 1;
  pins().ant2.setOn();
  if (!waitUntilIdle(100, "rssi sample idle") || llcc68_clear_irq_status(ctx(), LLCC68_IRQ_ALL) != LLCC68_STATUS_OK ||
      llcc68_set_rx(ctx(), sampleMs) != LLCC68_STATUS_OK) {
    pins().ant2.setOff();
    return kNoReadingDbm;
  }
  int16_t peak = kNoReadingDbm;
  for (uint16_t i = 0; i < sampleMs; ++i) {
    int16_t rssi = kNoReadingDbm;
    if (llcc68_get_rssi_inst(ctx(), &rssi) == LLCC68_STATUS_OK && rssi > peak) peak = rssi;
    if (i + 1 < sampleMs) delayMsLowPower(1);
  }
  (void)llcc68_set_standby(ctx(), LLCC68_STANDBY_CFG_RC);
  (void)waitUntilIdle(100, "rssi sample standby");
  pins().ant2.setOff();
  return peak;
}

int16_t loraSampleChannelRssiDbm(uint16_t sampleMs) { return llcc68HandlerInstance().sampleChannelRssiDbm(sampleMs); }

bool loraChannelHasRssiEnergy(int16_t thresholdDbm, uint16_t sampleMs) {
  const int16_t peak = loraSampleChannelRssiDbm(sampleMs);
  return peak >= kNoReadingDbm + 1 && peak > thresholdDbm;
}

bool Llcc68Handler::prepareForTx() {
  llcc68_chip_status_t status{};
  if (!waitUntilIdle(100, "pre-tx idle check #1") || !getStatusChecked("pre-tx status check #1", nullptr) ||
      !checkDeviceErrors("pre-tx error check #1")) {
    return false;
  }
  if (llcc68_set_standby(ctx(), LLCC68_STANDBY_CFG_RC) != LLCC68_STATUS_OK) {
    uartLine("LoRa: set_standby failed before TX\n");
    return false;
  }
  if (!waitUntilIdle(100, "pre-tx standby") || !getStatusChecked("pre-tx status check #2", &status)) return false;
  if (!modeReadyForTx(status.chip_mode)) {
    uartLine("LoRa: unexpected mode before TX (mode=%u)\n", static_cast<unsigned>(status.chip_mode));
    return false;
  }
  if (llcc68_clear_irq_status(ctx(), LLCC68_IRQ_ALL) != LLCC68_STATUS_OK) {
    uartLine("LoRa: clear_irq_status failed before TX\n");
    return false;
  }
  if (!waitUntilIdle(100, "pre-tx irq clear") || !checkDeviceErrors("pre-tx error check #2")) return false;

  llcc68_pkt_type_t type = LLCC68_PKT_TYPE_GFSK;
  if (llcc68_get_pkt_type(ctx(), &type) != LLCC68_STATUS_OK) {
    uartLine("LoRa: get_pkt_type failed before TX\n");
    return false;
  }
  if (type != LLCC68_PKT_TYPE_LORA) {
    uartLine("LoRa: restoring LoRa packet type before TX\n");
    if (llcc68_set_pkt_type(ctx(), LLCC68_PKT_TYPE_LORA) != LLCC68_STATUS_OK) {
      uartLine("LoRa: set_pkt_type failed before TX\n");
      return false;
    }
    (void)waitUntilIdle(100, "pre-tx set_pkt_type");
    if (llcc68_get_pkt_type(ctx(), &type) != LLCC68_STATUS_OK || type != LLCC68_PKT_TYPE_LORA) {
      uartLine("LoRa: packet type recheck failed before TX\n");
      return false;
    }
  }

  if (llcc68_set_fs(ctx()) != LLCC68_STATUS_OK) {
    uartLine("LoRa: set_fs failed before TX\n");
    return false;
  }
  if (!waitUntilIdle(100, "pre-tx fs") || !getStatusChecked("pre-tx status check #3", &status)) return false;
  if (!modeReadyForTx(status.chip_mode)) {
    uartLine("LoRa: radio not ready for TX after FS (mode=%u)\n", static_cast<unsigned>(status.chip_mode));
    return false;
  }
  if (!checkDeviceErrors("pre-tx error check #3")) return false;
  return waitUntilIdle(100, "pre-tx idle check #2");
}

void Llcc68Handler::send(const uint8_t* data, uint8_t len) {
  if (len == 0) return;
  if (!ensureInit()) return;

  const llcc68_pkt_params_lora_t pkt{8, LLCC68_LORA_PKT_EXPLICIT, len, true, false};
  const uint32_t airMs = llcc68_get_lora_time_on_air_in_ms(&pkt, &mcustate().lora);
  const auto abandon = [] { pins().ant1.setOff(); };

  if (!prepareForTx()) return abandon();
  if (llcc68_set_buffer_base_address(ctx(), 0, 0) != LLCC68_STATUS_OK ||
      llcc68_write_buffer(ctx(), 0, data, len) != LLCC68_STATUS_OK ||
      !getStatusChecked("pre-tx final status", nullptr) || !checkDeviceErrors("pre-tx final error check") ||
      !waitUntilIdle(100, "pre-tx idle check #3") ||
      llcc68_clear_irq_status(ctx(), LLCC68_IRQ_ALL) != LLCC68_STATUS_OK) {
    return abandon();
  }

  pins().ant1.setOn();
  if (llcc68_set_lora_pkt_params(ctx(), &pkt) != LLCC68_STATUS_OK ||
      llcc68_set_tx(ctx(), kTxTimeoutMs) != LLCC68_STATUS_OK) {
    return abandon();
  }
  // Not confirmed by an interrupt: the frame is on the air for its computed time.
  delayMsLowPower(airMs + kTxSettleMs);
  if (llcc68_clear_irq_status(ctx(), LLCC68_IRQ_TX_DONE | LLCC68_IRQ_TIMEOUT) != LLCC68_STATUS_OK ||
      llcc68_set_standby(ctx(), LLCC68_STANDBY_CFG_RC) != LLCC68_STATUS_OK) {
    return abandon();
  }
  for (unsigned i = 0; i < kStandbyBusyPolls && pins().busy.read(); ++i) delayMsLowPower(kStandbyBusyPollMs);
  abandon();
}

void delayMsLowPowerRadioSleep(uint32_t ms) {
  if (ms == 0) return;
  if (!llcc68HandlerInstance().isInitialized()) {
    delayMsLowPower(ms);
    return;
  }
  // A sleeping chip holds BUSY high, so this command's own BUSY wait runs out; that is expected.
  (void)llcc68_set_sleep(nullptr, LLCC68_SLEEP_CFG_WARM_START);
  delayMsLowPower(ms);
  (void)llcc68_wakeup(nullptr);
  (void)llcc68_hal_busy_wait_ready(100);
}

void lora_send(const uint8_t* data, uint8_t len) {
  static bool used = false;
  if (used) delayMsLowPowerRadioSleep(kFrameGapMs);
  unsigned busyCount = 0;
  while (loraChannelHasRssiEnergy(MCUState::Lora::channelBusyRssiDbm,
                                  static_cast<uint16_t>(MCUState::Lora::channelBusySampleTimeMs))) {
    delayMsLowPowerRadioSleep(kBackoffMs);
    if (++busyCount > kMaxBusySamples) break;
  }
  llcc68HandlerInstance().send(data, len);
  used = true;
}
