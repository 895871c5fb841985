// The uplink counter kept on the configuration page: checkpoints every step, the counter goes on
// above every counter sent before when the RTC domain loses its power, a commit or a full page
// carries the checkpoint, and nothing of it happens on a board without a valid record.
#include "uplink_counter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DeviceConfig.h"
#include "MCUState.h"
#include "RTCMem.h"
#include "flash_model.h"
#include "gstate.h"
#include "rtc_model.h"
#include "test_board.h"

namespace {

uint8_t* page() { return reinterpret_cast<uint8_t*>(__device_config_flash_start); }
constexpr size_t kSlots = (2048 - 128) / 8;

class UplinkCounter : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    testing_support::takeOutput();
    DeviceConfig::init();
  }
  static void provision() {
    setGstate().config.uid.storeU24(0x0C0FFE);
    setGstate().config.hmacKey.fill(0x42);
    ASSERT_TRUE(DeviceConfig::commit());
  }
  static void setRegister(uint32_t counter) {
    sim::board().rtc().setBackupAccess(true);
    sim::board().rtc().writeBackup(0, counter);
  }
  static uint32_t counter() { return rtcMem().loraPacketCounter.get().toU32(); }
  // A start as main() makes it, with the reset flags of a power-on or of the reset pin.
  static void start(bool powerOn) {
    setMCUGstate().resetCause = powerOn ? HAL_RESET_FLAG_POWER_ON : HAL_RESET_FLAG_PIN;
    GState::make();
    DeviceConfig::init();
    resumeUplinkCounter();
  }
  // A power cut clears the RTC domain, then the board starts with a power-on; a reset keeps it.
  static void restart(bool powerCut) {
    if (powerCut) {
      sim::board().rtc().setBackupAccess(true);
      for (uint32_t r = 0; r < 3; ++r) sim::board().rtc().writeBackup(r, 0);
    }
    start(powerCut);
  }
  // Offsets of the uplink checkpoints on the page, in page order.
  static std::vector<uint32_t> checkpoints() {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < kSlots; ++i) {
      const uint8_t* s = page() + 128 + 8 * i;
      if (s[6] == 0xA5) out.push_back(s[0] | (s[1] << 8) | (s[2] << 16));
    }
    return out;
  }
};

TEST_F(UplinkCounter, CheckpointAtTheCommitThenEveryStep) {
  provision();
  for (int i = 0; i < 200; ++i) nextUplinkCounter();
  EXPECT_EQ(counter(), 200u);
  EXPECT_EQ(checkpoints(), (std::vector<uint32_t>{0, 64, 128, 192}));
  // Counter 64: bytes 40 00 00, three zero bytes, marker A5, check ~(40 ^ A5) = 1A.
  const uint8_t second[8] = {0x40, 0, 0, 0, 0, 0, 0xA5, 0x1A};
  EXPECT_EQ(std::memcmp(page() + 136, second, 8), 0);
  EXPECT_EQ(sim::board().flash().programmedSinceErase(), 17 + 3) << "no erase on the way";
}

TEST_F(UplinkCounter, NoCheckpointWithoutAValidRecord) {
  for (int i = 0; i < 100; ++i) nextUplinkCounter();
  EXPECT_EQ(counter(), 100u);
  for (size_t i = 0; i < 2048; ++i) ASSERT_EQ(page()[i], 0xFF) << "byte " << i;
  restart(true);
  EXPECT_EQ(counter(), 0u);
}

// Whatever count the node had reached when the power went, the next counter it sends is above it,
// and by no more than two steps.
TEST_F(UplinkCounter, PowerCutNeverGoesBackBehindASentCounter) {
  for (uint32_t sent : {1u, 2u, 63u, 64u, 65u, 66u, 127u, 128u, 129u, 500u}) {
    SCOPED_TRACE(sent);
    SetUp();
    provision();
    for (uint32_t i = 0; i < sent; ++i) nextUplinkCounter();
    restart(true);
    const uint32_t next = nextUplinkCounter().toU32();
    EXPECT_GT(next, sent);
    EXPECT_LE(next, sent + 2 * kUplinkCounterCheckpointStep);
    // A reset keeps the RTC domain: the counter simply goes on.
    restart(false);
    EXPECT_EQ(nextUplinkCounter().toU32(), next + 1);
  }
}

// The counter found at start against the latest checkpoint (64 counts a step): behind it by up to
// half the 24-bit circle means damage, 0 at a power-on a cleared RTC domain. A provisioned record
// always comes with a checkpoint (here 0, made by its commit).
TEST_F(UplinkCounter, ResumeRuleAtStart) {
  constexpr bool kPowerOn = true, kReset = false;
  struct Case {
    bool valid;
    bool checkpoint;
    uint32_t kept;
    uint32_t found;
    bool powerOn;
    uint32_t resumed;
  } const cases[] = {
      {true, true, 193, 0, kPowerOn, 257},                        // power cut
      {true, true, 193, 0, kReset, 257},                          // damaged to 0: behind
      {true, true, 193, 200, kReset, 200},                        // reset
      {true, true, 193, 193, kReset, 193},                        // reset right after the checkpoint
      {true, true, 193, 100, kReset, 257},                        // damaged: behind
      {true, true, 193, 193 + 0x800000, kReset, 257},             // behind by exactly half the circle
      {true, true, 193, 193 + 0x7FFFFF, kReset, 193 + 0x7FFFFF},  // ahead by less than half
      {true, true, 193, 200, kPowerOn, 200},                      // a power-on that kept the domain
      {true, true, 0xFFFFF0, 0, kPowerOn, 0x30},                  // power cut just before the wrap
      {true, true, 0xFFFFF0, 5, kReset, 5},                       // wrapped since the checkpoint
      {true, true, 0, 0, kPowerOn, 64},                           // checkpoint at the wrap, power cut
      {true, false, 0, 0, kPowerOn, 64},                          // power cut before the first count
      {true, false, 0, 0, kReset, 0},                             // reset before the first count
      {true, false, 0, 0x900000, kReset, 64},                     // damaged before the first count
      {false, true, 193, 0, kPowerOn, 257},                       // a commit cut short: no record
      {false, false, 0, 0, kPowerOn, 0},                          // a board that never committed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.kept << " " << c.found);
    SetUp();
    if (c.valid) {
      provision();
    }
    if (c.checkpoint) {
      ASSERT_TRUE(DeviceConfig::keepUplinkCounter(c.kept));
    }
    setRegister(c.found);
    start(c.powerOn);
    EXPECT_EQ(counter(), c.resumed);
  }
}

// A commit starts the page again: the checkpoint goes first, with the later of the latest one and
// the counter, so no valid record stands without it; a cut at any double word keeps that rule.
TEST_F(UplinkCounter, CommitCarriesTheCheckpoint) {
  provision();
  for (int i = 0; i < 100; ++i) nextUplinkCounter();
  setGstate().config.txDebugPacketRate = 9;
  ASSERT_TRUE(DeviceConfig::commit());
  EXPECT_EQ(checkpoints(), std::vector<uint32_t>{100});
  EXPECT_EQ(sim::board().flash().programmedSinceErase(), 17);
  restart(true);
  EXPECT_EQ(counter(), 164u);
  EXPECT_EQ(gstate().config.txDebugPacketRate, 9);

  // A counter behind the kept checkpoint (damaged registers) does not pull it back.
  setRegister(3);
  ASSERT_TRUE(DeviceConfig::commit());
  EXPECT_EQ(checkpoints(), std::vector<uint32_t>{100});
}

TEST_F(UplinkCounter, FirstCommitOfANodeThatHasSentKeepsItsCounter) {
  for (int i = 0; i < 10; ++i) nextUplinkCounter();  // the handshake's frames, before the record
  provision();
  EXPECT_EQ(checkpoints(), std::vector<uint32_t>{10});
  restart(true);
  EXPECT_EQ(counter(), 74u);
}

// A full area: the record with the downlink counters kept beside it and the new checkpoint start
// the page again; the staged live record never reaches it.
TEST_F(UplinkCounter, FullAreaStartsThePageAgain) {
  provision();
  ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(gstate().config.uid, 77));
  for (size_t i = 2; i < kSlots; ++i) ASSERT_TRUE(DeviceConfig::keepUplinkCounter(static_cast<uint32_t>(i)));
  setGstate().config.txDebugPacketRate = 55;  // staged
  ASSERT_TRUE(DeviceConfig::keepUplinkCounter(5000));
  EXPECT_EQ(sim::board().flash().programmedSinceErase(), 18) << "checkpoint, downlink counter, record";
  EXPECT_EQ(checkpoints(), std::vector<uint32_t>{5000});
  restart(true);
  EXPECT_EQ(counter(), 5064u);
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 77u);
  EXPECT_EQ(gstate().config.txDebugPacketRate, 100);
  EXPECT_EQ(gstate().config.uid.toU24(), 0x0C0FFEu);

  // A full area of downlink counters carries the latest checkpoint too.
  for (size_t i = 2; i < kSlots; ++i) ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(gstate().config.uid, 100 + i));
  ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(gstate().config.uid, 999));
  EXPECT_EQ(checkpoints(), std::vector<uint32_t>{5064});
  restart(true);
  EXPECT_EQ(counter(), 5128u);
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 999u);
}

}  // namespace
