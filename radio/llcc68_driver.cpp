// LLCC68 command layer: command frames, reply decoding, unit conversions and the chip fix-ups
// (TX modulation, IQ polarity, TX clamp, retention list, random numbers).
#include "llcc68_driver.h"

#include <cstring>

#include "llcc68_hal.h"
#include "lora_airtime.h"

namespace {

constexpr uint8_t kTxModulationBw500Bit = 0x04;
constexpr uint8_t kIqPolarityNormalBit = 0x04;
constexpr uint8_t kTxClampBits = 0x1E;
constexpr uint8_t kLnaRngBit = 0x01;
constexpr uint8_t kMixerRngBit = 0x80;
constexpr unsigned kRetentionListBytes = 1 + 2 * LLCC68_MAX_NB_REG_IN_RETENTION;

llcc68_status_t write(const void* context, const uint8_t* command, uint16_t length, const uint8_t* data = nullptr,
                      uint16_t dataLength = 0) {
  return static_cast<llcc68_status_t>(llcc68_hal_write(context, command, length, data, dataLength));
}

llcc68_status_t read(const void* context, const uint8_t* command, uint16_t length, uint8_t* data, uint16_t dataLength) {
  return static_cast<llcc68_status_t>(llcc68_hal_read(context, command, length, data, dataLength));
}

// Opcode with a NOP during which the chip returns its status, then a fixed-size reply cleared
// first so that NOP bytes go out while it is clocked in.
template <size_t N>
llcc68_status_t readReply(const void* context, uint8_t opcode, uint8_t (&reply)[N]) {
  const uint8_t command[2] = {opcode, LLCC68_NOP};
  std::memset(reply, 0, N);
  return read(context, command, sizeof command, reply, N);
}

llcc68_status_t setTimer(const void* context, uint8_t opcode, uint32_t steps) {
  const uint8_t command[4] = {opcode, static_cast<uint8_t>(steps >> 16), static_cast<uint8_t>(steps >> 8),
                              static_cast<uint8_t>(steps)};
  return write(context, command, sizeof command);
}

llcc68_status_t readModifyWrite(const void* context, uint16_t address, uint8_t andMask, uint8_t orMask) {
  uint8_t value = 0;
  llcc68_status_t status = llcc68_read_register(context, address, &value, 1);
  if (status != LLCC68_STATUS_OK) return status;
  value = static_cast<uint8_t>((value & andMask) | orMask);
  return llcc68_write_register(context, address, &value, 1);
}

// Set `bit` or clear it in a one-byte register.
llcc68_status_t setBit(const void* context, uint16_t address, uint8_t bit, bool on) {
  return on ? readModifyWrite(context, address, 0xFF, bit)
            : readModifyWrite(context, address, static_cast<uint8_t>(~bit), 0);
}

bool isUnsupportedLoraPair(uint8_t sf, uint8_t bw) {
  return (bw == LLCC68_LORA_BW_250 && sf == LLCC68_LORA_SF11) ||
         (bw == LLCC68_LORA_BW_125 && (sf == LLCC68_LORA_SF10 || sf == LLCC68_LORA_SF11));
}

}  // namespace

extern "C" {

llcc68_status_t llcc68_set_sleep(const void* context, llcc68_sleep_cfgs_t cfg) {
  const uint8_t command[2] = {LLCC68_SET_SLEEP, static_cast<uint8_t>(cfg)};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_set_standby(const void* context, llcc68_standby_cfgs_t cfg) {
  const uint8_t command[2] = {LLCC68_SET_STANDBY, static_cast<uint8_t>(cfg)};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_set_fs(const void* context) {
  const uint8_t command[1] = {LLCC68_SET_FS};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_set_tx_with_timeout_in_rtc_step(const void* context, uint32_t timeout_in_rtc_step) {
  return setTimer(context, LLCC68_SET_TX, timeout_in_rtc_step);
}

llcc68_status_t llcc68_set_tx(const void* context, uint32_t timeout_in_ms) {
  if (timeout_in_ms > LLCC68_MAX_TIMEOUT_IN_MS) return LLCC68_STATUS_UNKNOWN_VALUE;
  return llcc68_set_tx_with_timeout_in_rtc_step(context, llcc68_convert_timeout_in_ms_to_rtc_step(timeout_in_ms));
}

llcc68_status_t llcc68_set_rx_with_timeout_in_rtc_step(const void* context, uint32_t timeout_in_rtc_step) {
  return setTimer(context, LLCC68_SET_RX, timeout_in_rtc_step);
}

llcc68_status_t llcc68_set_rx(const void* context, uint32_t timeout_in_ms) {
  if (timeout_in_ms > LLCC68_MAX_TIMEOUT_IN_MS) return LLCC68_STATUS_UNKNOWN_VALUE;
  return llcc68_set_rx_with_timeout_in_rtc_step(context, llcc68_convert_timeout_in_ms_to_rtc_step(timeout_in_ms));
}

llcc68_status_t llcc68_cal_img(const void* context, uint8_t freq1, uint8_t freq2) {
  const uint8_t command[3] = {LLCC68_CALIBRATE_IMAGE, freq1, freq2};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_cal_img_in_mhz(const void* context, uint16_t freq1_in_mhz, uint16_t freq2_in_mhz) {
  // The band must cover both ends: round the lower one down and the upper one up.
  const uint16_t freq1 = freq1_in_mhz / LLCC68_IMAGE_CALIBRATION_STEP_IN_MHZ;
  const uint16_t freq2 =
      (freq2_in_mhz + LLCC68_IMAGE_CALIBRATION_STEP_IN_MHZ - 1) / LLCC68_IMAGE_CALIBRATION_STEP_IN_MHZ;
  return llcc68_cal_img(context, static_cast<uint8_t>(freq1), static_cast<uint8_t>(freq2));
}

llcc68_status_t llcc68_set_pa_cfg(const void* context, const llcc68_pa_cfg_params_t* params) {
  const uint8_t command[5] = {LLCC68_SET_PA_CFG, params->pa_duty_cycle, params->hp_max, params->device_sel,
                              params->pa_lut};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_write_register(const void* context, uint16_t address, const uint8_t* buffer, uint8_t size) {
  const uint8_t command[3] = {LLCC68_WRITE_REGISTER, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
  return write(context, command, sizeof command, buffer, size);
}

llcc68_status_t llcc68_read_register(const void* context, uint16_t address, uint8_t* buffer, uint8_t size) {
  const uint8_t command[4] = {LLCC68_READ_REGISTER, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                              LLCC68_NOP};
  return read(context, command, sizeof command, buffer, size);
}

llcc68_status_t llcc68_write_buffer(const void* context, uint8_t offset, const uint8_t* buffer, uint8_t size) {
  const uint8_t command[2] = {LLCC68_WRITE_BUFFER, offset};
  return write(context, command, sizeof command, buffer, size);
}

llcc68_status_t llcc68_read_buffer(const void* context, uint8_t offset, uint8_t* buffer, uint8_t size) {
  const uint8_t command[3] = {LLCC68_READ_BUFFER, offset, LLCC68_NOP};
  return read(context, command, sizeof command, buffer, size);
}

llcc68_status_t llcc68_set_dio_irq_params(const void* context, uint16_t irq_mask, uint16_t dio1_mask,
                                          uint16_t dio2_mask, uint16_t dio3_mask) {
  const uint8_t command[9] = {LLCC68_SET_DIO_IRQ_PARAMS,       static_cast<uint8_t>(irq_mask >> 8),
                              static_cast<uint8_t>(irq_mask),  static_cast<uint8_t>(dio1_mask >> 8),
                              static_cast<uint8_t>(dio1_mask), static_cast<uint8_t>(dio2_mask >> 8),
                              static_cast<uint8_t>(dio2_mask), static_cast<uint8_t>(dio3_mask >> 8),
                              static_cast<uint8_t>(dio3_mask)};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_get_irq_status(const void* context, llcc68_irq_mask_t* irq) {
  uint8_t reply[2];
  const llcc68_status_t status = readReply(context, LLCC68_GET_IRQ_STATUS, reply);
  if (status == LLCC68_STATUS_OK) *irq = static_cast<llcc68_irq_mask_t>((reply[0] << 8) | reply[1]);
  return status;
}

llcc68_status_t llcc68_clear_irq_status(const void* context, llcc68_irq_mask_t irq_mask) {
  const uint8_t command[3] = {LLCC68_CLR_IRQ_STATUS, static_cast<uint8_t>(irq_mask >> 8),
                              static_cast<uint8_t>(irq_mask)};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_set_dio2_as_rf_sw_ctrl(const void* context, bool enable) {
  const uint8_t command[2] = {LLCC68_SET_DIO2_AS_RF_SWITCH_CTRL, static_cast<uint8_t>(enable ? 1 : 0)};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_set_rf_freq_in_pll_steps(const void* context, uint32_t freq_in_pll_steps) {
  const uint8_t command[5] = {LLCC68_SET_RF_FREQUENCY, static_cast<uint8_t>(freq_in_pll_steps >> 24),
                              static_cast<uint8_t>(freq_in_pll_steps >> 16),
                              static_cast<uint8_t>(freq_in_pll_steps >> 8), static_cast<uint8_t>(freq_in_pll_steps)};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_set_rf_freq(const void* context, uint32_t freq_in_hz) {
  return llcc68_set_rf_freq_in_pll_steps(context, llcc68_convert_freq_in_hz_to_pll_step(freq_in_hz));
}

llcc68_status_t llcc68_set_pkt_type(const void* context, llcc68_pkt_type_t pkt_type) {
  const uint8_t command[2] = {LLCC68_SET_PKT_TYPE, static_cast<uint8_t>(pkt_type)};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_get_pkt_type(const void* context, llcc68_pkt_type_t* pkt_type) {
  uint8_t reply[1];
  const llcc68_status_t status = readReply(context, LLCC68_GET_PKT_TYPE, reply);
  if (status == LLCC68_STATUS_OK) *pkt_type = static_cast<llcc68_pkt_type_t>(reply[0]);
  return status;
}

llcc68_status_t llcc68_set_tx_params(const void* context, int8_t pwr_in_dbm, llcc68_ramp_time_t ramp_time) {
  const uint8_t command[3] = {LLCC68_SET_TX_PARAMS, static_cast<uint8_t>(pwr_in_dbm), static_cast<uint8_t>(ramp_time)};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_set_lora_mod_params(const void* context, const llcc68_mod_params_lora_t* params) {
  if (isUnsupportedLoraPair(params->sf, params->bw)) return LLCC68_STATUS_UNSUPPORTED_FEATURE;
  const uint8_t command[5] = {LLCC68_SET_MODULATION_PARAMS, params->sf, params->bw, params->cr,
                              static_cast<uint8_t>(params->ldro & 0x01)};
  const llcc68_status_t status = write(context, command, sizeof command);
  if (status != LLCC68_STATUS_OK) return status;
  // TX modulation fix-up: the bit must be clear only for LoRa at 500 kHz.
  return setBit(context, LLCC68_REG_TX_MODULATION, kTxModulationBw500Bit, params->bw != LLCC68_LORA_BW_500);
}

llcc68_status_t llcc68_set_lora_pkt_params(const void* context, const llcc68_pkt_params_lora_t* params) {
  const uint8_t command[7] = {LLCC68_SET_PKT_PARAMS,
                              static_cast<uint8_t>(params->preamble_len_in_symb >> 8),
                              static_cast<uint8_t>(params->preamble_len_in_symb),
                              params->header_type,
                              params->pld_len_in_bytes,
                              static_cast<uint8_t>(params->crc_is_on ? 1 : 0),
                              static_cast<uint8_t>(params->invert_iq_is_on ? 1 : 0)};
  const llcc68_status_t status = write(context, command, sizeof command);
  if (status != LLCC68_STATUS_OK) return status;
  // IQ polarity fix-up: the bit is set for normal IQ and clear for inverted IQ.
  return setBit(context, LLCC68_REG_IQ_POLARITY, kIqPolarityNormalBit, !params->invert_iq_is_on);
}

llcc68_status_t llcc68_set_buffer_base_address(const void* context, uint8_t tx_base_address, uint8_t rx_base_address) {
  const uint8_t command[3] = {LLCC68_SET_BUFFER_BASE_ADDRESS, tx_base_address, rx_base_address};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_get_status(const void* context, llcc68_chip_status_t* radio_status) {
  const uint8_t command[1] = {LLCC68_GET_STATUS};
  uint8_t reply[1] = {0};
  const llcc68_status_t status = read(context, command, sizeof command, reply, sizeof reply);
  if (status == LLCC68_STATUS_OK) {
    radio_status->cmd_status = static_cast<llcc68_cmd_status_t>((reply[0] >> 1) & 0x07);
    radio_status->chip_mode = static_cast<llcc68_chip_modes_t>((reply[0] >> 4) & 0x07);
  }
  return status;
}

llcc68_status_t llcc68_get_rx_buffer_status(const void* context, llcc68_rx_buffer_status_t* rx_buffer_status) {
  uint8_t reply[2];
  const llcc68_status_t status = readReply(context, LLCC68_GET_RX_BUFFER_STATUS, reply);
  if (status == LLCC68_STATUS_OK) {
    rx_buffer_status->pld_len_in_bytes = reply[0];
    rx_buffer_status->buffer_start_pointer = reply[1];
  }
  return status;
}

llcc68_status_t llcc68_get_lora_pkt_status(const void* context, llcc68_pkt_status_lora_t* pkt_status) {
  uint8_t reply[3];
  const llcc68_status_t status = readReply(context, LLCC68_GET_PKT_STATUS, reply);
  if (status == LLCC68_STATUS_OK) {
    // Arithmetic shifts: the halves round toward minus infinity.
    pkt_status->rssi_pkt_in_dbm = static_cast<int8_t>((-static_cast<int32_t>(reply[0])) >> 1);
    pkt_status->snr_pkt_in_db = static_cast<int8_t>((static_cast<int32_t>(static_cast<int8_t>(reply[1])) + 2) >> 2);
    pkt_status->signal_rssi_pkt_in_dbm = static_cast<int8_t>((-static_cast<int32_t>(reply[2])) >> 1);
  }
  return status;
}

llcc68_status_t llcc68_get_rssi_inst(const void* context, int16_t* rssi_in_dbm) {
  uint8_t reply[1];
  const llcc68_status_t status = readReply(context, LLCC68_GET_RSSI_INST, reply);
  if (status == LLCC68_STATUS_OK) *rssi_in_dbm = static_cast<int16_t>((-static_cast<int32_t>(reply[0])) >> 1);
  return status;
}

llcc68_status_t llcc68_get_device_errors(const void* context, llcc68_errors_mask_t* errors) {
  uint8_t reply[2];
  const llcc68_status_t status = readReply(context, LLCC68_GET_DEVICE_ERRORS, reply);
  if (status == LLCC68_STATUS_OK) *errors = static_cast<llcc68_errors_mask_t>((reply[0] << 8) | reply[1]);
  return status;
}

llcc68_status_t llcc68_clear_device_errors(const void* context) {
  const uint8_t command[3] = {LLCC68_CLR_DEVICE_ERRORS, 0x00, 0x00};
  return write(context, command, sizeof command);
}

llcc68_status_t llcc68_reset(const void* context) { return static_cast<llcc68_status_t>(llcc68_hal_reset(context)); }

llcc68_status_t llcc68_wakeup(const void* context) { return static_cast<llcc68_status_t>(llcc68_hal_wakeup(context)); }

llcc68_status_t llcc68_cfg_tx_clamp(const void* context) {
  return readModifyWrite(context, LLCC68_REG_TX_CLAMP_CFG, 0xFF, kTxClampBits);
}

llcc68_status_t llcc68_add_registers_to_retention_list(const void* context, const uint16_t* register_addr,
                                                       uint8_t register_nb) {
  uint8_t list[kRetentionListBytes] = {0};
  const llcc68_status_t status =
      llcc68_read_register(context, LLCC68_REG_RETENTION_LIST_BASE_ADDRESS, list, sizeof list);
  if (status != LLCC68_STATUS_OK) return status;
  const uint8_t initialCount = list[0];
  if (initialCount > LLCC68_MAX_NB_REG_IN_RETENTION) return LLCC68_STATUS_UNKNOWN_VALUE;

  for (uint8_t i = 0; i < register_nb; ++i) {
    const uint16_t address = register_addr[i];
    bool present = false;
    for (uint8_t k = 0; k < list[0]; ++k) {
      const uint16_t held = static_cast<uint16_t>((list[1 + 2 * k] << 8) | list[2 + 2 * k]);
      if (held == address) {
        present = true;
        break;
      }
    }
    if (present) continue;
    if (list[0] >= LLCC68_MAX_NB_REG_IN_RETENTION) return LLCC68_STATUS_ERROR;
    list[1 + 2 * list[0]] = static_cast<uint8_t>(address >> 8);
    list[2 + 2 * list[0]] = static_cast<uint8_t>(address);
    ++list[0];
  }
  if (list[0] == initialCount) return LLCC68_STATUS_OK;
  return llcc68_write_register(context, LLCC68_REG_RETENTION_LIST_BASE_ADDRESS, list, sizeof list);
}

llcc68_status_t llcc68_init_retention_list(const void* context) {
  // Registers that a warm-start sleep would otherwise lose.
  static const uint16_t kRegisters[] = {LLCC68_REG_RXGAIN, LLCC68_REG_TX_MODULATION, LLCC68_REG_IQ_POLARITY};
  return llcc68_add_registers_to_retention_list(context, kRegisters, sizeof kRegisters / sizeof kRegisters[0]);
}

llcc68_status_t llcc68_get_random_numbers(const void* context, uint32_t* numbers, unsigned int n) {
  // The noise of the receiver with its LNA and mixer off feeds the number generator.
  uint8_t lna = 0;
  uint8_t mixer = 0;
  llcc68_status_t status = llcc68_read_register(context, LLCC68_REG_ANA_LNA, &lna, 1);
  if (status != LLCC68_STATUS_OK) return status;
  uint8_t value = static_cast<uint8_t>(lna & ~kLnaRngBit);
  if ((status = llcc68_write_register(context, LLCC68_REG_ANA_LNA, &value, 1)) != LLCC68_STATUS_OK) return status;
  if ((status = llcc68_read_register(context, LLCC68_REG_ANA_MIXER, &mixer, 1)) != LLCC68_STATUS_OK) return status;
  value = static_cast<uint8_t>(mixer & ~kMixerRngBit);
  if ((status = llcc68_write_register(context, LLCC68_REG_ANA_MIXER, &value, 1)) != LLCC68_STATUS_OK) return status;
  if ((status = llcc68_set_rx_with_timeout_in_rtc_step(context, LLCC68_RX_CONTINUOUS)) != LLCC68_STATUS_OK) {
    return status;
  }
  for (unsigned int i = 0; i < n; ++i) {
    uint8_t bytes[4] = {0};
    if ((status = llcc68_read_register(context, LLCC68_REG_RNGBASEADDRESS, bytes, sizeof bytes)) != LLCC68_STATUS_OK) {
      return status;
    }
    std::memcpy(&numbers[i], bytes, sizeof bytes);  // in the order received
  }
  if ((status = llcc68_set_standby(context, LLCC68_STANDBY_CFG_RC)) != LLCC68_STATUS_OK) return status;
  if ((status = llcc68_write_register(context, LLCC68_REG_ANA_LNA, &lna, 1)) != LLCC68_STATUS_OK) return status;
  return llcc68_write_register(context, LLCC68_REG_ANA_MIXER, &mixer, 1);
}

uint32_t llcc68_convert_freq_in_hz_to_pll_step(uint32_t freq_in_hz) {
  const uint32_t stepsInt = freq_in_hz / LLCC68_PLL_STEP_SCALED;
  const uint32_t stepsFrac = freq_in_hz - stepsInt * LLCC68_PLL_STEP_SCALED;
  return (stepsInt << LLCC68_PLL_STEP_SHIFT_AMOUNT) +
         (((stepsFrac << LLCC68_PLL_STEP_SHIFT_AMOUNT) + (LLCC68_PLL_STEP_SCALED >> 1)) / LLCC68_PLL_STEP_SCALED);
}

uint32_t llcc68_convert_timeout_in_ms_to_rtc_step(uint32_t timeout_in_ms) { return timeout_in_ms << 6; }

uint32_t llcc68_get_lora_bw_in_hz(llcc68_lora_bw_t bw) { return LoraAirTime::bwInHz(bw); }

uint32_t llcc68_get_lora_time_on_air_numerator(const llcc68_pkt_params_lora_t* pkt_p,
                                               const llcc68_mod_params_lora_t* mod_p) {
  return LoraAirTime::timeOnAirNumerator(*pkt_p, *mod_p);
}

uint32_t llcc68_get_lora_time_on_air_in_ms(const llcc68_pkt_params_lora_t* pkt_p,
                                           const llcc68_mod_params_lora_t* mod_p) {
  return LoraAirTime::timeOnAirMs(*pkt_p, *mod_p);
}

}  // extern "C"
