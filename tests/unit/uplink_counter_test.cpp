// The uplink counter kept on the configuration page: checkpoints every step, the counter goes on
// above every counter sent before when the RTC domain loses its power, a commit or a full page
// carries the checkpoint, and nothing of it happens on a board without a valid record.
#include "uplink_counter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DeviceConfig.h"
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
  // A start as main() makes it; a power cut first clears the RTC domain.
  static void restart(bool powerCut) {
    if (powerCut) {
      sim::board().rtc().setBackupAccess(true);
      for (uint32_t r = 0; r < 3; ++r) sim::board().rtc().writeBackup(r, 0);
    }
    GState::make();
    DeviceConfig::init();
    resumeUplinkCounter();
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

TEST_F(UplinkCounter, CheckpointEveryStepFromTheFirstCount) {
  provision();
  for (int i = 0; i < 200; ++i) nextUplinkCounter();
  EXPECT_EQ(counter(), 200u);
  EXPECT_EQ(checkpoints(), (std::vector<uint32_t>{1, 65, 129, 193}));
  // Counter 1: bytes 01 00 00, three zero bytes, marker A5, check ~(01 ^ A5) = 5B.
  const uint8_t first[8] = {0x01, 0, 0, 0, 0, 0, 0xA5, 0x5B};
  EXPECT_EQ(std::memcmp(page() + 128, first, 8), 0);
  EXPECT_EQ(sim::board().flash().programmedSinceErase(), 16 + 4) << "no erase on the way";
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

// The counter found at start against the latest checkpoint (64 counts a step): 0 or behind it by up
// to half the 24-bit circle means the RTC domain was lost or damaged.
TEST_F(UplinkCounter, ResumeRuleAtStart) {
  struct Case {
    bool valid;
    bool checkpoint;
    uint32_t kept;
    uint32_t found;
    uint32_t resumed;
  } const cases[] = {
      {true, true, 193, 0, 257},                          // power cut
      {true, true, 193, 200, 200},                        // reset
      {true, true, 193, 193, 193},                        // reset right after the checkpoint
      {true, true, 193, 100, 257},                        // damaged: behind
      {true, true, 193, 193 + 0x800000, 257},             // behind by exactly half the circle
      {true, true, 193, 193 + 0x7FFFFF, 193 + 0x7FFFFF},  // ahead by less than half
      {true, true, 0xFFFFF0, 0, 0x30},                    // power cut just before the wrap
      {true, true, 0xFFFFF0, 5, 5},                       // wrapped since the checkpoint
      {true, true, 0, 0, 64},                             // checkpoint at the wrap itself
      {true, false, 0, 0, 0},                             // nothing kept yet
      {false, true, 193, 0, 0},                           // no valid record
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
    GState::make();
    DeviceConfig::init();
    resumeUplinkCounter();
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
  for (size_t i = 1; i < kSlots; ++i) ASSERT_TRUE(DeviceConfig::keepUplinkCounter(static_cast<uint32_t>(i)));
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
  for (size_t i = 1; i < kSlots; ++i) ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(gstate().config.uid, 100 + i));
  ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(gstate().config.uid, 999));
  EXPECT_EQ(checkpoints(), std::vector<uint32_t>{5064});
  restart(true);
  EXPECT_EQ(counter(), 5128u);
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 999u);
}

}  // namespace
