// Configuration record on its flash page: validity rule, commit image, reload, failed commits,
// torn pages, erase.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "DeviceConfig.h"
#include "flash_model.h"
#include "gstate.h"
#include "stm32g0xx_hal.h"
#include "test_board.h"

namespace {

using Bytes = std::array<uint8_t, sizeof(FlashConfig)>;

uint8_t* page() { return reinterpret_cast<uint8_t*>(__device_config_flash_start); }

Bytes bytesOf(const FlashConfig& c) {
  Bytes b;
  std::memcpy(b.data(), &c, b.size());
  return b;
}

Bytes live() { return bytesOf(gstate().config); }

Bytes defaults() { return bytesOf(FlashConfig()); }

// A committed-looking record with every staged field away from its default.
FlashConfig sampleRecord(uint32_t uid) {
  FlashConfig c;
  c.uid.storeU24(uid);
  c.hmacKey.fill(0x5A);
  c.inductive50HzPhaseCorrection = 0.125f;
  c.clampMapping[3] = TablePoint{2.5f, 2.75f};
  c.sleepMaxSec = 90.0f;
  c.forceLoraRX = true;
  c.txDebugPacketRate = 7;
  c.lastDownlinkCounter = 0x01020304u;
  c.magic = FlashConfig::MAGIC;
  c.version = FlashConfig::VERSION;
  return c;
}

class DeviceConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    testing_support::takeOutput();
  }
  sim::FlashModel& model() { return sim::board().flash(); }
  // Write `c` to the page through the store, as an earlier run would have.
  void commitPrevious(const FlashConfig& c) {
    setGstate().config = c;
    ASSERT_TRUE(DeviceConfig::commit());
  }
  // A reset: RAM rebuilt, then the store loads again.
  void reboot() {
    GState::make();
    DeviceConfig::init();
  }
};

TEST_F(DeviceConfigTest, ErasedPageGivesDefaults) {
  setGstate().config.uid.storeU24(0x123456);
  DeviceConfig::init();
  EXPECT_EQ(live(), defaults());
  EXPECT_FALSE(gstate().config.ok());
  EXPECT_EQ(gstate().config.txDebugPacketRate, 100);
  EXPECT_EQ(gstate().config.sleepMaxSec, 600.0f);
}

TEST_F(DeviceConfigTest, OnlyMagicAndVersionDecideValidity) {
  struct Case {
    uint8_t version;
    uint32_t magic;
    bool loads;
  } const cases[] = {
      {16, FlashConfig::MAGIC, true}, {15, FlashConfig::MAGIC, false}, {17, FlashConfig::MAGIC, false},
      {16, 0x80988605u, false},       {16, 0x04869880u, false},        {0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << int(c.version) << " magic " << std::hex << c.magic);
    // Every other byte is arbitrary, the flag byte included.
    std::memset(page(), 0xA5, 128);
    page()[118] = c.version;
    std::memcpy(page() + 120, &c.magic, 4);
    FlashConfig out = sampleRecord(0x777777);
    const Bytes before = bytesOf(out);
    EXPECT_EQ(DeviceConfig::loadFromFlash(__device_config_flash_start, &out), c.loads);
    if (c.loads) {
      EXPECT_EQ(out.uid.toU24(), 0xA5A5A5u);
      EXPECT_EQ(out.txDebugPacketRate, 0xA5A5);
      EXPECT_TRUE(out.forceLoraRX);
      EXPECT_EQ(std::memcmp(&out, page(), offsetof(FlashConfig, forceLoraRX)), 0);
    } else {
      EXPECT_EQ(bytesOf(out), before) << "a refused page must leave the output alone";
    }
  }
}

TEST_F(DeviceConfigTest, ErasedPageLeavesOutputAlone) {
  FlashConfig out = sampleRecord(1);
  EXPECT_FALSE(DeviceConfig::loadFromFlash(__device_config_flash_start, &out));
  EXPECT_EQ(out.uid.toU24(), 1u);
}

// The record's downlink counter and the uplink counter checkpoint go first, a double word each (see
// below), then the 16 of the record; the rest of the page is erased.
TEST_F(DeviceConfigTest, CommitWritesTheCounterThenTheRecordAndErasesTheRest) {
  std::memset(page(), 0x00, sim::FlashModel::kPageSize);  // an old image over the whole page
  FlashConfig staged = sampleRecord(0xABCDEF);
  staged.magic = 0;
  staged.version = 0;
  setGstate().config = staged;
  ASSERT_TRUE(flash().commit());
  EXPECT_TRUE(gstate().config.ok());
  EXPECT_EQ(model().programmedSinceErase(), 18);
  EXPECT_EQ(std::memcmp(page(), &gstate().config, 128), 0);
  // Counter 0x01020304 is beyond 24 bits: kept as the top one, FF FF FF; identity EF CD AB; marker
  // 5A; check ~(FF^FF^FF^EF^CD^AB^5A) = D3.
  const uint8_t counter[8] = {0xFF, 0xFF, 0xFF, 0xEF, 0xCD, 0xAB, 0x5A, 0xD3};
  EXPECT_EQ(std::memcmp(page() + 128, counter, 8), 0);
  // Uplink counter 0 (nothing sent yet), three zero bytes, marker A5, check ~A5 = 5A.
  const uint8_t checkpoint[8] = {0, 0, 0, 0, 0, 0, 0xA5, 0x5A};
  EXPECT_EQ(std::memcmp(page() + 136, checkpoint, 8), 0);
  for (size_t i = 144; i < sim::FlashModel::kPageSize; ++i) ASSERT_EQ(page()[i], 0xFF) << "byte " << i;
  EXPECT_EQ(page()[120], 0x04);
  EXPECT_EQ(page()[123], 0x80);
  EXPECT_EQ(page()[118], 16);

  const Bytes committed = live();
  reboot();
  EXPECT_EQ(live(), committed);
}

// A first commit, nothing sent and no remote setting taken yet: still the checkpoint double word
// (counter 0) at 0x80, then the record: 17 double words.
TEST_F(DeviceConfigTest, FirstCommitWritesTheCheckpointOfCounterZeroToo) {
  FlashConfig staged = sampleRecord(0x000042);
  staged.lastDownlinkCounter = 0;
  setGstate().config = staged;
  ASSERT_TRUE(flash().commit());
  EXPECT_EQ(model().programmedSinceErase(), 17);
  EXPECT_EQ(std::memcmp(page(), &gstate().config, 128), 0);
  const uint8_t checkpoint[8] = {0, 0, 0, 0, 0, 0, 0xA5, 0x5A};
  EXPECT_EQ(std::memcmp(page() + 128, checkpoint, 8), 0);
  for (size_t i = 136; i < sim::FlashModel::kPageSize; ++i) ASSERT_EQ(page()[i], 0xFF) << "byte " << i;
}

TEST_F(DeviceConfigTest, FailedCommitFollowsWhatThePageHolds) {
  struct Case {
    const char* name;
    sim::FlashFaults faults;
    bool previousSurvives;
  } const cases[] = {
      {"erase fails", {true, -1, -1, false}, true},
      {"first double word fails", {false, 0, -1, false}, false},
      {"last double word fails", {false, 15, -1, false}, false},
  };
  const FlashConfig previous = sampleRecord(0x111111);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    commitPrevious(previous);
    model().faults() = c.faults;
    setGstate().config.uid.storeU24(0x222222);
    setGstate().config.txDebugPacketRate = 1;
    EXPECT_FALSE(flash().commit());
    EXPECT_EQ(live(), c.previousSurvives ? bytesOf(previous) : defaults());
    EXPECT_EQ(gstate().config.ok(), c.previousSurvives);
    // And a reset agrees with what the failed commit left live.
    const Bytes afterFailure = live();
    model().faults() = sim::FlashFaults{};
    reboot();
    EXPECT_EQ(live(), afterFailure);
  }
}

TEST_F(DeviceConfigTest, TornPageNeverLoads) {
  // A power loss after k of the 16 double words: the magic sits in the last one.
  const FlashConfig record = sampleRecord(0x333333);
  const auto* image = reinterpret_cast<const uint8_t*>(&record);
  for (int k = 0; k <= 16; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(HAL_FLASH_Unlock(), HAL_OK);
    FLASH_EraseInitTypeDef erase{FLASH_TYPEERASE_PAGES, FLASH_BANK_1, 63, 1};
    uint32_t pageError = 0;
    ASSERT_EQ(HAL_FLASHEx_Erase(&erase, &pageError), HAL_OK);
    for (int i = 0; i < k; ++i) {
      uint64_t dw;
      std::memcpy(&dw, image + 8 * i, 8);
      ASSERT_EQ(HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, reinterpret_cast<uintptr_t>(page()) + 8 * i, dw),
                HAL_OK);
    }
    HAL_FLASH_Lock();
    reboot();
    EXPECT_EQ(live(), k == 16 ? bytesOf(record) : defaults());
  }
}

TEST_F(DeviceConfigTest, EraseResetsToDefaultsOrLeavesEverything) {
  commitPrevious(sampleRecord(0x444444));
  setGstate().config.uid.storeU24(0x555555);  // staged, not committed

  model().faults().eraseFails = true;
  EXPECT_FALSE(flash().erase());
  EXPECT_EQ(gstate().config.uid.toU24(), 0x555555u) << "a failed erase keeps the live record";
  EXPECT_EQ(page()[120], 0x04);

  model().faults().eraseFails = false;
  EXPECT_TRUE(flash().erase());
  EXPECT_EQ(live(), defaults());
  for (size_t i = 0; i < sim::FlashModel::kPageSize; ++i) ASSERT_EQ(page()[i], 0xFF);
  reboot();
  EXPECT_EQ(live(), defaults());
}

TEST_F(DeviceConfigTest, FieldAccessorsStageTheLiveRecord) {
  UID uid;
  uid.storeU24(0x00BEEF);
  flash().uid.setTemp(uid);
  flash().txDebugPacketRate.setTemp(3);
  flash().phaseCorrection.setTemp(-0.5f);
  EXPECT_EQ(gstate().config.uid.toU24(), 0x00BEEFu);
  EXPECT_EQ(flash().txDebugPacketRate.get(), 3);
  EXPECT_EQ(gstate().config.inductive50HzPhaseCorrection, -0.5f);
  reboot();  // never committed
  EXPECT_EQ(flash().uid.get().toU24(), 0u);
}

TEST_F(DeviceConfigTest, ClearProvisionedIdentityKeepsMeasurementSettings) {
  FlashConfig c = sampleRecord(0x666666);
  c.clearProvisionedIdentity();
  FlashConfig expected = sampleRecord(0x666666);
  expected.hmacKey.fill(0);
  expected.uid.storeU24(0);
  expected.lastDownlinkCounter = 0;
  expected.magic = 0;
  expected.version = 0;
  EXPECT_EQ(bytesOf(c), bytesOf(expected));
}

// Downlink counters kept after the record, without an erase: the highest one of the record's
// identity raises the loaded counter; other identities, torn and erased slots do not count.
TEST_F(DeviceConfigTest, KeptDownlinkCountersRaiseTheLoadedCounter) {
  FlashConfig previous = sampleRecord(0x0A0B0C);
  previous.lastDownlinkCounter = 40;
  commitPrevious(previous);
  UID mine = previous.uid;
  UID other;
  other.storeU24(0x0A0B0D);
  struct Step {
    const UID* uid;
    uint32_t counter;
    uint32_t loaded;  // after a reset
  } const steps[] = {
      {&mine, 41, 41}, {&mine, 45, 45}, {&other, 90, 45}, {&mine, 30, 45}, {&mine, 0xFFFFFF, 0xFFFFFF},
  };
  size_t slot = 144;  // after the record's own counter and the checkpoint, which its commit kept first
  for (const Step& s : steps) {
    SCOPED_TRACE(s.counter);
    ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(*s.uid, s.counter));
    // One double word after the ones before, nothing erased: the record is untouched.
    EXPECT_EQ(page()[slot], s.counter & 0xFF);
    EXPECT_EQ(page()[slot + 6], 0x5A);
    slot += 8;
    EXPECT_EQ(std::memcmp(page(), &previous, 120), 0);
    reboot();
    EXPECT_EQ(gstate().config.lastDownlinkCounter, s.loaded);
  }
  // A commit carries the counter in the record and in the double word before it; the rest of the
  // page is emptied but for the checkpoint.
  ASSERT_TRUE(DeviceConfig::commit());
  EXPECT_EQ(page()[128], 0xFF);
  EXPECT_EQ(page()[134], 0x5A);
  EXPECT_EQ(page()[142], 0xA5);
  for (size_t i = 144; i < sim::FlashModel::kPageSize; ++i) ASSERT_EQ(page()[i], 0xFF) << "byte " << i;
  reboot();
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 0xFFFFFFu);
}

TEST_F(DeviceConfigTest, TornCounterSlotIsSkipped) {
  FlashConfig previous = sampleRecord(0x0A0B0C);
  previous.lastDownlinkCounter = 5;
  commitPrevious(previous);
  // A write cut short: some bits of the first free slot (after the two the commit wrote) programmed,
  // marker and check not.
  page()[144] = 0x00;
  page()[147] = 0x0C;
  ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(previous.uid, 9));
  EXPECT_EQ(page()[152 + 6], 0x5A) << "the next erased slot took it";
  reboot();
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 9u);
  // A slot whose check byte does not match is no entry.
  page()[152 + 7] ^= 0x01;
  reboot();
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 5u);
}

TEST_F(DeviceConfigTest, FullCounterAreaRewritesTheRecord) {
  FlashConfig previous = sampleRecord(0x0A0B0C);
  previous.lastDownlinkCounter = 1;
  commitPrevious(previous);
  setGstate().config.txDebugPacketRate = 55;  // staged: must not reach the page this way
  const UID uid = previous.uid;
  constexpr uint32_t kSlots = (2048 - 128) / 8;
  // The commit used two slots: the record's counter and the checkpoint.
  for (uint32_t c = 2; c < kSlots; ++c) ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(uid, c));
  EXPECT_EQ(model().programmedSinceErase(), 16 + static_cast<int>(kSlots));
  ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(uid, 500));
  EXPECT_EQ(model().programmedSinceErase(), 18);
  reboot();
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 500u);
  EXPECT_EQ(gstate().config.txDebugPacketRate, 7);
  // Without a record of that identity on the page there is nothing to rewrite.
  UID other;
  other.storeU24(0x123);
  for (uint32_t c = 1; c < kSlots - 1; ++c) ASSERT_TRUE(DeviceConfig::keepDownlinkCounter(other, c));
  EXPECT_FALSE(DeviceConfig::keepDownlinkCounter(other, 9999));
}

// The page behaves like flash: programming needs an unlocked, erased double word (zeros excepted).
TEST_F(DeviceConfigTest, FlashProgramsOnlyErasedDoubleWords) {
  const uintptr_t base = reinterpret_cast<uintptr_t>(page());
  EXPECT_EQ(HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, base, 1), HAL_ERROR) << "locked";
  ASSERT_EQ(HAL_FLASH_Unlock(), HAL_OK);
  EXPECT_EQ(HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, base, 0x1122334455667788ull), HAL_OK);
  EXPECT_EQ(HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, base, 0x1122334455667788ull), HAL_ERROR);
  EXPECT_EQ(HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, base, 0), HAL_OK) << "zeros may overwrite";
  EXPECT_EQ(HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, base + 4, 0), HAL_ERROR) << "unaligned";
  EXPECT_EQ(HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, base + 2048, 0), HAL_ERROR) << "past the page";
  FLASH_EraseInitTypeDef other{FLASH_TYPEERASE_PAGES, FLASH_BANK_1, 10, 1};
  uint32_t pageError = 0;
  EXPECT_EQ(HAL_FLASHEx_Erase(&other, &pageError), HAL_ERROR);
  EXPECT_EQ(pageError, 10u);
  HAL_FLASH_Lock();
}

}  // namespace
