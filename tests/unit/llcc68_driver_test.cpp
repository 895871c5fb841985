// The LLCC68 command layer against the transceiver model: exact command frames, reply decoding,
// the register fix-ups and the failure rules.
#include <functional>

#include "gpio_model.h"
#include "llcc68_hal.h"
#include "radio_fixture.h"

using testing_support::Bytes;

namespace {

class DriverTest : public testing_support::RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    powerChip();
  }
  const std::vector<Bytes>& frames() { return chip().transactions(); }
};

struct FrameCase {
  const char* name;
  std::function<llcc68_status_t()> call;
  llcc68_status_t status;
  std::vector<Bytes> frames;  // MOSI bytes of each chip-select frame
};

TEST_F(DriverTest, CommandFramesAreByteExact) {
  const FrameCase cases[] = {
      {"rf 868.0 MHz",
       [] { return llcc68_set_rf_freq(nullptr, 868000000); },
       LLCC68_STATUS_OK,
       {{0x86, 0x36, 0x40, 0x00, 0x00}}},
      {"rf 869.525 MHz",
       [] { return llcc68_set_rf_freq(nullptr, 869525000); },
       LLCC68_STATUS_OK,
       {{0x86, 0x36, 0x58, 0x66, 0x66}}},
      {"rf 868.1 MHz",
       [] { return llcc68_set_rf_freq(nullptr, 868100000); },
       LLCC68_STATUS_OK,
       {{0x86, 0x36, 0x41, 0x99, 0x9A}}},
      {"tx 1000 ms", [] { return llcc68_set_tx(nullptr, 1000); }, LLCC68_STATUS_OK, {{0x83, 0x00, 0xFA, 0x00}}},
      {"tx 0 ms", [] { return llcc68_set_tx(nullptr, 0); }, LLCC68_STATUS_OK, {{0x83, 0x00, 0x00, 0x00}}},
      {"rx 262143 ms", [] { return llcc68_set_rx(nullptr, 262143); }, LLCC68_STATUS_OK, {{0x82, 0xFF, 0xFF, 0xC0}}},
      {"rx 262144 ms", [] { return llcc68_set_rx(nullptr, 262144); }, LLCC68_STATUS_UNKNOWN_VALUE, {}},
      {"tx 262144 ms", [] { return llcc68_set_tx(nullptr, 262144); }, LLCC68_STATUS_UNKNOWN_VALUE, {}},
      {"rx continuous",
       [] { return llcc68_set_rx_with_timeout_in_rtc_step(nullptr, LLCC68_RX_CONTINUOUS); },
       LLCC68_STATUS_OK,
       {{0x82, 0xFF, 0xFF, 0xFF}}},
      {"image calibration 863..870 MHz",
       [] { return llcc68_cal_img_in_mhz(nullptr, 863, 870); },
       LLCC68_STATUS_OK,
       {{0x98, 0xD7, 0xDA}}},
      {"sleep warm",
       [] { return llcc68_set_sleep(nullptr, LLCC68_SLEEP_CFG_WARM_START); },
       LLCC68_STATUS_ERROR,
       {{0x84, 0x04}}},  // the sleeping chip holds BUSY high: the post-command wait runs out
      {"standby xosc",
       [] { return llcc68_set_standby(nullptr, LLCC68_STANDBY_CFG_XOSC); },
       LLCC68_STATUS_OK,
       {{0x80, 0x01}}},
      {"fs", [] { return llcc68_set_fs(nullptr); }, LLCC68_STATUS_OK, {{0xC1}}},
      {"pa config",
       [] {
         const llcc68_pa_cfg_params_t pa{0x02, 0x02, 0x00, 0x01};
         return llcc68_set_pa_cfg(nullptr, &pa);
       },
       LLCC68_STATUS_OK,
       {{0x95, 0x02, 0x02, 0x00, 0x01}}},
      {"tx params -9 dBm",
       [] { return llcc68_set_tx_params(nullptr, -9, LLCC68_RAMP_40_US); },
       LLCC68_STATUS_OK,
       {{0x8E, 0xF7, 0x02}}},
      {"irq params",
       [] { return llcc68_set_dio_irq_params(nullptr, 0x0262, 0x0001, 0x0200, 0x0000); },
       LLCC68_STATUS_OK,
       {{0x08, 0x02, 0x62, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00}}},
      {"clear irq",
       [] { return llcc68_clear_irq_status(nullptr, LLCC68_IRQ_ALL); },
       LLCC68_STATUS_OK,
       {{0x02, 0x03, 0xFF}}},
      {"dio2 switch off",
       [] { return llcc68_set_dio2_as_rf_sw_ctrl(nullptr, false); },
       LLCC68_STATUS_OK,
       {{0x9D, 0x00}}},
      {"packet type lora",
       [] { return llcc68_set_pkt_type(nullptr, LLCC68_PKT_TYPE_LORA); },
       LLCC68_STATUS_OK,
       {{0x8A, 0x01}}},
      {"buffer base",
       [] { return llcc68_set_buffer_base_address(nullptr, 0x10, 0x80); },
       LLCC68_STATUS_OK,
       {{0x8F, 0x10, 0x80}}},
      {"write buffer",
       [] {
         const uint8_t data[3] = {0xAA, 0xBB, 0xCC};
         return llcc68_write_buffer(nullptr, 0x05, data, 3);
       },
       LLCC68_STATUS_OK,
       {{0x0E, 0x05, 0xAA, 0xBB, 0xCC}}},
      {"write sync word",
       [] {
         const uint8_t data[2] = {0x10, 0x20};
         return llcc68_write_register(nullptr, LLCC68_REG_LR_SYNCWORD, data, 2);
       },
       LLCC68_STATUS_OK,
       {{0x0D, 0x07, 0x40, 0x10, 0x20}}},
      {"clear device errors",
       [] { return llcc68_clear_device_errors(nullptr); },
       LLCC68_STATUS_OK,
       {{0x07, 0x00, 0x00}}},
      {"get status",
       [] {
         llcc68_chip_status_t s;
         return llcc68_get_status(nullptr, &s);
       },
       LLCC68_STATUS_OK,
       {{0xC0, 0x00}}},
      {"get irq status",
       [] {
         llcc68_irq_mask_t irq;
         return llcc68_get_irq_status(nullptr, &irq);
       },
       LLCC68_STATUS_OK,
       {{0x12, 0x00, 0x00, 0x00}}},
      {"read buffer",
       [] {
         uint8_t data[2] = {0x55, 0x66};  // the caller's buffer is clocked out as it is
         return llcc68_read_buffer(nullptr, 0x07, data, 2);
       },
       LLCC68_STATUS_OK,
       {{0x1E, 0x07, 0x00, 0x55, 0x66}}},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    powerChip();
    EXPECT_EQ(c.call(), c.status);
    EXPECT_EQ(frames(), c.frames);
  }
}

TEST_F(DriverTest, PllStepsRoundToTheNearestStep) {
  EXPECT_EQ(llcc68_convert_freq_in_hz_to_pll_step(868000000), 910163968u);
  EXPECT_EQ(llcc68_convert_freq_in_hz_to_pll_step(869525000), 0x36586666u);
  EXPECT_EQ(llcc68_convert_freq_in_hz_to_pll_step(868100000), 0x3641999Au);
  EXPECT_EQ(llcc68_convert_timeout_in_ms_to_rtc_step(1000), 64000u);
}

struct ModCase {
  llcc68_mod_params_lora_t mod;
  llcc68_status_t status;
  Bytes command;   // empty: nothing on the bus
  uint8_t before;  // TX modulation register before and after
  uint8_t after;
};

TEST_F(DriverTest, ModulationParametersAndTheirRegisterFixUp) {
  const ModCase cases[] = {
      {{7, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 0}, LLCC68_STATUS_OK, {0x8B, 0x07, 0x04, 0x01, 0x00}, 0x03, 0x07},
      {{9, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_8, 3}, LLCC68_STATUS_OK, {0x8B, 0x09, 0x04, 0x04, 0x01}, 0x03, 0x07},
      {{11, LLCC68_LORA_BW_500, LLCC68_LORA_CR_4_5, 1}, LLCC68_STATUS_OK, {0x8B, 0x0B, 0x06, 0x01, 0x01}, 0xFF, 0xFB},
      {{10, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 0}, LLCC68_STATUS_UNSUPPORTED_FEATURE, {}, 0x03, 0x03},
      {{11, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 1}, LLCC68_STATUS_UNSUPPORTED_FEATURE, {}, 0x03, 0x03},
      {{11, LLCC68_LORA_BW_250, LLCC68_LORA_CR_4_5, 1}, LLCC68_STATUS_UNSUPPORTED_FEATURE, {}, 0x03, 0x03},
      {{10, LLCC68_LORA_BW_250, LLCC68_LORA_CR_4_5, 0}, LLCC68_STATUS_OK, {0x8B, 0x0A, 0x05, 0x01, 0x00}, 0x03, 0x07},
  };
  for (const ModCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "SF" << int(c.mod.sf) << " bw " << int(c.mod.bw));
    powerChip();
    ASSERT_EQ(llcc68_set_pkt_type(nullptr, LLCC68_PKT_TYPE_LORA), LLCC68_STATUS_OK);
    chip().setReg(LLCC68_REG_TX_MODULATION, c.before);
    chip().clearTransactions();
    EXPECT_EQ(llcc68_set_lora_mod_params(nullptr, &c.mod), c.status);
    EXPECT_EQ(chip().reg(LLCC68_REG_TX_MODULATION), c.after);
    if (c.command.empty()) {
      EXPECT_EQ(chip().spiBytes(), 0u);
      EXPECT_TRUE(frames().empty());
      continue;
    }
    const std::vector<Bytes> expected = {c.command, {0x1D, 0x08, 0x89, 0x00, 0x00}, {0x0D, 0x08, 0x89, c.after}};
    EXPECT_EQ(frames(), expected);
  }
}

TEST_F(DriverTest, PacketParametersAndTheIqPolarityFixUp) {
  struct Case {
    bool invert;
    uint8_t before, after;
  };
  for (const Case c : {Case{false, 0x09, 0x0D}, Case{true, 0x0D, 0x09}}) {
    powerChip();
    chip().setReg(LLCC68_REG_IQ_POLARITY, c.before);
    const llcc68_pkt_params_lora_t pkt{8, LLCC68_LORA_PKT_EXPLICIT, 255, true, c.invert};
    EXPECT_EQ(llcc68_set_lora_pkt_params(nullptr, &pkt), LLCC68_STATUS_OK);
    const std::vector<Bytes> expected = {{0x8C, 0x00, 0x08, 0x00, 0xFF, 0x01, uint8_t(c.invert ? 1 : 0)},
                                         {0x1D, 0x07, 0x36, 0x00, 0x00},
                                         {0x0D, 0x07, 0x36, c.after}};
    EXPECT_EQ(frames(), expected);
    EXPECT_EQ(chip().reg(LLCC68_REG_IQ_POLARITY), c.after);
  }
}

TEST_F(DriverTest, StatusAndReplyDecoding) {
  llcc68_chip_status_t status{};
  chip().overrideReply(0xC0, {0x2C});
  ASSERT_EQ(llcc68_get_status(nullptr, &status), LLCC68_STATUS_OK);
  EXPECT_EQ(status.cmd_status, LLCC68_CMD_STATUS_CMD_TX_DONE);
  EXPECT_EQ(status.chip_mode, LLCC68_CHIP_MODE_STBY_RC);

  struct PktCase {
    Bytes reply;
    int rssi, snr, signal;
  };
  for (const PktCase& c : {PktCase{{181, 0xF6, 182}, -91, -2, -91}, PktCase{{0, 0x7F, 255}, 0, 32, -128},
                           PktCase{{1, 0x80, 2}, -1, -32, -1}, PktCase{{60, 0x21, 61}, -30, 8, -31}}) {
    chip().overrideReply(0x14, c.reply);
    llcc68_pkt_status_lora_t ps{};
    ASSERT_EQ(llcc68_get_lora_pkt_status(nullptr, &ps), LLCC68_STATUS_OK);
    EXPECT_EQ(ps.rssi_pkt_in_dbm, c.rssi);
    EXPECT_EQ(ps.snr_pkt_in_db, c.snr);
    EXPECT_EQ(ps.signal_rssi_pkt_in_dbm, c.signal);
  }
  for (const auto& [raw, dbm] : {std::pair<uint8_t, int>{0, 0}, {255, -128}, {181, -91}, {190, -95}}) {
    chip().overrideReply(0x15, {raw});
    int16_t rssi = 1;
    ASSERT_EQ(llcc68_get_rssi_inst(nullptr, &rssi), LLCC68_STATUS_OK);
    EXPECT_EQ(rssi, dbm);
  }
  chip().overrideReply(0x17, {0x01, 0x41});
  llcc68_errors_mask_t errors = 0;
  ASSERT_EQ(llcc68_get_device_errors(nullptr, &errors), LLCC68_STATUS_OK);
  EXPECT_EQ(errors, 0x0141);
  chip().overrideReply(0x12, {0x02, 0x62});
  llcc68_irq_mask_t irq = 0;
  ASSERT_EQ(llcc68_get_irq_status(nullptr, &irq), LLCC68_STATUS_OK);
  EXPECT_EQ(irq, 0x0262);
  chip().overrideReply(0x13, {17, 0x80});
  llcc68_rx_buffer_status_t rxb{};
  ASSERT_EQ(llcc68_get_rx_buffer_status(nullptr, &rxb), LLCC68_STATUS_OK);
  EXPECT_EQ(rxb.pld_len_in_bytes, 17);
  EXPECT_EQ(rxb.buffer_start_pointer, 0x80);
}

TEST_F(DriverTest, TransmissionEndsWithTxDoneInStandby) {
  ASSERT_EQ(llcc68_set_pkt_type(nullptr, LLCC68_PKT_TYPE_LORA), LLCC68_STATUS_OK);
  const llcc68_mod_params_lora_t mod{7, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 0};
  const llcc68_pkt_params_lora_t pkt{8, LLCC68_LORA_PKT_EXPLICIT, 3, true, false};
  const uint8_t data[3] = {1, 2, 3};
  ASSERT_EQ(llcc68_set_lora_mod_params(nullptr, &mod), LLCC68_STATUS_OK);
  ASSERT_EQ(llcc68_set_lora_pkt_params(nullptr, &pkt), LLCC68_STATUS_OK);
  ASSERT_EQ(llcc68_write_buffer(nullptr, 0, data, 3), LLCC68_STATUS_OK);
  ASSERT_EQ(llcc68_set_tx(nullptr, 1000), LLCC68_STATUS_OK);
  testing_support::runFor(100000);
  llcc68_chip_status_t status{};
  ASSERT_EQ(llcc68_get_status(nullptr, &status), LLCC68_STATUS_OK);
  EXPECT_EQ(status.cmd_status, LLCC68_CMD_STATUS_CMD_TX_DONE);
  EXPECT_EQ(status.chip_mode, LLCC68_CHIP_MODE_STBY_RC);
}

struct RetentionCase {
  const char* name;
  Bytes list;  // the 9 bytes held before
  llcc68_status_t status;
  Bytes written;  // empty: the list is not written
};

TEST_F(DriverTest, RetentionList) {
  const RetentionCase cases[] = {
      {"empty", {0, 0, 0, 0, 0, 0, 0, 0, 0}, LLCC68_STATUS_OK, {3, 0x08, 0xAC, 0x08, 0x89, 0x07, 0x36, 0, 0}},
      {"already held", {3, 0x08, 0xAC, 0x08, 0x89, 0x07, 0x36, 0, 0}, LLCC68_STATUS_OK, {}},
      {"held in another order", {3, 0x07, 0x36, 0x08, 0xAC, 0x08, 0x89, 0, 0}, LLCC68_STATUS_OK, {}},
      {"one held, one other",
       {2, 0x08, 0x89, 0x01, 0x23, 0, 0, 0, 0},
       LLCC68_STATUS_OK,
       {4, 0x08, 0x89, 0x01, 0x23, 0x08, 0xAC, 0x07, 0x36}},
      {"full of others", {4, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03, 0x01, 0x04}, LLCC68_STATUS_ERROR, {}},
      {"room for fewer than needed", {3, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03, 0, 0}, LLCC68_STATUS_ERROR, {}},
      {"count out of range", {5, 0, 0, 0, 0, 0, 0, 0, 0}, LLCC68_STATUS_UNKNOWN_VALUE, {}},
  };
  for (const RetentionCase& c : cases) {
    SCOPED_TRACE(c.name);
    powerChip();
    for (size_t i = 0; i < c.list.size(); ++i) chip().setReg(static_cast<uint16_t>(0x029F + i), c.list[i]);
    EXPECT_EQ(llcc68_init_retention_list(nullptr), c.status);
    const auto writes = framesWith(0x0D);
    if (c.written.empty()) {
      EXPECT_TRUE(writes.empty());
      continue;
    }
    Bytes expected = {0x0D, 0x02, 0x9F};
    expected.insert(expected.end(), c.written.begin(), c.written.end());
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], expected);
  }
}

TEST_F(DriverTest, RetainedRegistersSurviveWarmSleepAndOthersDoNot) {
  chip().setReg(LLCC68_REG_RXGAIN, 0x96);
  chip().setReg(LLCC68_REG_IQ_POLARITY, 0x09);
  const uint16_t onlyRxGain[] = {LLCC68_REG_RXGAIN};
  ASSERT_EQ(llcc68_add_registers_to_retention_list(nullptr, onlyRxGain, 1), LLCC68_STATUS_OK);
  (void)llcc68_set_sleep(nullptr, LLCC68_SLEEP_CFG_WARM_START);
  ASSERT_EQ(llcc68_wakeup(nullptr), LLCC68_STATUS_OK);
  EXPECT_EQ(chip().reg(LLCC68_REG_RXGAIN), 0x96);
  EXPECT_EQ(chip().reg(LLCC68_REG_IQ_POLARITY), 0x0D);  // back to its reset value
}

TEST_F(DriverTest, TxClampSetsItsFieldAndSkipsTheWriteWhenTheReadFails) {
  ASSERT_EQ(llcc68_cfg_tx_clamp(nullptr), LLCC68_STATUS_OK);
  EXPECT_EQ(chip().reg(LLCC68_REG_TX_CLAMP_CFG), 0xC8 | 0x1E);
  EXPECT_EQ(framesWith(0x0D), std::vector<Bytes>({{0x0D, 0x08, 0xD8, 0xDE}}));

  powerChip();
  chip().faults().failOpcode = 0x1D;
  EXPECT_EQ(llcc68_cfg_tx_clamp(nullptr), LLCC68_STATUS_ERROR);
  EXPECT_TRUE(framesWith(0x0D).empty());
}

TEST_F(DriverTest, RandomNumbersComeFromReceiveWithLnaAndMixerRestored) {
  uint32_t numbers[2] = {0, 0};
  ASSERT_EQ(llcc68_get_random_numbers(nullptr, numbers, 2), LLCC68_STATUS_OK);
  EXPECT_NE(numbers[0], numbers[1]);
  const std::vector<Bytes> expected = {{0x1D, 0x08, 0xE2, 0x00, 0x00},
                                       {0x0D, 0x08, 0xE2, 0x24},
                                       {0x1D, 0x08, 0xE5, 0x00, 0x00},
                                       {0x0D, 0x08, 0xE5, 0x07},
                                       {0x82, 0xFF, 0xFF, 0xFF},
                                       {0x1D, 0x08, 0x19, 0x00, 0, 0, 0, 0},
                                       {0x1D, 0x08, 0x19, 0x00, 0, 0, 0, 0},
                                       {0x80, 0x00},
                                       {0x0D, 0x08, 0xE2, 0x25},
                                       {0x0D, 0x08, 0xE5, 0x87}};
  EXPECT_EQ(frames(), expected);
  EXPECT_EQ(chip().mode(), sim::Llcc68Model::Mode::stbyRc);

  // A failing step ends the sequence: here the standby, so LNA and mixer stay changed.
  powerChip();
  chip().faults().failOpcode = 0x80;
  EXPECT_EQ(llcc68_get_random_numbers(nullptr, numbers, 1), LLCC68_STATUS_ERROR);
  EXPECT_EQ(chip().reg(LLCC68_REG_ANA_LNA), 0x24);
  EXPECT_EQ(chip().reg(LLCC68_REG_ANA_MIXER), 0x07);
}

TEST_F(DriverTest, BusFailuresComeBackAsErrorAndOutputsKeepTheirValue) {
  // BUSY that never falls: about 100 ms, chip select never driven.
  chip().faults().busyStuck = true;
  chip().refreshBusy();
  const uint64_t start = nowUs();
  int16_t rssi = -127;
  EXPECT_EQ(llcc68_get_rssi_inst(nullptr, &rssi), LLCC68_STATUS_ERROR);
  EXPECT_EQ(rssi, -127);
  EXPECT_GE(nowUs() - start, 99000u);  // 100 ticks of the millisecond clock
  EXPECT_LT(nowUs() - start, 103000u);
  EXPECT_TRUE(frames().empty());

  // BUSY that rises with the command and stays: the transfer happens, chip select is released.
  chip().faults() = {};
  powerChip();
  chip().faults().busyStuckAfterNextCommand = true;
  EXPECT_EQ(llcc68_set_standby(nullptr, LLCC68_STANDBY_CFG_RC), LLCC68_STATUS_ERROR);
  EXPECT_EQ(frames().size(), 1u);
  EXPECT_TRUE(mcustate().pin.lora.cs.read());

  // An SPI error ends a multi-step function at once.
  chip().faults() = {};
  powerChip();
  chip().faults().failOpcode = 0x8B;
  const llcc68_mod_params_lora_t mod{7, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 0};
  EXPECT_EQ(llcc68_set_lora_mod_params(nullptr, &mod), LLCC68_STATUS_ERROR);
  EXPECT_TRUE(frames().empty());
  EXPECT_TRUE(mcustate().pin.lora.cs.read());
}

TEST_F(DriverTest, AnEmptyWriteStillPulsesChipSelectAndWaitsForBusy) {
  int falls = 0;
  sim::board().gpio().watch(1, 12, [&falls, last = true](bool level) mutable {
    if (last && !level) ++falls;
    last = level;
  });
  EXPECT_EQ(llcc68_hal_write(nullptr, nullptr, 0, nullptr, 0), LLCC68_HAL_STATUS_OK);
  EXPECT_EQ(falls, 1);
  EXPECT_EQ(chip().spiBytes(), 0u);
  EXPECT_TRUE(mcustate().pin.lora.cs.read());
}

}  // namespace
