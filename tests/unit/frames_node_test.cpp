// The frames' node-side glue on the simulated board: packet 7 from the measurement state, packet 9
// samples as buffer rows, packet 13 for this chip committed to flash, packet 14 into the live
// configuration, its flash page and the RTC transmit power.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "DeviceConfig.h"
#include "HMAC.h"
#include "RTCMem.h"
#include "clamp_phase_comp.h"
#include "flash_model.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "main.h"
#include "packet7_node.h"
#include "packet9_node.h"
#include "rxpacket13_node.h"
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

  // The power goes to RTC memory only; the record on the page keeps its settings.
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

// Every frame that passed the counter test stays consumed across a reset or a power cut, also
// when no setting reached the flash (RTC power, toggle, unchanged, refused, a failed commit).
TEST_F(FramesNode, ConsumedFrameIsNeverAcceptedAgainAfterARestart) {
  struct Case {
    const char* name;
    P14::Op op;
    P14::Args args;
    bool eraseFails;
    P14::ApplyOutcome outcome;
  } const cases[] = {
      {"power to RTC", P14::Op::SET_TxPowerDbm, {12}, false, P14::ApplyOutcome::Applied},
      {"toggle", P14::Op::DBG1_TOGGLE, {}, false, P14::ApplyOutcome::Applied},
      {"unchanged", P14::Op::SET_txDebugPacketRate, {100}, false, P14::ApplyOutcome::Unchanged},
      {"refused", P14::Op::SET_SleepForceRX, {0x7FC00000u}, false, P14::ApplyOutcome::RejectedValue},
      {"unknown", static_cast<P14::Op>(9), {}, false, P14::ApplyOutcome::UnknownOpcode},
      {"commit fails", P14::Op::SET_txDebugPacketRate, {7}, true, P14::ApplyOutcome::CommitFailed},
      {"committed", P14::Op::SET_txDebugPacketRate, {8}, false, P14::ApplyOutcome::Applied},
  };
  for (const bool powerCut : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << (powerCut ? ", power cut" : ", reset"));
      SetUp();
      setGstate().config.uid.storeU24(0x0C0FFE);
      ASSERT_TRUE(DeviceConfig::commit());
      rtcMem().txPowerDbm.set(10);
      sim::board().flash().faults().eraseFails = c.eraseFails;
      const P14::Payload f = frame(6, c.op, c.args);
      EXPECT_EQ(P14::applyDecoded(f), c.outcome);
      EXPECT_EQ(P14::applyDecoded(f), P14::ApplyOutcome::StaleCounter) << "replayed at once";
      sim::board().flash().faults() = sim::FlashFaults{};
      if (powerCut) {
        for (uint32_t r = 0; r < 3; ++r) HAL_RTCEx_BKUPWrite(&hrtc, r, 0);
      }
      reboot();
      EXPECT_EQ(P14::applyDecoded(f), P14::ApplyOutcome::StaleCounter) << "replayed after the restart";
      EXPECT_EQ(P14::applyDecoded(frame(7, P14::Op::DBG1_TOGGLE)), P14::ApplyOutcome::Applied);
    }
  }
}

TEST_F(FramesNode, Packet7FromTheMeasurementState) {
  GState& g = setGstate();
  g.adc.buf.size2use = 231;
  g.adc.VRef = 3.3f;
  g.adc.eFieldSlopeCorrection = -1.5f;
  g.chanBField.burdenResistor = 270;
  g.bField.average = 2048;
  g.bField.rmsRaw = 100.5f;
  g.bField.rmsV = 0.081f;
  g.bField.phaseOk = true;
  g.bField.phaseRad = 0.5f;
  g.bField.magnitude = 1234.5f;
  g.eFieldInductive.phaseOk = false;
  g.eFieldInductive.phaseRad = 0.25f;
  g.currOriginal = 1.0f;
  g.currCorrected = 1.1f;
  g.power.powerFactor = 0.9f;
  g.power.estimatedPower = 230.25f;
  g.config.inductive50HzPhaseCorrection = 0.2f;

  const auto p = LoRaPacket7::makePayload(LoRaPacketCounterU24(5), g.config.uid, gstate());
  EXPECT_EQ(p.bField.chanId, 0);
  EXPECT_EQ(p.bField.sampleCount, 231);
  EXPECT_EQ(p.bField.burdenResistor, 270);
  EXPECT_EQ(p.bField.flags, LoRaPacket7::MeasureFlagPhaseOk);
  EXPECT_EQ(p.bField.average, 2048);
  EXPECT_EQ(p.bField.rmsRawQ4, 1005000);
  EXPECT_EQ(p.bField.phaseRadQ4, 5000);
  EXPECT_EQ(p.eFieldInductive.chanId, 2);
  EXPECT_EQ(p.eFieldInductive.flags, 0);
  EXPECT_EQ(p.eFieldInductive.phaseRadQ4, LoRaPacket7::encodeFixed(g.eFieldInductive.getPhaseRad(), 4));
  EXPECT_EQ(p.power.phaseOkMask, LoRaPacket7::PowerFlagBFieldPhaseOk);
  EXPECT_EQ(p.power.bPhaseRadQ4, 5000);  // uncompensated
  const float shift = powerShiftRad(clampCorrectedBPhaseRad(0.5f, 1.0f, 270), g.eFieldInductive.getPhaseRad());
  EXPECT_EQ(p.power.shiftRadQ4, LoRaPacket7::encodeFixed(shift, 4));
  EXPECT_EQ(p.power.clampPhaseShiftRad, clampPhaseShiftRad(1.0f, 270));
  EXPECT_EQ(p.power.phaseCorrectionRadQ4, 2000);
  EXPECT_EQ(p.power.eFieldSlopeCorrectionQ4, -15000);
  EXPECT_EQ(p.power.power2WQ2, 23025);
  EXPECT_EQ(p.vRef, 160);
}

TEST(FramesNodeSamples, DecodeAsBufferRow) {
  const ADCStruct r = LoRaPacket9::decodeAdcSample(0x007FFFFFu);
  EXPECT_EQ(r.getBFieldV(), -1);
  EXPECT_EQ(r.eFieldInd, 4092);
  EXPECT_EQ(r.eFieldCap, 4);
}

TEST_F(FramesNode, AssignAndConfirmForThisChip) {
  namespace P13 = LoRaRXPacket13;
  P13::HmacKey key{};
  for (uint8_t i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i + 1);
  UID id;
  id.storeU24(0x0C0FFE);
  const auto chip = LoRaPacket10::packStUidBytes(readChipID());
  const P13::Payload assign = P13::makePayload(LoRaPacketCounterU24(1), id, chip, LoRaPacket10::kPhaseTagAssign, key);
  ASSERT_FALSE(gstate().config.ok());
  EXPECT_TRUE(P13::verifyLocalStUid(assign));
  EXPECT_TRUE(P13::applyAssignDecoded(assign));
  DeviceConfig::init();  // what survives a reset
  EXPECT_TRUE(gstate().config.ok());
  EXPECT_EQ(gstate().config.uid.toU24(), 0x0C0FFEu);
  EXPECT_EQ(gstate().config.hmacKey, key);
  const P13::Payload confirm =
      P13::makePayload(LoRaPacketCounterU24(2), id, chip, LoRaPacket10::kPhaseTagConfirm, P13::HmacKey{});
  EXPECT_TRUE(P13::applyConfirmDecoded(confirm));
  auto other = chip;
  other[0] ^= 1;
  const P13::Payload elsewhere =
      P13::makePayload(LoRaPacketCounterU24(1), id, other, LoRaPacket10::kPhaseTagAssign, key);
  EXPECT_FALSE(P13::applyAssignDecoded(elsewhere));
}

// A commit cut short loses the record, and the receiving node provisions the node again with the
// same identity and key: the downlinks consumed before stay consumed. Another identity starts at 0.
TEST_F(FramesNode, ConsumedDownlinksOutliveALostRecordOfTheSameIdentity) {
  namespace P13 = LoRaRXPacket13;
  P13::HmacKey key{};
  key.fill(0x42);
  const auto chip = LoRaPacket10::packStUidBytes(readChipID());
  const auto assign = [&](uint32_t uid) {
    UID id;
    id.storeU24(uid);
    return P13::applyAssignDecoded(
        P13::makePayload(LoRaPacketCounterU24(1), id, chip, LoRaPacket10::kPhaseTagAssign, key));
  };
  struct Case {
    const char* what;
    sim::FlashFaults tear;  // how the commit of the setting ends
    uint32_t assigned;
    uint32_t firstAccepted;
  } const cases[] = {
      {"a double word of the record fails", {false, 7, -1, false}, 0x0C0FFE, 9},
      {"the record's first double word fails", {false, 1, -1, false}, 0x0C0FFE, 9},
      {"another identity", {false, 7, -1, false}, 0x0C0FFF, 1},
      // The known limit of erasing before programming: nothing at all survives a cut right after
      // the erase, the counter no more than the record.
      {"known limit: the counter's own double word fails", {false, 0, -1, false}, 0x0C0FFE, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    ASSERT_TRUE(assign(0x0C0FFE));
    P14::Args phase{};
    phase[7] = std::bit_cast<uint32_t>(0.5f);
    EXPECT_EQ(P14::applyDecoded(frame(5, P14::Op::SET_PhaseShift, phase)), P14::ApplyOutcome::Applied);
    sim::board().flash().faults() = c.tear;
    phase[7] = std::bit_cast<uint32_t>(0.25f);
    const P14::Payload torn = frame(8, P14::Op::SET_PhaseShift, phase);
    EXPECT_EQ(P14::applyDecoded(torn), P14::ApplyOutcome::CommitFailed);
    sim::board().flash().faults() = sim::FlashFaults{};
    reboot();
    ASSERT_FALSE(gstate().config.ok()) << "the record is lost";
    ASSERT_TRUE(assign(c.assigned));
    reboot();
    ASSERT_TRUE(gstate().config.ok());
    for (uint32_t counter = 1; counter < c.firstAccepted; ++counter) {
      EXPECT_EQ(P14::applyDecoded(frame(counter, P14::Op::DBG1_TOGGLE)), P14::ApplyOutcome::StaleCounter) << counter;
    }
    EXPECT_EQ(P14::applyDecoded(frame(c.firstAccepted, P14::Op::DBG1_TOGGLE)), P14::ApplyOutcome::Applied);
  }
}

}  // namespace
