// The local radio's receive loop, its answers' timing and channel sensing, on the node's command
// layer.
#include "local_radio.h"

#include <algorithm>
#include <cstdio>

#include "llcc68_driver.h"

namespace vantor {

namespace {

constexpr llcc68_mod_params_lora_t kModulation{LLCC68_LORA_SF7, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 0};
// The node's PA configuration for up to 14 dBm, and its ramp time.
constexpr llcc68_pa_cfg_params_t kPaConfig{0x02, 0x02, 0x00, 0x01};
// Sync word 0x12 in the high nibbles of both registers, as the node writes it.
constexpr uint8_t kSyncWord[2] = {0x10, 0x20};
constexpr uint16_t kImageCalLowMhz = 863;
constexpr uint16_t kImageCalHighMhz = 870;
constexpr uint16_t kRejectIrqs = LLCC68_IRQ_HEADER_ERROR | LLCC68_IRQ_CRC_ERROR;
constexpr uint16_t kIrqs = LLCC68_IRQ_RX_DONE | kRejectIrqs | LLCC68_IRQ_TX_DONE | LLCC68_IRQ_TIMEOUT;
constexpr uint32_t kTxTimeoutMs = 1000;
constexpr uint64_t kTxPollUs = 1'000;

llcc68_pkt_params_lora_t packetParams(uint8_t length) {
  return llcc68_pkt_params_lora_t{LocalRadio::kPreambleSymbols, LLCC68_LORA_PKT_EXPLICIT, length, true, false};
}

uint64_t timeOnAirUs(uint8_t length) {
  const llcc68_pkt_params_lora_t pkt = packetParams(length);
  const uint64_t numerator = llcc68_get_lora_time_on_air_numerator(&pkt, &kModulation);
  const uint64_t bw = llcc68_get_lora_bw_in_hz(static_cast<llcc68_lora_bw_t>(kModulation.bw));
  return (numerator * 1'000'000u + bw - 1) / bw;
}

bool ok(llcc68_status_t s) { return s == LLCC68_STATUS_OK; }

}  // namespace

LocalRadio::LocalRadio(RadioBus& bus, RadioCore& core, std::ostream& log)
    : bus_(bus), core_(core), log_(log), sys_(bus.system()) {}

bool LocalRadio::start(std::string& error) {
  if (!configure(error)) return false;
  // A chip whose oscillator does not run (a module with a TCXO that DIO3 must power) takes every
  // command but never receives: said here, not found out by a silent site.
  llcc68_chip_status_t status{};
  llcc68_errors_mask_t errors = 0;
  if (!receive() || !ok(llcc68_get_status(ctx(), &status)) || status.chip_mode != LLCC68_CHIP_MODE_RX ||
      !ok(llcc68_get_device_errors(ctx(), &errors)) || errors != 0) {
    char text[96];
    std::snprintf(text, sizeof text, "the radio does not receive: its status reads mode %u, device errors 0x%04X",
                  static_cast<unsigned>(status.chip_mode), static_cast<unsigned>(errors));
    error = text;
    return false;
  }
  return true;
}

bool LocalRadio::configure(std::string& error) {
  const RadioWiring& w = bus_.wiring();
  if (!ok(llcc68_reset(ctx()))) {
    error = "the radio does not come out of reset: BUSY (line " + std::to_string(w.busy) + " of " + w.chip +
            ") stays high after a pulse on RESET (line " + std::to_string(w.reset) + ")";
    return false;
  }
  sys_.sleepUs(10'000);
  llcc68_chip_status_t status{};
  if (!ok(llcc68_wakeup(ctx())) || !ok(llcc68_get_status(ctx(), &status)) ||
      (status.chip_mode != LLCC68_CHIP_MODE_STBY_RC && status.chip_mode != LLCC68_CHIP_MODE_STBY_XOSC)) {
    error = "no LLCC68 answers on " + w.spidev + ": its status reads mode " +
            std::to_string(static_cast<unsigned>(status.chip_mode)) + " (standby is 2 or 3)";
    return false;
  }
  // The node's configuration after power-up; the antenna switch follows RXEN/TXEN when they are
  // wired, else the chip's DIO2.
  const bool steps[] = {
      ok(llcc68_set_standby(ctx(), LLCC68_STANDBY_CFG_RC)),
      ok(llcc68_set_pkt_type(ctx(), LLCC68_PKT_TYPE_LORA)),
      ok(llcc68_cfg_tx_clamp(ctx())),
      ok(llcc68_cal_img_in_mhz(ctx(), kImageCalLowMhz, kImageCalHighMhz)),
      ok(llcc68_set_rf_freq(ctx(), kFreqHz)),
      ok(llcc68_set_lora_mod_params(ctx(), &kModulation)),
      ok(llcc68_set_pa_cfg(ctx(), &kPaConfig)),
      ok(llcc68_set_tx_params(ctx(), kTxPowerDbm, LLCC68_RAMP_40_US)),
      ok(llcc68_set_dio2_as_rf_sw_ctrl(ctx(), !bus_.hasSwitchLines())),
      ok(llcc68_write_register(ctx(), LLCC68_REG_LR_SYNCWORD, kSyncWord, sizeof kSyncWord)),
      ok(llcc68_clear_device_errors(ctx())),
      ok(llcc68_set_dio_irq_params(ctx(), kIrqs, bus_.wiring().dio1 ? kIrqs : 0, 0, 0)),
  };
  const auto failed = std::find(std::begin(steps), std::end(steps), false);
  if (failed != std::end(steps)) {
    error = "the radio refused its configuration (step " + std::to_string(failed - std::begin(steps) + 1) + " of " +
            std::to_string(std::size(steps)) + ")";
    return false;
  }
  return true;
}

bool LocalRadio::receive() {
  const llcc68_pkt_params_lora_t pkt = packetParams(255);
  bus_.transmitSwitch(false);
  bus_.receiveSwitch(true);
  return ok(llcc68_set_lora_pkt_params(ctx(), &pkt)) && ok(llcc68_set_buffer_base_address(ctx(), 0, 0)) &&
         ok(llcc68_clear_irq_status(ctx(), LLCC68_IRQ_ALL)) &&
         ok(llcc68_set_rx_with_timeout_in_rtc_step(ctx(), LLCC68_RX_CONTINUOUS));
}

void LocalRadio::run(const std::function<bool()>& stop) {
  const uint64_t period = bus_.wiring().dio1 ? kDio1PollUs : kPollUs;
  uint64_t nextPollUs = sys_.monotonicUs();
  uint64_t nextCheckUs = nextPollUs + kCheckUs;
  while (!stop()) {
    const uint64_t now = sys_.monotonicUs();
    if (!pending_.empty() && pending_.front().atUs <= now) {
      step(pending_.front(), now);
      continue;
    }
    if (now >= nextCheckUs) {
      check();
      nextCheckUs = now + kCheckUs;
    }
    if (now >= nextPollUs) {
      poll();
      // On a steady beat; one that fell behind (a transmission) starts afresh.
      nextPollUs = now - nextPollUs < period ? nextPollUs + period : now + period;
      continue;
    }
    sys_.sleepUs(std::min(nextPollUs, pending_.empty() ? nextPollUs : pending_.front().atUs) - now);
  }
}

void LocalRadio::poll() {
  if (down_) {
    if (sys_.monotonicUs() >= retryAtUs_) recover();
    return;
  }
  if (!bus_.irqPending()) return;
  llcc68_irq_mask_t irq = 0;
  if (!ok(llcc68_get_irq_status(ctx(), &irq))) {
    if (++failures_ >= kFailuresBeforeReset) lost("stopped answering");
    return;
  }
  failures_ = 0;
  if (irq & kRejectIrqs) {
    // The radio's CRC or header check refused it: nothing reaches the core. Reception goes on.
    ++counts_.dropped;
    (void)llcc68_clear_irq_status(ctx(), LLCC68_IRQ_RX_DONE | kRejectIrqs);
    return;
  }
  if (irq & LLCC68_IRQ_RX_DONE) take(sys_.monotonicUs());
}

void LocalRadio::take(uint64_t endUs) {
  llcc68_rx_buffer_status_t buffer{};
  uint8_t bytes[256];
  llcc68_pkt_status_lora_t status{};
  const bool read = ok(llcc68_get_rx_buffer_status(ctx(), &buffer)) && buffer.pld_len_in_bytes != 0 &&
                    ok(llcc68_read_buffer(ctx(), buffer.buffer_start_pointer, bytes, buffer.pld_len_in_bytes));
  const bool measured = read && ok(llcc68_get_lora_pkt_status(ctx(), &status));
  (void)llcc68_clear_irq_status(ctx(), LLCC68_IRQ_RX_DONE);
  if (!read) return;
  ++counts_.heard;
  HeardFrame heard;
  heard.bytes.assign(bytes, bytes + buffer.pld_len_in_bytes);
  // Seen at the first poll after its end: the start is that, less its time on air.
  const uint64_t sinceEndUs = sys_.monotonicUs() - endUs;
  heard.rx.tUs = sys_.utcUs() - sinceEndUs - timeOnAirUs(buffer.pld_len_in_bytes);
  if (measured) {
    heard.rx.rssiDbm = status.rssi_pkt_in_dbm;
    heard.rx.snrDb = status.snr_pkt_in_db;
  }
  heard.rx.port = "radio";
  heard.rx.receiver = bus_.wiring().spidev;
  heard.soonestAnswerUs = kAnswerDelayUs;
  std::optional<Answer> answer = core_.heard(heard);
  if (!answer) return;
  Pending p;
  p.atUs = endUs + answer->delayUs;
  p.answer = std::move(*answer);
  pending_.push_back(std::move(p));
  keepInTimeOrder();
}

void LocalRadio::step(Pending& p, uint64_t nowUs) {
  if (p.sensing.sampling()) {
    // The receiver is on: its instantaneous RSSI is the channel's.
    int16_t rssi = 0;
    const bool read = ok(llcc68_get_rssi_inst(ctx(), &rssi));
    const uint64_t waitUs = p.sensing.sampled(read ? std::optional<double>(rssi) : std::nullopt);
    if (waitUs != 0) {
      p.atUs = nowUs + waitUs;
      keepInTimeOrder();
      return;
    }
  }
  Pending due = std::move(p);
  pending_.erase(pending_.begin());
  if (transmit(due.answer.frame)) {
    ++counts_.answered;
  } else {
    ++counts_.failed;
    log_ << "vantor: the radio did not send the " << due.answer.what << " answer\n";
    core_.refused(due.answer, "the radio did not send it");
  }
  if (!down_ && !receive()) lost("does not go back to receive");
}

bool LocalRadio::transmit(const std::vector<uint8_t>& frame) {
  if (frame.empty() || frame.size() > 255) return false;
  const uint8_t length = static_cast<uint8_t>(frame.size());
  const llcc68_pkt_params_lora_t pkt = packetParams(length);
  bus_.receiveSwitch(false);
  if (!ok(llcc68_set_standby(ctx(), LLCC68_STANDBY_CFG_RC)) || !ok(llcc68_set_buffer_base_address(ctx(), 0, 0)) ||
      !ok(llcc68_write_buffer(ctx(), 0, frame.data(), length)) || !ok(llcc68_set_lora_pkt_params(ctx(), &pkt)) ||
      !ok(llcc68_clear_irq_status(ctx(), LLCC68_IRQ_ALL))) {
    return false;
  }
  bus_.transmitSwitch(true);
  bool sent = false;
  if (ok(llcc68_set_tx(ctx(), kTxTimeoutMs))) {
    // Confirmed by the chip, unlike the node's fixed wait: the answer's fate is reported.
    const uint64_t start = sys_.monotonicUs();
    const uint64_t limit = timeOnAirUs(length) + kTxSlackUs;
    for (;;) {
      sys_.sleepUs(kTxPollUs);
      llcc68_irq_mask_t irq = 0;
      if (ok(llcc68_get_irq_status(ctx(), &irq)) && (irq & (LLCC68_IRQ_TX_DONE | LLCC68_IRQ_TIMEOUT))) {
        sent = (irq & LLCC68_IRQ_TX_DONE) != 0;
        break;
      }
      if (sys_.monotonicUs() - start >= limit) break;
    }
  }
  bus_.transmitSwitch(false);
  return sent;
}

void LocalRadio::check() {
  llcc68_chip_status_t status{};
  if (down_ || !ok(llcc68_get_status(ctx(), &status)) || status.chip_mode == LLCC68_CHIP_MODE_RX) return;
  lost("had left receive (its status reads mode " + std::to_string(static_cast<unsigned>(status.chip_mode)) + ")");
}

void LocalRadio::lost(const std::string& why) {
  log_ << "vantor: the radio " << why << '\n';
  recover();
}

void LocalRadio::recover() {
  failures_ = 0;
  std::string error;
  if (configure(error) && receive()) {
    ++counts_.resets;
    log_ << (down_ ? "vantor: the radio answers again\n" : "vantor: the radio was reset and configured again\n");
    down_ = false;
    return;
  }
  if (!down_) log_ << "vantor: a reset did not help (" << error << "); trying again every second\n";
  down_ = true;
  retryAtUs_ = sys_.monotonicUs() + kRetryUs;
}

void LocalRadio::keepInTimeOrder() {
  std::stable_sort(pending_.begin(), pending_.end(),
                   [](const Pending& a, const Pending& b) { return a.atUs < b.atUs; });
}

}  // namespace vantor
