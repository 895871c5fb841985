// Radio handler: its one instance, the chip configuration after power-up, the health checks that
// every transmission runs and the chip report.
#include "llcc68handler.h"

#include <cstdarg>
#include <cstdio>

#include "Debug.h"
#include "MCUState.h"
#include "RTCMem.h"
#include "llcc68_hal.h"
#include "sleep.h"
#include "stm32g0xx_hal.h"

namespace {

constexpr uint32_t kUartLineTimeoutMs = 200;
constexpr uint16_t kImageCalLowMhz = 863;
constexpr uint16_t kImageCalHighMhz = 870;
constexpr llcc68_pa_cfg_params_t kPaConfig{0x02, 0x02, 0x00, 0x01};
// LoRa sync word 0x12 in the high nibbles of both registers; the low nibbles are written as 0.
constexpr uint8_t kSyncWord[2] = {0x10, 0x20};

// The node transmits at 0..14 dBm, the range a remote setting can give. A backup register holding
// anything else (a damaged RTC domain) must not drive the radio outside it.
constexpr int kStoredTxPowerMinDbm = 0;
constexpr int kStoredTxPowerMaxDbm = 14;

const char* cmdStatusName(unsigned v) {
  static const char* const kNames[] = {
      "RESERVED", "RFU", "DATA_AVAILABLE", "CMD_TIMEOUT", "CMD_PROCESS_ERROR", "CMD_EXEC_FAILURE", "CMD_TX_DONE"};
  return v < sizeof kNames / sizeof kNames[0] ? kNames[v] : "UNKNOWN";
}

const char* chipModeName(unsigned v) {
  static const char* const kNames[] = {"UNUSED", "RFU", "STBY_RC", "STBY_XOSC", "FS", "RX", "TX"};
  return v < sizeof kNames / sizeof kNames[0] ? kNames[v] : "UNKNOWN";
}

// Names of the set error bits, joined with ","; stops at the first name that does not fit.
void deviceErrorList(uint16_t errors, char* out, size_t size) {
  struct Bit {
    uint16_t mask;
    const char* name;
  };
  static const Bit kBits[] = {{LLCC68_ERRORS_RC64K_CALIBRATION, "RC64K"}, {LLCC68_ERRORS_RC13M_CALIBRATION, "RC13M"},
                              {LLCC68_ERRORS_PLL_CALIBRATION, "PLL_CAL"}, {LLCC68_ERRORS_ADC_CALIBRATION, "ADC_CAL"},
                              {LLCC68_ERRORS_IMG_CALIBRATION, "IMG_CAL"}, {LLCC68_ERRORS_XOSC_START, "XOSC"},
                              {LLCC68_ERRORS_PLL_LOCK, "PLL_LOCK"},       {LLCC68_ERRORS_PA_RAMP, "PA_RAMP"}};
  size_t used = 0;
  out[0] = '\0';
  for (const Bit& bit : kBits) {
    if ((errors & bit.mask) == 0) continue;
    const int n = std::snprintf(out + used, size - used, "%s%s", used == 0 ? "" : ",", bit.name);
    if (n < 0 || static_cast<size_t>(n) >= size - used) {
      out[used] = '\0';
      return;
    }
    used += static_cast<size_t>(n);
  }
}

}  // namespace

const char* LoraListenResult::label() const {
  switch (outcome) {
    case Outcome::setupFailed: return "setup-failed";
    case Outcome::rxDone: return "rx-done";
    case Outcome::crcError: return "crc-error";
    case Outcome::headerError: return "header-error";
    case Outcome::timeout: return "timeout";
    case Outcome::pollExpired: return "poll-expired";
  }
  return "?";
}

Llcc68Handler& llcc68HandlerInstance() {
  static const Llcc68HandlerConfig config{&setMCUGstate(), nullptr};
  static Llcc68Handler handler(&config);
  return handler;
}

bool loraSetTxPowerDbm(int8_t dbm) { return llcc68HandlerInstance().setTxPowerDbm(dbm); }

int8_t storedTxPowerDbm() {
  const int dbm = rtcMem().txPowerDbm.get();
  return static_cast<int8_t>(dbm < kStoredTxPowerMinDbm   ? kStoredTxPowerMinDbm
                             : dbm > kStoredTxPowerMaxDbm ? kStoredTxPowerMaxDbm
                                                          : dbm);
}

Llcc68Handler::Llcc68Handler(const Llcc68HandlerConfig* config)
    : config_(config), initialized_(false), rx_callback_(nullptr), rx_user_(nullptr), rxBuffer_{} {}

void Llcc68Handler::setRxCallback(Llcc68RxCallback callback, void* user) {
  rx_callback_ = callback;
  rx_user_ = user;
}

bool Llcc68Handler::ensureInit() { return init(); }

bool Llcc68Handler::init() {
  if (initialized_) return true;
  const MCUState::Lora& lora = mcustate().lora;

  if (llcc68_reset(ctx()) != LLCC68_STATUS_OK) return false;
  delayMsLowPower(10);
  const llcc68_status_t woke = llcc68_wakeup(ctx());
  if (woke != LLCC68_STATUS_OK) {
    debugV2("Error awakening, status: %d\n", static_cast<int>(woke));
    return false;
  }
  delayMsLowPower(2);

  llcc68_chip_status_t status{};
  if (llcc68_get_status(ctx(), &status) != LLCC68_STATUS_OK) {
    debug("Error getting status");
  } else if (statusIsError(status)) {
    uartLine("LoRa: bad status after wakeup (cmd=%s mode=%s)\n", cmdStatusName(status.cmd_status),
             chipModeName(status.chip_mode));
  }

  if (llcc68_set_pkt_type(ctx(), LLCC68_PKT_TYPE_LORA) != LLCC68_STATUS_OK) {
    debug("Error setting packet type");
    return false;
  }
  (void)llcc68_cfg_tx_clamp(ctx());
  (void)llcc68_cal_img_in_mhz(ctx(), kImageCalLowMhz, kImageCalHighMhz);
  if (llcc68_set_rf_freq(ctx(), lora.freq) != LLCC68_STATUS_OK) {
    debug("Error setting RF frequency");
    return false;
  }
  if (llcc68_set_lora_mod_params(ctx(), &lora) != LLCC68_STATUS_OK) {
    debug("Error setting LoRa modulation parameters");
    return false;
  }
  (void)llcc68_set_pa_cfg(ctx(), &kPaConfig);
  if (llcc68_set_tx_params(ctx(), storedTxPowerDbm(), static_cast<llcc68_ramp_time_t>(lora.rTime)) !=
      LLCC68_STATUS_OK) {
    debug("Error setting TX parameters");
    return false;
  }
  // The antenna switch is driven from the ant1/ant2 pins, not by the chip.
  if (llcc68_set_dio2_as_rf_sw_ctrl(ctx(), false) != LLCC68_STATUS_OK) {
    debug("Error setting DIO2 as RF switch control");
    return false;
  }
  if (llcc68_write_register(ctx(), LLCC68_REG_LR_SYNCWORD, kSyncWord, sizeof kSyncWord) != LLCC68_STATUS_OK) {
    debug("Error setting syncWord");
    return false;
  }
  if (llcc68_clear_device_errors(ctx()) == LLCC68_STATUS_OK) (void)waitUntilIdle(100, "init clear_device_errors");
  (void)llcc68_init_retention_list(ctx());

  initialized_ = true;
  debug("Lora configured\n");
  printChipInfo();
  return true;
}

bool Llcc68Handler::setTxPowerDbm(int8_t dbm) {
  if (!ensureInit()) return false;
  return llcc68_set_tx_params(ctx(), dbm, static_cast<llcc68_ramp_time_t>(mcustate().lora.rTime)) == LLCC68_STATUS_OK;
}

bool Llcc68Handler::waitUntilIdle(uint32_t timeout_ms, const char* stage) {
  if (llcc68_hal_busy_wait_ready(timeout_ms)) return true;
  uartLine("LoRa: BUSY timeout during %s\n", stage);
  return false;
}

bool Llcc68Handler::statusIsError(const llcc68_chip_status_t& status) {
  return status.cmd_status == LLCC68_CMD_STATUS_CMD_TIMEOUT ||
         status.cmd_status == LLCC68_CMD_STATUS_CMD_PROCESS_ERROR ||
         status.cmd_status == LLCC68_CMD_STATUS_CMD_EXEC_FAILURE;
}

bool Llcc68Handler::getStatusChecked(const char* stage, llcc68_chip_status_t* out) {
  llcc68_chip_status_t status{};
  if (llcc68_get_status(ctx(), &status) != LLCC68_STATUS_OK) {
    uartLine("LoRa: get_status failed during %s\n", stage);
    return false;
  }
  if (statusIsError(status)) {
    uartLine("LoRa: bad status during %s (cmd=%u mode=%u)\n", stage, static_cast<unsigned>(status.cmd_status),
             static_cast<unsigned>(status.chip_mode));
    return false;
  }
  if (out != nullptr) *out = status;
  return true;
}

bool Llcc68Handler::checkDeviceErrors(const char* stage) {
  llcc68_errors_mask_t errors = 0;
  if (llcc68_get_device_errors(ctx(), &errors) != LLCC68_STATUS_OK) {
    uartLine("LoRa: get_device_errors failed during %s\n", stage);
    return false;
  }
  if (errors == 0) return true;
  uartLine("LoRa: clearing device errors 0x%04X during %s\n", static_cast<unsigned>(errors), stage);
  if (llcc68_clear_device_errors(ctx()) != LLCC68_STATUS_OK) {
    uartLine("LoRa: clear_device_errors failed during %s\n", stage);
    return false;
  }
  if (!waitUntilIdle(100, "clear_device_errors")) return false;
  if (llcc68_get_device_errors(ctx(), &errors) != LLCC68_STATUS_OK) {
    uartLine("LoRa: get_device_errors recheck failed during %s\n", stage);
    return false;
  }
  if (errors == 0) return true;
  char names[96];
  deviceErrorList(errors, names, sizeof names);
  if (names[0] != '\0') {
    uartLine("LoRa: persistent device errors 0x%04X (%s) during %s\n", static_cast<unsigned>(errors), names, stage);
  } else {
    uartLine("LoRa: persistent device errors 0x%04X during %s\n", static_cast<unsigned>(errors), stage);
  }
  return false;
}

void Llcc68Handler::printChipInfo() {
  if (!initialized_) return;
  const bool idle = waitUntilIdle(100, "chip_info busy");
  llcc68_pkt_type_t type = LLCC68_PKT_TYPE_GFSK;
  // A failed status read shows as mode 0 (UNUSED): the chip did not tell.
  llcc68_chip_status_t status{};
  llcc68_errors_mask_t errors = 0;
  uint32_t random = 0;
  int16_t rssi = -127;
  (void)llcc68_get_pkt_type(ctx(), &type);
  (void)llcc68_get_status(ctx(), &status);
  (void)llcc68_get_device_errors(ctx(), &errors);
  (void)llcc68_get_random_numbers(ctx(), &random, 1);
  (void)llcc68_get_rssi_inst(ctx(), &rssi);

  uartLine("\n========== LLCC68 / SX126x CHIP INFO ==========\n");
  uartLine("  Packet type:      %s (0x%02X)\n", type == LLCC68_PKT_TYPE_LORA ? "LoRa" : "FSK",
           static_cast<unsigned>(type));
  uartLine("  Chip mode:        0x%02X (%s)\n", static_cast<unsigned>(status.chip_mode),
           chipModeName(status.chip_mode));
  uartLine("  Device errors:   0x%04X (%s)\n", static_cast<unsigned>(errors), errors == 0 ? "none" : "set");
  uartLine("  Random (reg):    0x%08lX\n", static_cast<unsigned long>(random));
  uartLine("  RSSI inst (dBm): %d\n", static_cast<int>(rssi));
  uartLine("  Busy (100ms):    %s\n", idle ? "OK (idle)" : "TIMEOUT (stuck?)");
  uartLine("================================================\n\n");
}

void Llcc68Handler::uartLine(const char* format, ...) {
  if (config_ == nullptr || config_->mcuState == nullptr || config_->mcuState->hlpuart1 == nullptr) return;
  char line[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 1 || n > 255) return;
  (void)HAL_UART_Transmit(config_->mcuState->hlpuart1, reinterpret_cast<const uint8_t*>(line), static_cast<uint16_t>(n),
                          kUartLineTimeoutMs);
}
