// RTC backup-register fields: wrap-around, sign, and independence of fields sharing a register.
#include <gtest/gtest.h>

#include "RTCMem.h"
#include "main.h"
#include "rtc_model.h"
#include "stm32g0xx_hal.h"
#include "test_board.h"

namespace {

class RtcMemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    testing_support::takeOutput();
  }
  static uint32_t reg(uint32_t i) { return sim::board().rtc().readBackup(i); }
  static void seed(uint32_t i, uint32_t v) {
    sim::board().rtc().setBackupAccess(true);
    sim::board().rtc().writeBackup(i, v);
  }
};

TEST_F(RtcMemTest, PacketCounterWrapsWithoutTouchingStableCount) {
  seed(0, 0xABFFFFFEu);
  EXPECT_EQ(rtcMem().loraPacketCounter.inc().toU32(), 0xFFFFFFu);
  EXPECT_EQ(rtcMem().loraPacketCounter.inc().toU32(), 0u);
  EXPECT_EQ(reg(0), 0xAB000000u);
  // A 24-bit add carries across the counter's bytes and drops the carry out of bit 23.
  EXPECT_EQ(rtcMem().loraPacketCounter.add(LoRaPacketCounterU24::fromU32(0xFFFFFF)).toU32(), 0xFFFFFFu);
  EXPECT_EQ(rtcMem().loraPacketCounter.add(LoRaPacketCounterU24::fromU32(0x0100FF)).toU32(), 0x0100FEu);
  EXPECT_EQ(reg(0), 0xAB0100FEu);
  EXPECT_EQ(rtcMem().stableReadCounter.get(), 0xAB);
}

TEST_F(RtcMemTest, StableCountWrapsWithoutTouchingPacketCounter) {
  seed(0, 0xFF123456u);
  EXPECT_EQ(rtcMem().stableReadCounter.add(1), 0);
  EXPECT_EQ(reg(0), 0x00123456u);
  EXPECT_EQ(rtcMem().stableReadCounter.set(200), 200);
  EXPECT_EQ(rtcMem().stableReadCounter.add(100), 44);
  EXPECT_EQ(rtcMem().loraPacketCounter.get().toU32(), 0x123456u);
}

TEST_F(RtcMemTest, TransmitPowerIsASignedByteBesideTheReservedOne) {
  seed(2, 0xA5001234u);
  EXPECT_EQ(rtcMem().txPowerDbm.set(-9), -9);
  EXPECT_EQ(reg(2), 0xA5F71234u);
  EXPECT_EQ(rtcMem().txPowerDbm.get(), -9);
  rtcMem().txPowerDbm.set(22);
  EXPECT_EQ(reg(2), 0xA5161234u);
  EXPECT_EQ(rtcMem().timeSinceLastLoraRX.get(), 0x1234);
}

TEST_F(RtcMemTest, HalfWordFieldsOfOneRegisterAreIndependent) {
  seed(1, 0);
  rtcMem().timeSinceLastLoraTX.set(0xBEEF);
  rtcMem().firstStableRawCoarseRMSCurrent.set(0x1234);
  rtcMem().timeSinceLastLoraTX.set(0);
  EXPECT_EQ(rtcMem().firstStableRawCoarseRMSCurrent.get(), 0x1234);
  rtcMem().firstStableRawCoarseRMSCurrent.set(0xFFFF);
  EXPECT_EQ(rtcMem().timeSinceLastLoraTX.get(), 0);
  EXPECT_EQ(reg(1), 0xFFFF0000u);
  rtcMem().timeSinceLastLoraRX.set(0x0102);
  EXPECT_EQ(reg(2), 0x00000102u);
}

TEST_F(RtcMemTest, WritesNeedBackupDomainAccess) {
  // Access is lost at every reset; the fields enable it themselves.
  HAL_PWR_DisableBkUpAccess();
  HAL_RTCEx_BKUPWrite(&hrtc, 1, 0x55);
  EXPECT_EQ(reg(1), 0u);
  HAL_PWR_DisableBkUpAccess();
  rtcMem().timeSinceLastLoraTX.set(0x55);
  EXPECT_EQ(reg(1), 0x55u);
}

TEST_F(RtcMemTest, StatusTableListsFiveFields) {
  seed(0, 0x02FFFFFFu);
  seed(1, 0x0010000Au);
  seed(2, 0x00F7000Bu);
  printRTC();
  EXPECT_EQ(testing_support::takeOutput(),
            "RTC backup status:\r\n"
            "  Field                          |        Dec |        Hex\r\n"
            "  ------------------------------+------------+------------\r\n"
            "  loraPacketCounter              |   16777215 | 0x00FFFFFF\r\n"
            "  stableReadCounter              |          2 | 0x00000002\r\n"
            "  timeSinceLastLoraTX            |         10 | 0x0000000A\r\n"
            "  firstStableRawCoarseRMSCurrent |         16 | 0x00000010\r\n"
            "  timeSinceLastLoraRX            |         11 | 0x0000000B\r\n");
}

}  // namespace
