// The node on the air: the transmission cycle's rules, inbound dispatch of downlinks delivered by
// the scripted transmitter (built with the node's own encoders), the answer to a remote setting,
// the extra receive windows and the provisioning handshake. Its own binary: the node registers its
// receive callback once for the whole program.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "DemoShellTx.h"
#include "DeviceConfig.h"
#include "RTCMem.h"
#include "flash_model.h"
#include "functionsMCU.h"
#include "gpio_model.h"
#include "gstate.h"
#include "hex_text.h"
#include "lora_inbound.h"
#include "packethandler.h"
#include "radio_fixture.h"
#include "rxpacket13.h"
#include "rxpacket14.h"

namespace {

using testing_support::takeOutput;
using Op = LoRaRXPacket14::Op;

constexpr uint32_t kUid = 0x12AB34;
constexpr std::array<uint8_t, 16> kKey = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

using testing_support::hex;

UID uidOf(uint32_t v) {
  UID u;
  u.storeU24(v);
  return u;
}

uint32_t counterOf(const sim::AirFrame& f) { return f.bytes[4] | (f.bytes[5] << 8) | (f.bytes[6] << 16); }

struct Window {
  uint64_t atUs;
  uint64_t lengthUs;
  uint16_t timeSinceLastRx;  // the RTC field when the window opened
};

class OnAirTest : public testing_support::RadioTest {
 protected:
  bool resetsRxCallback() const override { return false; }

  void SetUp() override {
    RadioTest::SetUp();
    windows_.clear();
    setMCUGstate().resetCause = 0;  // no pin reset unless a test says so
    FlashConfig& c = setGstate().config;
    c.uid.storeU24(kUid);
    c.hmacKey = kKey;
    ASSERT_TRUE(DeviceConfig::commit());
    medium().onReceiverArmed([this](const std::string& who, uint64_t at, uint64_t length) {
      // Channel sensing samples 5 ms and the chip report receives without end: neither is a window.
      if (who == "node" && length >= 100000 && length != sim::kNever)
        windows_.push_back({at, length, rtcMem().timeSinceLastLoraRX.get()});
    });
    takeOutput();
  }

  static HMAC::Key key() { return HMAC::keyFromBytes(kKey.data()); }

  // A remote setting from the receiving side for `uid`, tagged with `k`.
  static std::string p14(uint32_t counter, Op op, LoRaRXPacket14::Args args = {}, uint32_t uid = kUid,
                         HMAC::Key k = key()) {
    return hex(LoRaRXPacket14::encode(
        LoRaRXPacket14::makePayload(LoRaPacketCounterU24::fromU32(counter), uidOf(uid), op, args), k));
  }
  static std::string p13(uint16_t phaseTag, uint32_t assigned, const std::array<uint8_t, 16>& newKey, HMAC::Key k) {
    const auto payload = LoRaRXPacket13::makePayload(LoRaPacketCounterU24::fromU32(1), uidOf(assigned),
                                                     LoRaPacket10::packStUidBytes(readChipID()), phaseTag, newKey);
    return hex(LoRaRXPacket13::encode(payload, k));
  }
  void script(const std::string& line) { sim::board().airScript().add(scripted(line)); }

  std::vector<uint8_t> codes() {
    std::vector<uint8_t> out;
    for (const auto& f : nodeFrames()) out.push_back(f.bytes[0]);
    return out;
  }
  // Windows opened after the first one of the listen.
  size_t extraWindows() {
    size_t n = 0;
    for (const Window& w : windows_) n += w.lengthUs == 500000;
    return windows_.empty() ? 0 : n - (windows_.front().lengthUs == 500000);
  }

  std::vector<Window> windows_;
};

TEST_F(OnAirTest, DebugGroupFollowsTheRateAndThePinReset) {
  struct Case {
    const char* what;
    uint32_t resetCause;
    uint16_t rate;
    uint32_t counterBefore;
    std::vector<std::vector<uint8_t>> cycles;  // packet codes sent by each cycle
  };
  const std::vector<uint8_t> group = {8, 4, 4, 4, 7, 3};
  const std::vector<uint8_t> pinReset = {8, 8, 4, 4, 4, 7, 3};
  const Case cases[] = {
      {"rate 10 at counters 9, 10, 11", 0, 10, 8, {{3}, group, {3}}},
      {"rate 0: every cycle", 0, 0, 41, {group, group}},
      {"pin reset: packet 8 twice, every cycle", HAL_RESET_FLAG_PIN, 100, 5, {pinReset, pinReset}},
  };
  for (const Case& c : cases) {
    SetUp();
    setMCUGstate().resetCause = c.resetCause;
    setGstate().config.txDebugPacketRate = c.rate;
    rtcMem().loraPacketCounter.set(LoRaPacketCounterU24::fromU32(c.counterBefore));
    size_t seen = 0;
    for (size_t i = 0; i < c.cycles.size(); ++i) {
      loraBlock();
      const auto frames = nodeFrames();
      const std::vector<uint8_t> all = codes();
      EXPECT_EQ(std::vector<uint8_t>(all.begin() + seen, all.end()), c.cycles[i]) << c.what << ", cycle " << i;
      for (size_t f = seen; f < frames.size(); ++f) {
        EXPECT_EQ(counterOf(frames[f]), c.counterBefore + i + 1) << c.what << ", cycle " << i;
        EXPECT_EQ(frames[f].bytes[1] | (frames[f].bytes[2] << 8) | (frames[f].bytes[3] << 16), kUid);
      }
      seen = frames.size();
    }
    EXPECT_FALSE(sim::board().gpio().level(0, 8)) << c.what << ": the supply is cut after the cycle";
    EXPECT_TRUE(windows_.empty()) << c.what << ": no window was due";
  }
}

TEST_F(OnAirTest, SinglePacketsOfTheShellUseTheCycleCounter) {
  rtcMem().loraPacketCounter.set(LoRaPacketCounterU24::fromU32(20));
  setMCUGstate().lora.currentPackedNum = LoRaPacketCounterU24::fromU32(20);
  radioOn();  // the shell's runner switches the supply around these
  const auto sent = [this](TxPacket p) {
    const size_t before = nodeFrames().size();
    runTxPacket(p);
    std::vector<std::pair<uint8_t, size_t>> out;
    const auto frames = nodeFrames();
    for (size_t i = before; i < frames.size(); ++i) {
      out.emplace_back(frames[i].bytes[0], frames[i].bytes.size());
      EXPECT_EQ(counterOf(frames[i]), p == TxPacket::debug ? 21u : 20u);
    }
    return out;
  };
  using Sent = std::vector<std::pair<uint8_t, size_t>>;
  EXPECT_EQ(sent(TxPacket::p9), Sent({{9, 253}, {9, 253}, {9, 253}, {9, 217}}));
  EXPECT_EQ(sent(TxPacket::p3), Sent({{3, 16}}));
  EXPECT_EQ(sent(TxPacket::p10), Sent({{10, 79}}));
  EXPECT_EQ(sent(TxPacket::debug), Sent({{8, 164}, {4, 253}, {4, 253}, {4, 226}, {7, 116}, {3, 16}}));
}

TEST_F(OnAirTest, AWindowDueSendsPacket5At14dBmAndRestoresTheStoredPower) {
  struct Case {
    const char* what;
    bool force;
    uint16_t timeSinceLastRx;
  };
  // At a state of charge of 0 a window is due after 3600 s without one.
  for (const Case& c : {Case{"forced", true, 5}, Case{"due by time", false, 3601}}) {
    SetUp();
    setGstate().config.forceLoraRX = c.force;
    rtcMem().txPowerDbm.set(3);
    rtcMem().timeSinceLastLoraRX.set(c.timeSinceLastRx);
    loraBlock();
    const auto frames = nodeFrames();
    ASSERT_EQ(frames.size(), 1u) << c.what;
    EXPECT_EQ(frames[0].bytes[0], 5) << c.what;
    EXPECT_EQ(frames[0].powerDbm, 14) << c.what;
    EXPECT_EQ(chip().txPowerDbm(), 3) << c.what << ": the stored power is set again after packet 5";
    ASSERT_EQ(windows_.size(), 1u) << c.what;
    EXPECT_EQ(windows_[0].lengthUs, 500000u) << c.what;
    EXPECT_EQ(windows_[0].timeSinceLastRx, 0u) << c.what;
    EXPECT_GT(windows_[0].atUs, frames[0].endUs) << c.what;
  }
}

TEST_F(OnAirTest, ARemoteSettingIsAppliedAnsweredOneCounterAboveAndKeepsTheNodeListening) {
  setGstate().config.forceLoraRX = true;
  rtcMem().loraPacketCounter.set(LoRaPacketCounterU24::fromU32(100));  // 101: no debug group
  script("in_rx_ms=100 data=" + p14(1, Op::SET_txDebugPacketRate, {7}));
  loraBlock();
  EXPECT_EQ(gstate().config.txDebugPacketRate, 7u);
  EXPECT_EQ(gstate().config.lastDownlinkCounter, 1u);

  auto frames = nodeFrames();
  ASSERT_EQ(codes(), std::vector<uint8_t>({5, 17}));
  EXPECT_EQ(counterOf(frames[0]), 101u);
  EXPECT_EQ(counterOf(frames[1]), 102u) << "packet 17 is one above the cycle's packet 3";
  LoRaPacket17::Payload ack{};
  ASSERT_TRUE(LoRaPacket17::decode(ack, frames[1].bytes.data(), frames[1].bytes.size(), key()));
  EXPECT_EQ(ack.ok[0], 1);
  EXPECT_EQ(ack.reason[0], static_cast<uint8_t>(LoRaPacket17::Reason::Applied));
  EXPECT_EQ(extraWindows(), 1u);
  const std::string out = takeOutput();
  EXPECT_NE(out.find("LoRa RX: applied RXPacket14 (opcode=0x0003), acked\n"), std::string::npos) << out;

  loraBlock();  // the next cycle counts on from the answer
  frames = nodeFrames();
  EXPECT_EQ(counterOf(frames.back()), 103u);
}

// A commit that fails reloads the live record from the page, which a failure half-way leaves
// without one: the answer still goes under the identity and key the setting came under, so the
// receiving node learns that it failed.
TEST_F(OnAirTest, AFailedCommitIsAnsweredUnderTheIdentityTheSettingCameUnder) {
  const sim::FlashFaults faults[] = {{true, -1, -1, false}, {false, 5, -1, false}};  // erase fails, a word fails
  for (const sim::FlashFaults& f : faults) {
    SetUp();
    setGstate().config.forceLoraRX = true;
    script("in_rx_ms=100 data=" + p14(1, Op::SET_txDebugPacketRate, {7}));
    sim::board().flash().faults() = f;
    loraBlock();
    sim::board().flash().faults() = sim::FlashFaults{};
    const auto frames = nodeFrames();
    ASSERT_EQ(codes(), std::vector<uint8_t>({5, 17}));
    LoRaPacket17::Payload ack{};
    ASSERT_TRUE(LoRaPacket17::decode(ack, frames[1].bytes.data(), frames[1].bytes.size(), key()));
    EXPECT_EQ(ack.uid.toU24(), kUid);
    EXPECT_EQ(ack.ok[0], 0);
    EXPECT_EQ(ack.reason[0], static_cast<uint8_t>(LoRaPacket17::Reason::CommitFailed));
    EXPECT_EQ(gstate().config.ok(), f.eraseFails) << "the live record follows the page";
  }
}

TEST_F(OnAirTest, EachAnsweredDownlinkGetsItsAnswerAndOneMoreWindow) {
  struct Case {
    const char* what;
    std::string frame;
    bool ok;
    LoRaPacket17::Reason reason;
    const char* log;  // nullptr: no line of its own
  };
  LoRaRXPacket14::Payload split =
      LoRaRXPacket14::makePayload(LoRaPacketCounterU24::fromU32(5), uidOf(kUid), Op::SET_txDebugPacketRate, {7});
  split.args2[3] = 1;  // the copies disagree
  const Case cases[] = {
      {"unchanged", p14(5, Op::SET_txDebugPacketRate, {100}), true, LoRaPacket17::Reason::Unchanged, nullptr},
      {"copies disagree", hex(LoRaRXPacket14::encode(split, key())), false, LoRaPacket17::Reason::FECFail,
       "LoRa RX: RXPacket14 cross-check mismatch, sent packet17 nack\n"},
      {"unknown opcode", p14(5, static_cast<Op>(0x0042)), false, LoRaPacket17::Reason::InvalidOpcode,
       "LoRa RX: RXPacket14 unsupported opcode 0x0042, sent packet17 nack\n"},
      {"rejected value", p14(5, Op::SET_PhaseShift, {0, 0, 0, 0, 0, 0, 0, 0x7FC00000u}), false,
       LoRaPacket17::Reason::RejectedValue, nullptr},
  };
  for (const Case& c : cases) {
    SetUp();
    rtcMem().txPowerDbm.set(10);
    script("in_rx_ms=100 data=" + c.frame);
    setGstate().config.forceLoraRX = true;
    loraBlock();
    const auto frames = nodeFrames();
    ASSERT_EQ(codes(), std::vector<uint8_t>({5, 17})) << c.what;
    LoRaPacket17::Payload ack{};
    ASSERT_TRUE(LoRaPacket17::decode(ack, frames[1].bytes.data(), frames[1].bytes.size(), key())) << c.what;
    EXPECT_EQ(ack.ok[0], c.ok ? 1 : 0) << c.what;
    EXPECT_EQ(ack.reason[0], static_cast<uint8_t>(c.reason)) << c.what;
    EXPECT_EQ(extraWindows(), 1u) << c.what;
    if (c.log != nullptr) {
      EXPECT_NE(takeOutput().find(c.log), std::string::npos) << c.what;
    }
  }
}

TEST_F(OnAirTest, RefusedDownlinksGetNoAnswerAndNoExtraWindow) {
  struct Case {
    const char* what;
    std::string frame;
    const char* log;  // nullptr: refused without a line of its own
  };
  const std::string good = p14(9, Op::SET_txDebugPacketRate, {7});
  const Case cases[] = {
      {"stale counter", p14(4, Op::SET_txDebugPacketRate, {7}), nullptr},
      {"forged tag", p14(9, Op::SET_txDebugPacketRate, {7}, kUid, HMAC::Key{1, 2}), nullptr},
      {"wrong length", good.substr(0, good.size() - 2), nullptr},
      {"another identity", p14(9, Op::SET_txDebugPacketRate, {7}, 0x0000AA),
       "LoRa RX: uid mismatch, frame is for AA0000, we are 34AB12 (code 14)\n"},
      {"a header only", "0E34AB12010000", nullptr},
      {"too short", "0E34AB120100", "LoRa RX: frame too short len=6 (header is 7)\n"},
      {"assign while provisioned and idle", p13(LoRaPacket10::kPhaseTagAssign, 0x777777, kKey, key()), nullptr},
      {"an uplink code", "0334AB12010000AABBCCDD", "LoRa RX: unhandled packetCode 3 len=11 (uid matched)\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    setGstate().config.lastDownlinkCounter = 4;
    ASSERT_TRUE(DeviceConfig::commit());
    takeOutput();
    script("in_rx_ms=100 data=" + c.frame);
    setGstate().config.forceLoraRX = true;
    loraBlock();
    EXPECT_EQ(codes(), std::vector<uint8_t>({5})) << c.what << ": no answer";
    EXPECT_EQ(extraWindows(), 0u) << c.what;
    EXPECT_EQ(gstate().config.txDebugPacketRate, 100u) << c.what;
    EXPECT_EQ(gstate().config.uid.toU24(), kUid) << c.what;
    const std::string out = takeOutput();
    size_t lines = 0;
    for (size_t at = out.find("LoRa RX: "); at != std::string::npos; at = out.find("LoRa RX: ", at + 1)) ++lines;
    // The receive line of the frame, and the refusal's own line where it has one.
    EXPECT_EQ(lines, c.log != nullptr ? 2u : 1u) << c.what << "\n" << out;
    if (c.log != nullptr) {
      EXPECT_NE(out.find(c.log), std::string::npos) << c.what << "\n" << out;
    }
  }
}

// A node without a valid record holds identity 0 and the zero key, which anyone can use: a remote
// setting for it is neither applied nor answered, and commits nothing that would make the record
// valid.
TEST_F(OnAirTest, ANodeWithoutAValidRecordTakesNoRemoteSetting) {
  const HMAC::Key zero{};
  LoRaRXPacket14::Args phase{};
  phase[7] = 0x3E800000u;  // 0.25 rad
  const std::string frames[] = {p14(1, Op::SET_PhaseShift, phase, 0, zero),
                                p14(1, Op::SET_txDebugPacketRate, {7}, 0, zero),
                                p14(1, Op::SET_TxPowerDbm, {3}, 0, zero), p14(1, Op::DBG1_TOGGLE, {}, 0, zero)};
  for (const std::string& frame : frames) {
    SetUp();
    ASSERT_TRUE(DeviceConfig::erase());
    rtcMem().txPowerDbm.set(10);
    takeOutput();
    script("in_rx_ms=100 data=" + frame);
    setGstate().config.forceLoraRX = true;
    loraBlock();
    EXPECT_EQ(codes(), std::vector<uint8_t>({5})) << frame << ": no answer";
    EXPECT_EQ(extraWindows(), 0u) << frame;
    EXPECT_EQ(takeOutput().find("RX14"), std::string::npos) << frame;
    EXPECT_EQ(rtcMem().txPowerDbm.get(), 10) << frame;
    DeviceConfig::init();
    EXPECT_FALSE(gstate().config.ok()) << frame;
    EXPECT_EQ(gstate().config.inductive50HzPhaseCorrection, 0.0f) << frame;
    EXPECT_EQ(gstate().config.txDebugPacketRate, 100u) << frame;
  }
}

TEST_F(OnAirTest, AStreamOfHandledDownlinksEndsAfterEightExtraWindows) {
  for (uint32_t counter = 1; counter <= 10; ++counter) {
    script("in_rx_ms=100 data=" + p14(counter, Op::SET_TxPowerDbm, {counter % 2 == 0 ? 5u : 6u}));
  }
  setGstate().config.forceLoraRX = true;
  loraBlock();
  EXPECT_EQ(extraWindows(), 8u);
  const std::vector<uint8_t> sent = codes();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 17), 9) << "the first window and the 8 extra ones";
  EXPECT_EQ(sim::board().airScript().remaining(), 1u);
  EXPECT_NE(takeOutput().find("LoRa RX: re-arm capped at 8 extra windows\n"), std::string::npos);
}

class ProvisionTest : public OnAirTest {
 protected:
  static constexpr uint32_t kAssigned = 0x5A5A01;
  static constexpr std::array<uint8_t, 16> kNewKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  static HMAC::Key newKey() { return HMAC::keyFromBytes(kNewKey.data()); }

  // Packet 10 frames on the air: (uid, counter), each tag checked with the key of its uid.
  std::vector<std::pair<uint32_t, uint32_t>> requests() {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const auto& f : nodeFrames()) {
      EXPECT_EQ(f.bytes[0], LoRaPacket10::PACKET_CODE);
      LoRaPacket10::Payload p{};
      const uint32_t uid = f.bytes[1] | (f.bytes[2] << 8) | (f.bytes[3] << 16);
      const HMAC::Key k = uid == kAssigned ? newKey() : uid == kUid ? key() : HMAC::Key{0, 0};
      EXPECT_TRUE(LoRaPacket10::decode(p, f.bytes.data(), f.bytes.size(), k));
      EXPECT_EQ(LoRaPacket10::packStUidBytes(readChipID()), p.stUid[0]);
      out.emplace_back(uid, counterOf(f));
    }
    return out;
  }
  size_t attemptLines(const std::string& out) {
    size_t n = 0;
    for (size_t at = out.find("provision attempt "); at != std::string::npos;
         at = out.find("provision attempt ", at + 1))
      ++n;
    return n;
  }
};

TEST_F(ProvisionTest, AFreshNodeIsAssignedThenConfirmed) {
  setGstate().config.clearProvisionedIdentity();
  ASSERT_FALSE(gstate().config.ok());
  rtcMem().loraPacketCounter.set(LoRaPacketCounterU24::fromU32(77));
  setMCUGstate().lora.currentPackedNum = LoRaPacketCounterU24::fromU32(77);
  // Attempt 1: a cut frame; attempt 2: the assign (zero key); attempt 3: the confirm under the new
  // key (it waits for a window longer than the 500 ms that follows the assign).
  const std::string assign = p13(LoRaPacket10::kPhaseTagAssign, kAssigned, kNewKey, HMAC::Key{0, 0});
  script("in_rx_ms=100 data=" + assign.substr(0, 20));
  script("in_rx_ms=100 data=" + assign);
  script("in_rx_ms=600 data=" + p13(LoRaPacket10::kPhaseTagConfirm, kAssigned, kNewKey, newKey()));
  EXPECT_TRUE(loraProvision());
  EXPECT_FALSE(isLoraProvisioningActive());

  EXPECT_TRUE(gstate().config.ok());
  EXPECT_EQ(gstate().config.uid.toU24(), kAssigned);
  EXPECT_EQ(gstate().config.hmacKey, kNewKey);
  const auto sent = requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].first, 0u);
  EXPECT_EQ(sent[1].first, 0u);
  EXPECT_EQ(sent[2].first, kAssigned) << "the request after the assign carries the new identity";
  for (const auto& r : sent) EXPECT_EQ(r.second, 77u) << "the handshake never advances the counter";
  EXPECT_EQ(rtcMem().loraPacketCounter.get().toU32(), 77u);

  const std::string out = takeOutput();
  EXPECT_EQ(attemptLines(out), 3u);
  for (const char* line :
       {"] provision attempt 1 (wake +", "] provision attempt 2 (wake +", "] provision attempt 3 (wake +",
        "LoRa RX: P13 decode failed reason=wrong_len len=10 (expected 143)\n", "  P13 RX wire: 0D015A5A010000015A5A",
        "] LoRa RX: applied RXPacket13 assign (uid + HMAC)\n", "] LoRa RX: applied RXPacket13 confirm\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
}

TEST_F(ProvisionTest, ALimitedHandshakeStopsWhenItsAttemptsRunOut) {
  setGstate().config.clearProvisionedIdentity();
  // Nobody answers: two attempts, then false with the handshake no longer active.
  EXPECT_FALSE(loraProvisionWithin(2));
  EXPECT_FALSE(isLoraProvisioningActive());
  EXPECT_EQ(requests().size(), 2u);
  // An assign but no confirm: the attempts count on through both phases.
  script("in_rx_ms=100 data=" + p13(LoRaPacket10::kPhaseTagAssign, kAssigned, kNewKey, HMAC::Key{0, 0}));
  EXPECT_FALSE(loraProvisionWithin(3));
  EXPECT_TRUE(gstate().config.ok()) << "the assign was committed";
  EXPECT_EQ(requests().size(), 5u);
  const std::string out = takeOutput();
  EXPECT_NE(out.find("] provision attempt 3 (wake +"), std::string::npos);
  EXPECT_EQ(out.find("] provision attempt 4 (wake +"), std::string::npos);
}

TEST_F(ProvisionTest, AValidRecordStartsInTheConfirmPhase) {
  script("in_rx_ms=100 data=" + p13(LoRaPacket10::kPhaseTagConfirm, kUid, kKey, key()));
  EXPECT_TRUE(loraProvision());
  const auto sent = requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, kUid);
  const std::string out = takeOutput();
  EXPECT_EQ(attemptLines(out), 1u);
  EXPECT_NE(out.find("] provision attempt 1 (wake +"), std::string::npos);
}

TEST_F(ProvisionTest, FramesOutsideTheHandshakeStepAreLoggedAsIgnored) {
  // A confirm for another identity is refused; a frame for another node is ignored.
  script("in_rx_ms=100 data=" + p13(LoRaPacket10::kPhaseTagConfirm, 0x999999, kKey, key()));
  script("in_rx_ms=100 data=" + p14(1, Op::DBG1_TOGGLE, {}, 0x000001));
  script("in_rx_ms=100 data=" + p13(LoRaPacket10::kPhaseTagConfirm, kUid, kKey, key()));
  EXPECT_TRUE(loraProvision());
  const std::string out = takeOutput();
  EXPECT_EQ(attemptLines(out), 3u);
  for (const char* line : {"LoRa RX: P13 rejected phaseTag=0x5555 len=143\n",
                           "LoRa RX: ignored len=143 code=0x0D (wake +", "LoRa RX: ignored len=80 code=0x0E (wake +"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
}

}  // namespace
