// Receive windows: arm the receiver, poll its interrupt flags, drop corrupt frames and re-arm for
// the rest of the window, read out a good frame and hand it to the receive callback.
#include <cstdio>

#include "Debug.h"
#include "MCUState.h"
#include "llcc68handler.h"
#include "sleep.h"
#include "stm32g0xx_hal.h"

namespace {

constexpr uint16_t kRxIrqMask =
    LLCC68_IRQ_RX_DONE | LLCC68_IRQ_HEADER_ERROR | LLCC68_IRQ_CRC_ERROR | LLCC68_IRQ_TIMEOUT;
constexpr uint16_t kRejectIrqs = LLCC68_IRQ_RX_DONE | LLCC68_IRQ_HEADER_ERROR | LLCC68_IRQ_CRC_ERROR;
constexpr uint32_t kPollPeriodMs = 5;
constexpr uint32_t kPollSlackMs = 20;
constexpr unsigned kExtraPolls = 4;
constexpr unsigned kStartBusyPolls = 50;

const detail::PinLayout::Lora& pins() { return mcustate().pin.lora; }

}  // namespace

LoraListenResult lora_listen(uint16_t timeout_ms) { return llcc68HandlerInstance().listen(timeout_ms); }

LoraListenResult Llcc68Handler::listen(uint16_t timeout_ms) {
  using Outcome = LoraListenResult::Outcome;
  LoraListenResult result{};
  if (!ensureInit()) return result;

  pins().ant2.setOn();
  const llcc68_pkt_params_lora_t pkt{8, LLCC68_LORA_PKT_EXPLICIT, 255, true, false};
  if (llcc68_set_lora_pkt_params(ctx(), &pkt) != LLCC68_STATUS_OK) {
    pins().ant2.setOff();
    return result;
  }
  (void)llcc68_set_buffer_base_address(ctx(), 0, 0);
  if (llcc68_set_dio_irq_params(ctx(), kRxIrqMask, 0, 0, 0) != LLCC68_STATUS_OK ||
      llcc68_clear_irq_status(ctx(), LLCC68_IRQ_ALL) != LLCC68_STATUS_OK ||
      llcc68_set_rx(ctx(), timeout_ms) != LLCC68_STATUS_OK) {
    pins().ant2.setOff();
    return result;
  }

  const uint32_t start = HAL_GetTick();
  for (unsigned i = 0; i < kStartBusyPolls && pins().busy.read(); ++i) delayMsLowPower(1);

  const uint32_t pollLimitMs = static_cast<uint32_t>(timeout_ms) + kPollSlackMs;
  const unsigned maxPolls = static_cast<unsigned>(pollLimitMs / kPollPeriodMs) + kExtraPolls;
  Outcome lastRejection = Outcome::crcError;
  unsigned rejections = 0;
  llcc68_irq_mask_t irq = 0;
  bool rearmFailed = false;

  for (unsigned polls = 0; HAL_GetTick() - start < pollLimitMs && polls < maxPolls;) {
    ++polls;
    if (llcc68_get_irq_status(ctx(), &irq) != LLCC68_STATUS_OK) {
      delayMsLowPower(kPollPeriodMs);
      continue;
    }
    if (irq & (LLCC68_IRQ_HEADER_ERROR | LLCC68_IRQ_CRC_ERROR)) {
      lastRejection = (irq & LLCC68_IRQ_HEADER_ERROR) ? Outcome::headerError : Outcome::crcError;
      ++rejections;
      (void)llcc68_clear_irq_status(ctx(), kRejectIrqs);
      irq = 0;
      const uint32_t elapsed = HAL_GetTick() - start;
      if (elapsed >= timeout_ms) break;
      // The rest of the window only: a re-arm never extends it.
      if (!waitUntilIdle(10, "rx re-arm") || llcc68_set_rx(ctx(), timeout_ms - elapsed) != LLCC68_STATUS_OK) {
        rearmFailed = true;
        break;
      }
      delayMsLowPower(kPollPeriodMs);
      continue;
    }
    if (irq & (LLCC68_IRQ_RX_DONE | LLCC68_IRQ_TIMEOUT)) break;
    delayMsLowPower(kPollPeriodMs);
  }

  result.elapsedMs = HAL_GetTick() - start;
  result.droppedFrames = static_cast<uint8_t>(rejections > 255 ? 255 : rejections);
  if (rearmFailed) {
    result.outcome = lastRejection;
  } else if (irq & LLCC68_IRQ_RX_DONE) {
    result.outcome = Outcome::rxDone;
  } else if ((irq & LLCC68_IRQ_TIMEOUT) || rejections > 0) {
    result.outcome = Outcome::timeout;
  } else {
    result.outcome = Outcome::pollExpired;
  }

  if (result.outcome == Outcome::rxDone) {
    llcc68_rx_buffer_status_t buffer{};
    if (llcc68_get_rx_buffer_status(ctx(), &buffer) == LLCC68_STATUS_OK && buffer.pld_len_in_bytes != 0 &&
        llcc68_read_buffer(ctx(), buffer.buffer_start_pointer, rxBuffer_.data(), buffer.pld_len_in_bytes) ==
            LLCC68_STATUS_OK) {
      llcc68_pkt_status_lora_t status{};
      if (llcc68_get_lora_pkt_status(ctx(), &status) == LLCC68_STATUS_OK) {
        result.rssiDbm = status.rssi_pkt_in_dbm;
        result.snrDb = status.snr_pkt_in_db;
      }
      result.len = buffer.pld_len_in_bytes;
      char line[128];
      const int n = std::snprintf(
          line, sizeof line, "LoRa RX: %u bytes (listen %lums, rssi %ddBm, snr %ddB, wake +%lums)\n",
          static_cast<unsigned>(result.len), static_cast<unsigned long>(result.elapsedMs),
          static_cast<int>(result.rssiDbm), static_cast<int>(result.snrDb), static_cast<unsigned long>(debugWakeMs()));
      if (n > 0) printRaw(line, n < static_cast<int>(sizeof line) ? n : static_cast<int>(sizeof line) - 1);
      if (rx_callback_ != nullptr) rx_callback_(rxBuffer_.data(), result.len, rx_user_);
    }
    if (result.len == 0) {
      debugV2("LoRa RX: RX_DONE but no payload read (listen %lums)\n", static_cast<unsigned long>(result.elapsedMs));
    }
  } else {
    debugV2("LoRa RX: %s after %lums (window %ums, %u corrupt frames dropped)\n", result.label(),
            static_cast<unsigned long>(result.elapsedMs), static_cast<unsigned>(timeout_ms),
            static_cast<unsigned>(result.droppedFrames));
  }

  (void)llcc68_clear_irq_status(ctx(), kRxIrqMask);
  pins().ant2.setOff();
  return result;
}
