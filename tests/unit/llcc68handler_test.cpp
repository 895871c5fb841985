// The radio handler against the transceiver model: initialisation and chip report, health checks,
// transmission with channel sensing, receive windows, and the supply switch.
#include <string>

#include "DemoShell.h"
#include "lora_airtime.h"
#include "radio_fixture.h"

using testing_support::Bytes;
using testing_support::takeOutput;
using Outcome = LoraListenResult::Outcome;

namespace {

class HandlerTest : public testing_support::RadioTest {
 protected:
  Llcc68Handler& radio() { return llcc68HandlerInstance(); }
  // Counts SetRx commands with a given timeout in ms.
  size_t setRxCount(uint32_t ms) {
    const uint32_t steps = ms * 64;
    const Bytes want = {0x82, uint8_t(steps >> 16), uint8_t(steps >> 8), uint8_t(steps)};
    size_t n = 0;
    for (const Bytes& f : framesWith(0x82)) n += f == want;
    return n;
  }
};

TEST_F(HandlerTest, InitConfiguresTheChipAndPrintsItsReport) {
  mcustate().pin.switch_.lora.pin_.setOn();
  ASSERT_TRUE(radio().init());
  EXPECT_TRUE(radio().isInitialized());
  const std::string out = takeOutput();
  EXPECT_NE(out.find("Lora configured\n"), std::string::npos);
  EXPECT_NE(out.find("\n========== LLCC68 / SX126x CHIP INFO ==========\n"
                     "  Packet type:      LoRa (0x01)\n"
                     "  Chip mode:        0x02 (STBY_RC)\n"
                     "  Device errors:   0x0000 (none)\n"
                     "  Random (reg):    0x"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("  RSSI inst (dBm): -117\n"
                     "  Busy (100ms):    OK (idle)\n"
                     "================================================\n\n"),
            std::string::npos)
      << out;

  const sim::LoraAirSettings air = chip().airSettings();
  EXPECT_EQ(chip().packetType(), 1);
  EXPECT_EQ(air.freqHz, 868000000u);
  EXPECT_EQ(air.sf, 7);
  EXPECT_EQ(air.bwCode, 4);
  EXPECT_EQ(air.cr, 1);
  EXPECT_FALSE(air.ldro);
  EXPECT_EQ(air.syncWord, 0x12);
  EXPECT_EQ(chip().reg(0x0740), 0x10);
  EXPECT_EQ(chip().reg(0x0741), 0x20);
  EXPECT_EQ(chip().reg(0x08D8), 0xDE);
  EXPECT_EQ(chip().reg(0x029F), 3);
  EXPECT_EQ(chip().txPowerDbm(), 0);
  EXPECT_EQ(framesWith(0x98), std::vector<Bytes>({{0x98, 0xD7, 0xDA}}));
  EXPECT_EQ(framesWith(0x95), std::vector<Bytes>({{0x95, 0x02, 0x02, 0x00, 0x01}}));
  EXPECT_EQ(framesWith(0x9D), std::vector<Bytes>({{0x9D, 0x00}}));

  // A second init: no bus traffic, no report.
  chip().clearTransactions();
  EXPECT_TRUE(radio().init());
  EXPECT_EQ(chip().spiBytes(), 0u);
  EXPECT_EQ(takeOutput(), "");
}

TEST_F(HandlerTest, InitFailsWithoutARadioAndSetTxPowerSendsNothing) {
  chip().faults().absent = true;
  mcustate().pin.switch_.lora.pin_.setOn();
  EXPECT_FALSE(radio().init());
  EXPECT_FALSE(radio().setTxPowerDbm(14));
  EXPECT_TRUE(framesWith(0x8E).empty());
  EXPECT_FALSE(radio().isInitialized());
}

TEST_F(HandlerTest, SupplySwitchInitialisesAndForgets) {
  ASSERT_TRUE(mcustate().pin.switch_.lora.setOn());
  EXPECT_TRUE(radio().isInitialized());
  mcustate().pin.switch_.lora.setOff();
  EXPECT_FALSE(radio().isInitialized());
  EXPECT_FALSE(chip().powered());
  takeOutput();
  ASSERT_TRUE(mcustate().pin.switch_.lora.setOn());
  EXPECT_NE(takeOutput().find("Lora configured"), std::string::npos);
}

TEST_F(HandlerTest, SetTxPowerSendsTheSignedPowerAndRamp) {
  radioOn();
  EXPECT_TRUE(loraSetTxPowerDbm(14));
  EXPECT_TRUE(radio().setTxPowerDbm(-9));
  EXPECT_EQ(framesWith(0x8E), std::vector<Bytes>({{0x8E, 14, 0x02}, {0x8E, 0xF7, 0x02}}));
  EXPECT_EQ(chip().txPowerDbm(), -9);
}

struct DeviceErrorCase {
  uint16_t errors;
  bool persist;
  std::string lines;
  bool sent;
};

TEST_F(HandlerTest, DeviceErrorsAreClearedOnceAndPersistentOnesStopTheFrame) {
  const DeviceErrorCase cases[] = {
      {0x0041, false, "LoRa: clearing device errors 0x0041 during pre-tx error check #1\n", true},
      {0x0041, true,
       "LoRa: clearing device errors 0x0041 during pre-tx error check #1\n"
       "LoRa: persistent device errors 0x0041 (RC64K,PLL_LOCK) during pre-tx error check #1\n",
       false},
      {0x0080, true,
       "LoRa: clearing device errors 0x0080 during pre-tx error check #1\n"
       "LoRa: persistent device errors 0x0080 during pre-tx error check #1\n",
       false},
      {0x017F, true,
       "LoRa: clearing device errors 0x017F during pre-tx error check #1\n"
       "LoRa: persistent device errors 0x017F (RC64K,RC13M,PLL_CAL,ADC_CAL,IMG_CAL,XOSC,PLL_LOCK,PA_RAMP) during "
       "pre-tx error check #1\n",
       false},
  };
  for (const DeviceErrorCase& c : cases) {
    SCOPED_TRACE(c.errors);
    SetUp();
    radioOn();
    chip().setDeviceErrors(c.errors, c.persist);
    const size_t before = nodeFrames().size();
    const uint8_t data[2] = {0xAB, 0xCD};
    radio().send(data, 2);
    EXPECT_EQ(takeOutput(), c.lines);
    EXPECT_EQ(nodeFrames().size() - before, c.sent ? 1u : 0u);
    EXPECT_FALSE(mcustate().pin.lora.ant1.read());
  }
}

TEST_F(HandlerTest, StatusChecksAcceptDataAvailableAndTxDoneButNotErrors) {
  struct Case {
    uint8_t status;
    std::string line;
  };
  const Case cases[] = {
      {0x24, ""},                                                                 // data available
      {0x2C, ""},                                                                 // TX done
      {0x26, "LoRa: bad status during pre-tx status check #1 (cmd=3 mode=2)\n"},  // command timeout
      {0x28, "LoRa: bad status during pre-tx status check #1 (cmd=4 mode=2)\n"},  // processing error
      {0x2A, "LoRa: bad status during pre-tx status check #1 (cmd=5 mode=2)\n"},  // execution failure
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    SetUp();
    radioOn();
    chip().overrideReply(0xC0, {c.status});
    const uint8_t data[1] = {1};
    radio().send(data, 1);
    const std::string out = takeOutput();
    if (c.line.empty()) {
      EXPECT_EQ(out.find("bad status"), std::string::npos) << out;
    } else {
      EXPECT_EQ(out, c.line);
    }
  }
}

TEST_F(HandlerTest, ChipReportShowsPlaceholdersForFailedReads) {
  mcustate().pin.switch_.lora.pin_.setOn();
  chip().faults().failOpcode = 0x15;  // RSSI read
  ASSERT_TRUE(radio().init());
  std::string out = takeOutput();
  EXPECT_NE(out.find("  RSSI inst (dBm): -127\n"), std::string::npos) << out;

  radio().markPoweredOff();
  chip().faults().failOpcode = 0x11;  // packet type read
  ASSERT_TRUE(radio().init());
  out = takeOutput();
  EXPECT_NE(out.find("  Packet type:      FSK (0x00)\n"), std::string::npos) << out;
}

// Each failing step of the initialisation logs its line; a failed or unhealthy status read after the
// wake-up is logged and the initialisation goes on.
TEST_F(HandlerTest, InitFailureMessages) {
  struct Case {
    int failOpcode;
    unsigned failOpcodeSkip;  // commands with it that still succeed first
    int statusReply;          // the GetStatus reply's status byte (-1: the chip's own)
    uint64_t busyStuckAtUs;   // BUSY sticks high this long after the start of init (0: never)
    bool initialised;
    std::string firstLines;  // the output starts with these
  };
  const Case cases[] = {
      {0x8A, 0, -1, 0, false, "Error setting packet type\r\n"},
      {0x86, 0, -1, 0, false, "Error setting RF frequency\r\n"},
      {0x8B, 0, -1, 0, false, "Error setting LoRa modulation parameters\r\n"},
      {0x8E, 0, -1, 0, false, "Error setting TX parameters\r\n"},
      {0x9D, 0, -1, 0, false, "Error setting DIO2 as RF switch control\r\n"},
      {0x0D, 2, -1, 0, false, "Error setting syncWord\r\n"},  // the third WriteRegister
      // The reset has released BUSY (about 11 ms); it sticks during the 10 ms that follow.
      {-1, 0, -1, 15000, false, "Error awakening, status: 3\n\r"},  // LLCC68_STATUS_ERROR
      {0xC0, 0, -1, 0, true, "Error getting status\r\n"},
      // Status byte: chip mode in bits 6..4 (2, STBY_RC), command status in bits 3..1 (5, CMD_EXEC_FAILURE).
      {-1, 0, 0x2A, 0, true, "LoRa: bad status after wakeup (cmd=CMD_EXEC_FAILURE mode=STBY_RC)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstLines);
    SetUp();
    mcustate().pin.switch_.lora.pin_.setOn();
    chip().faults().failOpcode = c.failOpcode;
    chip().faults().failOpcodeSkip = c.failOpcodeSkip;
    if (c.statusReply >= 0) chip().overrideReply(0xC0, {static_cast<uint8_t>(c.statusReply)});
    if (c.busyStuckAtUs != 0) chip().scheduleFault("busy-stuck", nowUs() + c.busyStuckAtUs);
    EXPECT_EQ(radio().init(), c.initialised);
    EXPECT_EQ(radio().isInitialized(), c.initialised);
    const std::string out = takeOutput();
    if (c.initialised) {
      EXPECT_EQ(out.rfind(c.firstLines, 0), 0u) << out;
      EXPECT_NE(out.find("Lora configured\n"), std::string::npos) << out;
    } else {
      EXPECT_EQ(out, c.firstLines);
    }
  }
}

TEST_F(HandlerTest, EachFailedPreTransmissionStepAbandonsTheFrameWithItsLine) {
  struct Case {
    int failOpcode;
    bool busyStuck;
    std::string lines;
  };
  const Case cases[] = {
      {-1, true, "LoRa: BUSY timeout during pre-tx idle check #1\n"},
      {0xC0, false, "LoRa: get_status failed during pre-tx status check #1\n"},
      {0x17, false, "LoRa: get_device_errors failed during pre-tx error check #1\n"},
      {0x80, false, "LoRa: set_standby failed before TX\n"},
      {0x02, false, "LoRa: clear_irq_status failed before TX\n"},
      {0x11, false, "LoRa: get_pkt_type failed before TX\n"},
      {0xC1, false, "LoRa: set_fs failed before TX\n"},
      {0x0E, false, ""},  // loading the buffer: abandoned without a line of its own
      {0x83, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    SetUp();
    radioOn();
    chip().faults().failOpcode = c.failOpcode;
    chip().faults().busyStuck = c.busyStuck;
    chip().refreshBusy();
    const uint8_t data[2] = {1, 2};
    radio().send(data, 2);
    EXPECT_EQ(takeOutput(), c.lines);
    EXPECT_TRUE(nodeFrames().empty());
    EXPECT_FALSE(mcustate().pin.lora.ant1.read());
  }
}

TEST_F(HandlerTest, SendPutsOneFrameOnTheAirWithTheNodeSettings) {
  radioOn();
  const uint8_t data[5] = {0x03, 0x11, 0x22, 0x33, 0x44};
  const uint64_t start = nowUs();
  radio().send(data, 5);
  const auto frames = nodeFrames();
  ASSERT_EQ(frames.size(), 1u);
  const sim::AirFrame& f = frames[0];
  EXPECT_EQ(f.bytes, Bytes(data, data + 5));
  EXPECT_TRUE(f.lora);
  EXPECT_EQ(f.air.freqHz, 868000000u);
  EXPECT_EQ(f.air.sf, 7);
  EXPECT_EQ(f.air.bwCode, 4);
  EXPECT_EQ(f.air.cr, 1);
  EXPECT_EQ(f.air.preamble, 8);
  EXPECT_TRUE(f.air.crcOn);
  EXPECT_FALSE(f.air.implicitHeader);
  EXPECT_FALSE(f.air.iqInverted);
  EXPECT_EQ(f.air.syncWord, 0x12);
  EXPECT_FALSE(f.truncated);
  // The wait is the time on air plus 10 ms, then standby.
  EXPECT_GE(nowUs() - start, (LoraAirTime::timeOnAirMsForTx(5, MCUState::Lora::modParams, 8) + 10) * 1000u);
  EXPECT_EQ(chip().mode(), sim::Llcc68Model::Mode::stbyRc);
  EXPECT_FALSE(mcustate().pin.lora.ant1.read());
  EXPECT_EQ(takeOutput(), "");
}

TEST_F(HandlerTest, SendOfNothingTouchesNothing) {
  const uint8_t data[1] = {0};
  radio().send(data, 0);
  lora_send(data, 256u);  // the wide form keeps the low 8 bits: nothing to send either
  EXPECT_FALSE(radio().isInitialized());
  EXPECT_TRUE(nodeFrames().empty());
}

TEST_F(HandlerTest, ARadioLeftInGfskIsRestoredBeforeTransmitting) {
  radioOn();
  ASSERT_EQ(llcc68_set_pkt_type(nullptr, LLCC68_PKT_TYPE_GFSK), LLCC68_STATUS_OK);
  const uint8_t data[3] = {7, 8, 9};
  radio().send(data, 3);
  EXPECT_EQ(takeOutput(), "LoRa: restoring LoRa packet type before TX\n");
  const auto frames = nodeFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].lora);
}

TEST_F(HandlerTest, ChannelSamplingTakesThePeak) {
  radioOn();
  EXPECT_EQ(radio().sampleChannelRssiDbm(5), -117);
  EXPECT_EQ(setRxCount(5), 1u);
  medium().setInterferer({-80.0, 0, 0, true});
  EXPECT_EQ(loraSampleChannelRssiDbm(0), -80);  // 0 is taken as 1 ms
  EXPECT_EQ(setRxCount(1), 1u);
  EXPECT_FALSE(mcustate().pin.lora.ant2.read());
  EXPECT_EQ(chip().mode(), sim::Llcc68Model::Mode::stbyRc);
}

TEST_F(HandlerTest, ChannelSensingThreshold) {
  radioOn();
  struct Case {
    double dbm;
    bool busy;
  };
  for (const Case c : {Case{-95.0, false}, Case{-94.0, true}, Case{-200.0, false}}) {
    medium().setInterferer({c.dbm, 0, 0, true});
    EXPECT_EQ(loraChannelHasRssiEnergy(MCUState::Lora::channelBusyRssiDbm, 5), c.busy) << c.dbm;
  }
  // A failed sample counts as a free channel.
  chip().faults().failOpcode = 0x82;
  medium().setInterferer({-50.0, 0, 0, true});
  EXPECT_EQ(loraSampleChannelRssiDbm(5), -127);
  EXPECT_FALSE(loraChannelHasRssiEnergy(MCUState::Lora::channelBusyRssiDbm, 5));
}

struct ListenCase {
  const char* name;
  std::vector<std::string> script;  // scripted frames
  sim::Llcc68Faults faults;
  Outcome outcome;
  uint8_t len;
  uint8_t dropped;
  std::string line;  // the window's console line: its start, and its end after "ms"
  std::string end = "";
};

TEST_F(HandlerTest, ReceiveWindowOutcomes) {
  sim::Llcc68Faults silent;
  silent.irqSilent = true;
  sim::Llcc68Faults setupFails;
  setupFails.failOpcode = 0x8C;
  const ListenCase cases[] = {
      {"no traffic",
       {},
       {},
       Outcome::timeout,
       0,
       0,
       "LoRa RX: timeout after ",
       " (window 1000ms, 0 corrupt frames dropped)\n\r"},
      {"a frame",
       {"in_rx_ms=100 data=0D0102030405 rssi=-80 snr=9"},
       {},
       Outcome::rxDone,
       6,
       0,
       "LoRa RX: 6 bytes (listen ",
       "ms)\n\r"},
      {"a corrupt frame, then nothing",
       {"in_rx_ms=100 data=0D01 crc=bad"},
       {},
       Outcome::timeout,
       0,
       1,
       "LoRa RX: timeout after ",
       " (window 1000ms, 1 corrupt frames dropped)\n\r"},
      {"a bad header, then nothing",
       {"in_rx_ms=100 data=0D01 header=bad"},
       {},
       Outcome::timeout,
       0,
       1,
       "LoRa RX: timeout after ",
       " (window 1000ms, 1 corrupt frames dropped)\n\r"},
      {"a corrupt frame, then a good one",
       {"in_rx_ms=100 data=0D01 crc=bad", "after_ms=200 data=0D0203"},
       {},
       Outcome::rxDone,
       3,
       1,
       "LoRa RX: 3 bytes (listen ",
       "ms)\n\r"},
      {"an empty frame",
       {"in_rx_ms=100 data="},
       {},
       Outcome::rxDone,
       0,
       0,
       "LoRa RX: RX_DONE but no payload read (listen ",
       "ms)\n\r"},
      {"a frame on another channel",
       {"in_rx_ms=100 data=0D01 freq=869525000"},
       {},
       Outcome::timeout,
       0,
       0,
       "LoRa RX: timeout after ",
       " (window 1000ms, 0 corrupt frames dropped)\n\r"},
      {"a frame with another sync word",
       {"in_rx_ms=100 data=0D01 sync=0x34"},
       {},
       Outcome::timeout,
       0,
       0,
       "LoRa RX: timeout after ",
       " (window 1000ms, 0 corrupt frames dropped)\n\r"},
      {"a chip that never raises an IRQ",
       {},
       silent,
       Outcome::pollExpired,
       0,
       0,
       "LoRa RX: poll-expired after 10",
       " (window 1000ms, 0 corrupt frames dropped)\n\r"},
      {"setup fails", {}, setupFails, Outcome::setupFailed, 0, 0, ""},
  };
  for (const ListenCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    radioOn();
    for (const std::string& line : c.script) sim::board().airScript().add(scripted(line));
    chip().faults() = c.faults;
    struct Seen {
      int calls = 0;
      uint8_t len = 0;
    } seen;
    radio().setRxCallback(
        [](const uint8_t*, uint8_t len, void* user) {
          auto* s = static_cast<Seen*>(user);
          ++s->calls;
          s->len = len;
        },
        &seen);
    const uint64_t start = nowUs();
    const LoraListenResult r = lora_listen(1000);
    EXPECT_EQ(r.outcome, c.outcome) << r.label();
    EXPECT_EQ(r.len, c.len);
    EXPECT_EQ(r.droppedFrames, c.dropped);
    EXPECT_EQ(seen.calls, r.gotFrame() ? 1 : 0);
    EXPECT_EQ(seen.len, r.len);
    const std::string out = takeOutput();
    if (c.line.empty()) {
      EXPECT_EQ(out, "");
    } else {
      EXPECT_EQ(out.rfind(c.line, 0), 0u) << out;
      EXPECT_EQ(out.size() >= c.end.size() ? out.substr(out.size() - c.end.size()) : out, c.end) << out;
    }
    EXPECT_FALSE(mcustate().pin.lora.ant2.read());
    const uint64_t tookMs = (nowUs() - start) / 1000;
    switch (c.outcome) {
      case Outcome::timeout: EXPECT_NEAR(static_cast<double>(r.elapsedMs), 1000.0, 6.0); break;
      case Outcome::pollExpired:
        EXPECT_GE(r.elapsedMs, 1000u);
        EXPECT_LE(r.elapsedMs, 1020u + 5u);  // the limit is checked before each 5 ms poll
        EXPECT_LE(framesWith(0x12).size(), 208u);
        break;
      case Outcome::setupFailed: EXPECT_LT(tookMs, 5u); break;
      default: EXPECT_LT(r.elapsedMs, 1000u); break;
    }
    if (r.gotFrame()) {
      EXPECT_EQ(out, "LoRa RX: " + std::to_string(r.len) + " bytes (listen " + std::to_string(r.elapsedMs) +
                         "ms, rssi " + std::to_string(r.rssiDbm) + "dBm, snr " + std::to_string(r.snrDb) +
                         "dB, wake +" + out.substr(out.find("wake +") + 6));
    }
    radio().setRxCallback(nullptr, nullptr);
  }
}

TEST_F(HandlerTest, AReceivedFrameCarriesItsBytesAndSignal) {
  radioOn();
  sim::board().airScript().add(scripted("in_rx_ms=50 data=0D0A0B rssi=-90.5 snr=-2.5"));
  static Bytes got;
  got.clear();
  radio().setRxCallback([](const uint8_t* data, uint8_t len, void*) { got.assign(data, data + len); }, nullptr);
  const LoraListenResult r = lora_listen(500);
  EXPECT_TRUE(r.gotFrame());
  EXPECT_EQ(got, Bytes({0x0D, 0x0A, 0x0B}));
  EXPECT_EQ(r.rssiDbm, -91);
  EXPECT_EQ(r.snrDb, -2);
  EXPECT_EQ(std::string(r.label()), "rx-done");
}

TEST_F(HandlerTest, ACorruptFrameReArmsForTheRemainingTimeOnly) {
  radioOn();
  sim::board().airScript().add(scripted("in_rx_ms=300 data=0D01 crc=bad"));
  const LoraListenResult r = lora_listen(1000);
  EXPECT_EQ(r.outcome, Outcome::timeout);
  const auto arms = framesWith(0x82);
  ASSERT_EQ(arms.size(), 2u);
  const uint32_t first = (arms[0][1] << 16) | (arms[0][2] << 8) | arms[0][3];
  const uint32_t second = (arms[1][1] << 16) | (arms[1][2] << 8) | arms[1][3];
  EXPECT_EQ(first, 1000u * 64);
  // The frame ends about 300 ms + 31 ms on air into the window; the re-arm takes what is left.
  EXPECT_GT(second, 600u * 64);
  EXPECT_LT(second, 680u * 64);
  EXPECT_NEAR(static_cast<double>(r.elapsedMs), 1000.0, 8.0);
}

TEST_F(HandlerTest, AFailedReArmEndsTheWindowEarlyWithTheRejection) {
  struct Case {
    const char* frame;
    Outcome outcome;
  };
  for (const Case c : {Case{"in_rx_ms=100 data=0D01 crc=bad", Outcome::crcError},
                       Case{"in_rx_ms=100 data=0D01 header=bad", Outcome::headerError}}) {
    SetUp();
    radioOn();
    sim::board().airScript().add(scripted(c.frame));
    // The window's SetRx succeeds; once the receiver is armed, every further SetRx fails.
    medium().onReceiverArmed([this](const std::string&, uint64_t, uint64_t) { chip().faults().failOpcode = 0x82; });
    const uint64_t start = nowUs();
    const LoraListenResult r = lora_listen(1000);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.droppedFrames, 1);
    EXPECT_LT(nowUs() - start, 300000u);
    EXPECT_NE(takeOutput().find("corrupt frames dropped"), std::string::npos);
  }
}

}  // namespace
