// The frames' node-side glue on the simulated board: packet 14 into the live configuration, its
// flash page and the RTC transmit power.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "DeviceConfig.h"
#include "RTCMem.h"
#include "flash_model.h"
#include "gstate.h"
#include "rxpacket14_node.h"
#include "test_board.h"

namespace {

namespace P14 = LoRaRXPacket14;

class FramesNode : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    testing_support::takeOutput();
    DeviceConfig::init();
  }
  // A reset: RAM rebuilt, the configuration loaded again from its page.
  static void reboot() {
    GState::make();
    DeviceConfig::init();
  }
  static P14::Payload frame(uint32_t counter, P14::Op op, P14::Args args = {}) {
    return P14::makePayload(LoRaPacketCounterU24::fromU32(counter), gstate().config.uid, op, args);
  }
};

TEST_F(FramesNode, SettingsReachFlashAndRtc) {
  setGstate().config.uid.storeU24(0x0C0FFE);
  ASSERT_TRUE(DeviceConfig::commit());
  rtcMem().txPowerDbm.set(14);

  // The power goes to RTC memory only: the page still holds counter 0 afterwards.
  EXPECT_EQ(P14::applyDecoded(frame(1, P14::Op::SET_TxPowerDbm, {0})), P14::ApplyOutcome::Applied);
  EXPECT_EQ(rtcMem().txPowerDbm.get(), 9);
  EXPECT_EQ(P14::applyDecoded(frame(2, P14::Op::SET_TxPowerDbm, {9})), P14::ApplyOutcome::Unchanged);
  EXPECT_EQ(rtcMem().txPowerDbm.get(), 9);

  P14::Args a{};
  a[7] = std::bit_cast<uint32_t>(0.75f);
  EXPECT_EQ(P14::applyDecoded(frame(3, P14::Op::SET_PhaseShift, a)), P14::ApplyOutcome::Applied);
  reboot();
  EXPECT_EQ(gstate().config.inductive50HzPhaseCorrection, 0.75f);
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 3u);
  EXPECT_EQ(rtcMem().txPowerDbm.get(), 9);
  EXPECT_EQ(P14::applyDecoded(frame(3, P14::Op::DBG1_TOGGLE)), P14::ApplyOutcome::StaleCounter);
  EXPECT_EQ(P14::applyDecoded(frame(4, P14::Op::DBG1_TOGGLE)), P14::ApplyOutcome::Applied);
}

TEST_F(FramesNode, FailedCommitIsReported) {
  setGstate().config.uid.storeU24(0x0C0FFE);
  ASSERT_TRUE(DeviceConfig::commit());
  sim::board().flash().faults() = sim::FlashFaults{true, -1, -1, false};  // the erase fails
  EXPECT_EQ(P14::applyDecoded(frame(5, P14::Op::SET_txDebugPacketRate, {7})), P14::ApplyOutcome::CommitFailed);
  // The store went back to the page, which still holds the old record.
  EXPECT_EQ(gstate().config.txDebugPacketRate, 100);
  EXPECT_TRUE(gstate().config.ok());
}

}  // namespace
