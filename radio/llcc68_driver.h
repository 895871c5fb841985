// LLCC68 command layer: one plain function per transceiver operation the node uses. Builds the
// SPI command frames (opcode first, multi-byte fields most significant byte first) and converts
// between engineering units and the chip's encodings. Stateless; never retries.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum llcc68_status_e {
  LLCC68_STATUS_OK = 0,
  LLCC68_STATUS_UNSUPPORTED_FEATURE = 1,
  LLCC68_STATUS_UNKNOWN_VALUE = 2,
  LLCC68_STATUS_ERROR = 3,
} llcc68_status_t;

typedef enum llcc68_commands_e {
  LLCC68_SET_SLEEP = 0x84,
  LLCC68_SET_STANDBY = 0x80,
  LLCC68_SET_FS = 0xC1,
  LLCC68_SET_TX = 0x83,
  LLCC68_SET_RX = 0x82,
  LLCC68_CALIBRATE_IMAGE = 0x98,
  LLCC68_SET_PA_CFG = 0x95,
  LLCC68_WRITE_REGISTER = 0x0D,
  LLCC68_READ_REGISTER = 0x1D,
  LLCC68_WRITE_BUFFER = 0x0E,
  LLCC68_READ_BUFFER = 0x1E,
  LLCC68_SET_DIO_IRQ_PARAMS = 0x08,
  LLCC68_GET_IRQ_STATUS = 0x12,
  LLCC68_CLR_IRQ_STATUS = 0x02,
  LLCC68_SET_DIO2_AS_RF_SWITCH_CTRL = 0x9D,
  LLCC68_SET_RF_FREQUENCY = 0x86,
  LLCC68_SET_PKT_TYPE = 0x8A,
  LLCC68_GET_PKT_TYPE = 0x11,
  LLCC68_SET_TX_PARAMS = 0x8E,
  LLCC68_SET_MODULATION_PARAMS = 0x8B,
  LLCC68_SET_PKT_PARAMS = 0x8C,
  LLCC68_SET_BUFFER_BASE_ADDRESS = 0x8F,
  LLCC68_GET_STATUS = 0xC0,
  LLCC68_GET_RX_BUFFER_STATUS = 0x13,
  LLCC68_GET_PKT_STATUS = 0x14,
  LLCC68_GET_RSSI_INST = 0x15,
  LLCC68_GET_DEVICE_ERRORS = 0x17,
  LLCC68_CLR_DEVICE_ERRORS = 0x07,
} llcc68_commands_t;

typedef enum llcc68_lora_sf_e {
  LLCC68_LORA_SF5 = 5,
  LLCC68_LORA_SF6 = 6,
  LLCC68_LORA_SF7 = 7,
  LLCC68_LORA_SF8 = 8,
  LLCC68_LORA_SF9 = 9,
  LLCC68_LORA_SF10 = 10,
  LLCC68_LORA_SF11 = 11,
} llcc68_lora_sf_t;

typedef enum llcc68_lora_bw_e {
  LLCC68_LORA_BW_007 = 0,
  LLCC68_LORA_BW_015 = 1,
  LLCC68_LORA_BW_031 = 2,
  LLCC68_LORA_BW_062 = 3,
  LLCC68_LORA_BW_125 = 4,
  LLCC68_LORA_BW_250 = 5,
  LLCC68_LORA_BW_500 = 6,
  LLCC68_LORA_BW_010 = 8,
  LLCC68_LORA_BW_020 = 9,
  LLCC68_LORA_BW_041 = 10,
} llcc68_lora_bw_t;

typedef enum llcc68_lora_cr_e {
  LLCC68_LORA_CR_4_5 = 1,
  LLCC68_LORA_CR_4_6 = 2,
  LLCC68_LORA_CR_4_7 = 3,
  LLCC68_LORA_CR_4_8 = 4,
} llcc68_lora_cr_t;

typedef enum llcc68_ramp_time_e {
  LLCC68_RAMP_10_US = 0,
  LLCC68_RAMP_20_US = 1,
  LLCC68_RAMP_40_US = 2,
  LLCC68_RAMP_80_US = 3,
  LLCC68_RAMP_200_US = 4,
  LLCC68_RAMP_800_US = 5,
  LLCC68_RAMP_1700_US = 6,
  LLCC68_RAMP_3400_US = 7,
} llcc68_ramp_time_t;

typedef enum llcc68_pkt_types_e {
  LLCC68_PKT_TYPE_GFSK = 0,
  LLCC68_PKT_TYPE_LORA = 1,
} llcc68_pkt_type_t;

typedef enum llcc68_lora_pkt_len_modes_e {
  LLCC68_LORA_PKT_EXPLICIT = 0,
  LLCC68_LORA_PKT_IMPLICIT = 1,
} llcc68_lora_pkt_len_modes_t;

typedef enum llcc68_sleep_cfgs_e {
  LLCC68_SLEEP_CFG_COLD_START = 0,
  LLCC68_SLEEP_CFG_WARM_START = 4,
} llcc68_sleep_cfgs_t;

typedef enum llcc68_standby_cfgs_e {
  LLCC68_STANDBY_CFG_RC = 0,
  LLCC68_STANDBY_CFG_XOSC = 1,
} llcc68_standby_cfgs_t;

typedef enum llcc68_chip_modes_e {
  LLCC68_CHIP_MODE_UNUSED = 0,
  LLCC68_CHIP_MODE_RFU = 1,
  LLCC68_CHIP_MODE_STBY_RC = 2,
  LLCC68_CHIP_MODE_STBY_XOSC = 3,
  LLCC68_CHIP_MODE_FS = 4,
  LLCC68_CHIP_MODE_RX = 5,
  LLCC68_CHIP_MODE_TX = 6,
} llcc68_chip_modes_t;

typedef enum llcc68_cmd_status_e {
  LLCC68_CMD_STATUS_RESERVED = 0,
  LLCC68_CMD_STATUS_RFU = 1,
  LLCC68_CMD_STATUS_DATA_AVAILABLE = 2,
  LLCC68_CMD_STATUS_CMD_TIMEOUT = 3,
  LLCC68_CMD_STATUS_CMD_PROCESS_ERROR = 4,
  LLCC68_CMD_STATUS_CMD_EXEC_FAILURE = 5,
  LLCC68_CMD_STATUS_CMD_TX_DONE = 6,
} llcc68_cmd_status_t;

typedef enum llcc68_irq_masks_e {
  LLCC68_IRQ_NONE = 0x000,
  LLCC68_IRQ_TX_DONE = 0x001,
  LLCC68_IRQ_RX_DONE = 0x002,
  LLCC68_IRQ_PREAMBLE_DETECTED = 0x004,
  LLCC68_IRQ_SYNC_WORD_VALID = 0x008,
  LLCC68_IRQ_HEADER_VALID = 0x010,
  LLCC68_IRQ_HEADER_ERROR = 0x020,
  LLCC68_IRQ_CRC_ERROR = 0x040,
  LLCC68_IRQ_CAD_DONE = 0x080,
  LLCC68_IRQ_CAD_DETECTED = 0x100,
  LLCC68_IRQ_TIMEOUT = 0x200,
  LLCC68_IRQ_ALL = 0x3FF,
} llcc68_irq_masks_t;
typedef uint16_t llcc68_irq_mask_t;

typedef enum llcc68_errors_e {
  LLCC68_ERRORS_RC64K_CALIBRATION = 0x001,
  LLCC68_ERRORS_RC13M_CALIBRATION = 0x002,
  LLCC68_ERRORS_PLL_CALIBRATION = 0x004,
  LLCC68_ERRORS_ADC_CALIBRATION = 0x008,
  LLCC68_ERRORS_IMG_CALIBRATION = 0x010,
  LLCC68_ERRORS_XOSC_START = 0x020,
  LLCC68_ERRORS_PLL_LOCK = 0x040,
  LLCC68_ERRORS_PA_RAMP = 0x100,
} llcc68_errors_t;
typedef uint16_t llcc68_errors_mask_t;

#define LLCC68_XTAL_FREQ 32000000UL
#define LLCC68_RTC_FREQ_IN_HZ 64000UL
#define LLCC68_PLL_STEP_SHIFT_AMOUNT 14
#define LLCC68_PLL_STEP_SCALED (LLCC68_XTAL_FREQ >> (25 - LLCC68_PLL_STEP_SHIFT_AMOUNT))
#define LLCC68_MAX_TIMEOUT_IN_RTC_STEP 0x00FFFFFEUL
#define LLCC68_MAX_TIMEOUT_IN_MS (LLCC68_MAX_TIMEOUT_IN_RTC_STEP / 64)
#define LLCC68_RX_CONTINUOUS 0x00FFFFFFUL
#define LLCC68_MAX_NB_REG_IN_RETENTION 4
#define LLCC68_IMAGE_CALIBRATION_STEP_IN_MHZ 4
#define LLCC68_NOP 0x00

#define LLCC68_REG_RETENTION_LIST_BASE_ADDRESS 0x029F
#define LLCC68_REG_IQ_POLARITY 0x0736
#define LLCC68_REG_LR_SYNCWORD 0x0740
#define LLCC68_REG_RNGBASEADDRESS 0x0819
#define LLCC68_REG_TX_MODULATION 0x0889
#define LLCC68_REG_RXGAIN 0x08AC
#define LLCC68_REG_TX_CLAMP_CFG 0x08D8
#define LLCC68_REG_ANA_LNA 0x08E2
#define LLCC68_REG_ANA_MIXER 0x08E5

typedef struct llcc68_chip_status_s {
  llcc68_cmd_status_t cmd_status;
  llcc68_chip_modes_t chip_mode;
} llcc68_chip_status_t;

typedef struct llcc68_pa_cfg_params_s {
  uint8_t pa_duty_cycle;
  uint8_t hp_max;
  uint8_t device_sel;
  uint8_t pa_lut;
} llcc68_pa_cfg_params_t;

typedef struct llcc68_mod_params_lora_s {
  uint8_t sf;  // llcc68_lora_sf_t
  uint8_t bw;  // llcc68_lora_bw_t
  uint8_t cr;  // llcc68_lora_cr_t
  uint8_t ldro;
} llcc68_mod_params_lora_t;

typedef struct llcc68_pkt_params_lora_s {
  uint16_t preamble_len_in_symb;
  uint8_t header_type;  // llcc68_lora_pkt_len_modes_t
  uint8_t pld_len_in_bytes;
  bool crc_is_on;
  bool invert_iq_is_on;
} llcc68_pkt_params_lora_t;

typedef struct llcc68_rx_buffer_status_s {
  uint8_t pld_len_in_bytes;
  uint8_t buffer_start_pointer;
} llcc68_rx_buffer_status_t;

typedef struct llcc68_pkt_status_lora_s {
  int8_t rssi_pkt_in_dbm;
  int8_t snr_pkt_in_db;
  int8_t signal_rssi_pkt_in_dbm;
} llcc68_pkt_status_lora_t;

// Modes and timers.
llcc68_status_t llcc68_set_sleep(const void* context, llcc68_sleep_cfgs_t cfg);
llcc68_status_t llcc68_set_standby(const void* context, llcc68_standby_cfgs_t cfg);
llcc68_status_t llcc68_set_fs(const void* context);
llcc68_status_t llcc68_set_tx(const void* context, uint32_t timeout_in_ms);
llcc68_status_t llcc68_set_tx_with_timeout_in_rtc_step(const void* context, uint32_t timeout_in_rtc_step);
llcc68_status_t llcc68_set_rx(const void* context, uint32_t timeout_in_ms);
llcc68_status_t llcc68_set_rx_with_timeout_in_rtc_step(const void* context, uint32_t timeout_in_rtc_step);
llcc68_status_t llcc68_cal_img(const void* context, uint8_t freq1, uint8_t freq2);
llcc68_status_t llcc68_cal_img_in_mhz(const void* context, uint16_t freq1_in_mhz, uint16_t freq2_in_mhz);
llcc68_status_t llcc68_set_pa_cfg(const void* context, const llcc68_pa_cfg_params_t* params);

// Registers and the 256-byte data buffer.
llcc68_status_t llcc68_write_register(const void* context, uint16_t address, const uint8_t* buffer, uint8_t size);
llcc68_status_t llcc68_read_register(const void* context, uint16_t address, uint8_t* buffer, uint8_t size);
llcc68_status_t llcc68_write_buffer(const void* context, uint8_t offset, const uint8_t* buffer, uint8_t size);
llcc68_status_t llcc68_read_buffer(const void* context, uint8_t offset, uint8_t* buffer, uint8_t size);

// Interrupt flags.
llcc68_status_t llcc68_set_dio_irq_params(const void* context, uint16_t irq_mask, uint16_t dio1_mask,
                                          uint16_t dio2_mask, uint16_t dio3_mask);
llcc68_status_t llcc68_get_irq_status(const void* context, llcc68_irq_mask_t* irq);
llcc68_status_t llcc68_clear_irq_status(const void* context, llcc68_irq_mask_t irq_mask);
llcc68_status_t llcc68_set_dio2_as_rf_sw_ctrl(const void* context, bool enable);

// RF and packet configuration.
llcc68_status_t llcc68_set_rf_freq(const void* context, uint32_t freq_in_hz);
llcc68_status_t llcc68_set_rf_freq_in_pll_steps(const void* context, uint32_t freq_in_pll_steps);
llcc68_status_t llcc68_set_pkt_type(const void* context, llcc68_pkt_type_t pkt_type);
llcc68_status_t llcc68_get_pkt_type(const void* context, llcc68_pkt_type_t* pkt_type);
llcc68_status_t llcc68_set_tx_params(const void* context, int8_t pwr_in_dbm, llcc68_ramp_time_t ramp_time);
llcc68_status_t llcc68_set_lora_mod_params(const void* context, const llcc68_mod_params_lora_t* params);
llcc68_status_t llcc68_set_lora_pkt_params(const void* context, const llcc68_pkt_params_lora_t* params);
llcc68_status_t llcc68_set_buffer_base_address(const void* context, uint8_t tx_base_address, uint8_t rx_base_address);

// Status and communication state.
llcc68_status_t llcc68_get_status(const void* context, llcc68_chip_status_t* radio_status);
llcc68_status_t llcc68_get_rx_buffer_status(const void* context, llcc68_rx_buffer_status_t* rx_buffer_status);
llcc68_status_t llcc68_get_lora_pkt_status(const void* context, llcc68_pkt_status_lora_t* pkt_status);
llcc68_status_t llcc68_get_rssi_inst(const void* context, int16_t* rssi_in_dbm);
llcc68_status_t llcc68_get_device_errors(const void* context, llcc68_errors_mask_t* errors);
llcc68_status_t llcc68_clear_device_errors(const void* context);

// Reset, wake-up and chip fix-ups.
llcc68_status_t llcc68_reset(const void* context);
llcc68_status_t llcc68_wakeup(const void* context);
llcc68_status_t llcc68_cfg_tx_clamp(const void* context);
llcc68_status_t llcc68_add_registers_to_retention_list(const void* context, const uint16_t* register_addr,
                                                       uint8_t register_nb);
llcc68_status_t llcc68_init_retention_list(const void* context);
llcc68_status_t llcc68_get_random_numbers(const void* context, uint32_t* numbers, unsigned int n);

// Conversions.
uint32_t llcc68_convert_freq_in_hz_to_pll_step(uint32_t freq_in_hz);
uint32_t llcc68_convert_timeout_in_ms_to_rtc_step(uint32_t timeout_in_ms);

// LoRa time on air (the same computation as LoraAirTime).
uint32_t llcc68_get_lora_bw_in_hz(llcc68_lora_bw_t bw);
uint32_t llcc68_get_lora_time_on_air_numerator(const llcc68_pkt_params_lora_t* pkt_p,
                                               const llcc68_mod_params_lora_t* mod_p);
uint32_t llcc68_get_lora_time_on_air_in_ms(const llcc68_pkt_params_lora_t* pkt_p,
                                           const llcc68_mod_params_lora_t* mod_p);

#ifdef __cplusplus
}
#endif
