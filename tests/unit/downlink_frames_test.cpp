// Downlink packets 13 and 14: wire layouts, every refusal reason, the assign/confirm decisions and
// the remote-setting rules, and their console texts.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Debug.h"
#include "HMAC.h"
#include "dbg1_toggle.h"
#include "gstate.h"
#include "hex_text.h"
#include "rxpacket13.h"
#include "rxpacket13_debug.h"
#include "rxpacket14.h"
#include "rxpacket14_debug.h"
#include "test_board.h"

namespace {

using testing_support::takeOutput;
namespace P13 = LoRaRXPacket13;
namespace P14 = LoRaRXPacket14;

using testing_support::bytesOf;
using testing_support::hex;

// Re-tags a modified frame under key, as a sender that built it so would.
void retag(std::vector<uint8_t>& frame, const HMAC::Key& key) {
  const size_t body = frame.size() - 4;
  const uint32_t tag = HMAC::compute(key, frame.data(), body);
  for (size_t i = 0; i < 4; ++i) frame[body + i] = static_cast<uint8_t>(tag >> (8 * i));
}

// A commit that counts its calls and answers as told.
int gCommits = 0;
bool gCommitOk = true;
bool fakeCommit(FlashConfig& c) {
  ++gCommits;
  if (gCommitOk) {
    c.magic = FlashConfig::MAGIC;
    c.version = FlashConfig::VERSION;
  }
  return gCommitOk;
}

class Downlink : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    takeOutput();
    gCommits = 0;
    gCommitOk = true;
    for (uint8_t i = 0; i < 16; ++i) newKey[i] = static_cast<uint8_t>(0xC0 + i);
    chip = LoRaPacket10::packStUidBytes({0x00112233u, 0x44556677u, 0x8899AABBu});
    assigned.storeU24(0x00BEEF);
  }
  std::vector<uint8_t> frame13(uint16_t phaseTag, const HMAC::Key& key) {
    return bytesOf(P13::encode(P13::makePayload(LoRaPacketCounterU24(9), assigned, chip, phaseTag, newKey), key));
  }
  static void provision(FlashConfig& c, uint32_t uid, const P13::HmacKey& key) {
    c.uid.storeU24(uid);
    c.hmacKey = key;
    c.magic = FlashConfig::MAGIC;
    c.version = FlashConfig::VERSION;
  }
  P13::HmacKey newKey{};
  LoRaPacket10::StUid chip{};
  UID assigned;
  const HMAC::Key zero{0, 0};
};

TEST_F(Downlink, Packet13WireLayout) {
  const auto f = frame13(LoRaPacket10::kPhaseTagAssign, zero);
  ASSERT_EQ(f.size(), P13::WIRE_MAX_BYTES);
  EXPECT_EQ(f[0], 13);
  EXPECT_EQ(hex({f.begin() + 1, f.begin() + 7}), "EFBE00090000");
  EXPECT_EQ(hex({f.begin() + 7, f.begin() + 19}), "EFBE00EFBE00EFBE00EFBE00");
  for (size_t c = 0; c < 4; ++c)
    EXPECT_EQ(hex({f.begin() + 19 + 12 * c, f.begin() + 31 + 12 * c}), "3322110077665544BBAA9988");
  EXPECT_EQ(hex({f.begin() + 67, f.begin() + 75}), "AAAAAAAAAAAAAAAA");
  for (size_t c = 0; c < 4; ++c)
    EXPECT_EQ(hex({f.begin() + 75 + 16 * c, f.begin() + 91 + 16 * c}), "C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF");
  EXPECT_TRUE(HMAC::verifyTag(zero, f.data(), 139, 143));
  const auto c = frame13(LoRaPacket10::kPhaseTagConfirm, zero);
  EXPECT_EQ(hex({c.begin() + 67, c.begin() + 75}), "5555555555555555");
}

TEST_F(Downlink, Packet13RefusalReasons) {
  // The node is unprovisioned: frames are tagged with the zero key.
  const auto good = frame13(LoRaPacket10::kPhaseTagAssign, zero);
  struct Case {
    const char* name;
    std::vector<uint8_t> frame;
    P13::DecodeFail want;
  };
  std::vector<Case> cases;
  cases.push_back({"good", good, P13::DecodeFail::None});
  {
    auto f = good;
    f.pop_back();
    cases.push_back({"142 bytes", f, P13::DecodeFail::WrongLen});
    f = good;
    f.push_back(0);
    retag(f, zero);  // even with a tag that fits its own length
    cases.push_back({"144 bytes", f, P13::DecodeFail::WrongLen});
  }
  {
    auto f = good;
    f[0] = 14;
    cases.push_back({"code 14, tag of code 13", f, P13::DecodeFail::HmacTag});
    retag(f, zero);
    cases.push_back({"code 14, tag of the frame as sent", f, P13::DecodeFail::WrongPacketCode});
  }
  {
    auto f = bytesOf(
        P13::encode(P13::makePayload(LoRaPacketCounterU24(9), assigned, chip, 0xAAAA, newKey), HMAC::Key{1, 2}));
    cases.push_back({"other key", f, P13::DecodeFail::HmacTag});
  }
  const struct {
    const char* name;
    size_t offset;
  } flips[] = {{"header uid", 2},       {"provisionedUid copy 3", 16},    {"stUid copy 2", 19 + 24 + 5},
               {"phaseTag copy 1", 69}, {"hmacKey copy 3", 75 + 48 + 15}, {"hmacKey copy 0", 75}};
  for (const auto& fl : flips) {
    auto f = good;
    f[fl.offset] ^= 0x01;
    retag(f, zero);
    cases.push_back({fl.name, f, P13::DecodeFail::FecCopies});
  }
  for (const auto& c : cases) {
    EXPECT_EQ(P13::decodeFailReason(c.frame.data(), c.frame.size()), c.want) << c.name;
    P13::Payload p{};
    EXPECT_EQ(P13::decode(p, c.frame.data(), c.frame.size()), c.want == P13::DecodeFail::None) << c.name;
  }
  EXPECT_EQ(P13::decodeFailReason(nullptr, 143), P13::DecodeFail::WrongLen);
  EXPECT_EQ(P13::decodeFailReason(good.data(), 0), P13::DecodeFail::WrongLen);

  // A node holding a key checks with it: the zero-key frame no longer passes.
  provision(setGstate().config, 0x123456, newKey);
  EXPECT_EQ(P13::decodeFailReason(good.data(), good.size()), P13::DecodeFail::HmacTag);
  const auto keyed = frame13(LoRaPacket10::kPhaseTagConfirm, HMAC::liveKey());
  EXPECT_EQ(P13::decodeFailReason(keyed.data(), keyed.size()), P13::DecodeFail::None);
}

TEST(Packet13Labels, Table) {
  EXPECT_STREQ(P13::decodeFailLabel(P13::DecodeFail::None), "none");
  EXPECT_STREQ(P13::decodeFailLabel(P13::DecodeFail::WrongLen), "wrong_len");
  EXPECT_STREQ(P13::decodeFailLabel(P13::DecodeFail::HmacTag), "hmac_tag");
  EXPECT_STREQ(P13::decodeFailLabel(P13::DecodeFail::WrongPacketCode), "wrong_packet_code");
  EXPECT_STREQ(P13::decodeFailLabel(P13::DecodeFail::FecCopies), "fec_copies");
  EXPECT_STREQ(P13::decodeFailLabel(static_cast<P13::DecodeFail>(5)), "unknown");
}

TEST_F(Downlink, Packet13Assign) {
  P13::Payload p = P13::makePayload(LoRaPacketCounterU24(1), assigned, chip, 0xAAAA, newKey);
  FlashConfig c;
  c.lastDownlinkCounter = 77;
  const FlashConfig before = c;

  // Refusals change nothing and commit nothing.
  LoRaPacket10::StUid otherChip = chip;
  otherChip[11] ^= 0xFF;
  EXPECT_FALSE(P13::applyAssignTo(p, otherChip, c, fakeCommit));
  P13::Payload confirm = P13::makePayload(LoRaPacketCounterU24(1), assigned, chip, 0x5555, newKey);
  EXPECT_FALSE(P13::applyAssignTo(confirm, chip, c, fakeCommit));
  P13::Payload zeroId = P13::makePayload(LoRaPacketCounterU24(1), UID{}, chip, 0xAAAA, newKey);
  EXPECT_FALSE(P13::applyAssignTo(zeroId, chip, c, fakeCommit));
  P13::Payload torn = p;
  torn.hmacKey[2][0] ^= 1;
  EXPECT_FALSE(P13::applyAssignTo(torn, chip, c, fakeCommit));
  EXPECT_EQ(std::memcmp(&c, &before, sizeof c), 0);
  EXPECT_EQ(gCommits, 0);

  // Accepted: identity, key and counter reset, committed.
  EXPECT_TRUE(P13::applyAssignTo(p, chip, c, fakeCommit));
  EXPECT_EQ(c.uid.toU24(), 0xBEEFu);
  EXPECT_EQ(c.hmacKey, newKey);
  EXPECT_EQ(c.lastDownlinkCounter, 0u);
  EXPECT_EQ(gCommits, 1);
  // The same assign again: accepted without a flash write.
  c.lastDownlinkCounter = 5;
  EXPECT_TRUE(P13::applyAssignTo(p, chip, c, fakeCommit));
  EXPECT_EQ(gCommits, 1);
  EXPECT_EQ(c.lastDownlinkCounter, 5u);
  // Only staged (the record is not valid): the same identity and key are committed, so that the
  // confirm that follows can pass.
  FlashConfig staged;
  staged.uid = assigned;
  staged.hmacKey = newKey;
  gCommits = 0;
  EXPECT_TRUE(P13::applyAssignTo(p, chip, staged, fakeCommit));
  EXPECT_EQ(gCommits, 1);
  EXPECT_TRUE(staged.ok());
  P13::Payload confirmSame = P13::makePayload(LoRaPacketCounterU24(2), assigned, chip, 0x5555, newKey);
  EXPECT_TRUE(P13::applyConfirmTo(confirmSame, chip, staged));
  // A failed commit reports false; the record in memory holds the new values.
  FlashConfig d;
  gCommitOk = false;
  EXPECT_FALSE(P13::applyAssignTo(p, chip, d, fakeCommit));
  EXPECT_EQ(d.uid.toU24(), 0xBEEFu);
}

TEST_F(Downlink, Packet13Confirm) {
  FlashConfig c;
  provision(c, 0xBEEF, newKey);
  const P13::Payload ok = P13::makePayload(LoRaPacketCounterU24(1), assigned, chip, 0x5555, newKey);
  const P13::Payload zeroKey = P13::makePayload(LoRaPacketCounterU24(1), assigned, chip, 0x5555, P13::HmacKey{});
  P13::HmacKey otherKey = newKey;
  otherKey[15] ^= 1;
  const P13::Payload wrongKey = P13::makePayload(LoRaPacketCounterU24(1), assigned, chip, 0x5555, otherKey);
  UID other;
  other.storeU24(0xBEF0);
  const P13::Payload wrongId = P13::makePayload(LoRaPacketCounterU24(1), other, chip, 0x5555, newKey);
  const P13::Payload assignTag = P13::makePayload(LoRaPacketCounterU24(1), assigned, chip, 0xAAAA, newKey);
  const FlashConfig before = c;
  EXPECT_TRUE(P13::applyConfirmTo(ok, chip, c));
  EXPECT_TRUE(P13::applyConfirmTo(zeroKey, chip, c));
  EXPECT_FALSE(P13::applyConfirmTo(wrongKey, chip, c));
  EXPECT_FALSE(P13::applyConfirmTo(wrongId, chip, c));
  EXPECT_FALSE(P13::applyConfirmTo(assignTag, chip, c));
  LoRaPacket10::StUid otherChip = chip;
  otherChip[0] ^= 1;
  EXPECT_FALSE(P13::applyConfirmTo(ok, otherChip, c));
  EXPECT_EQ(std::memcmp(&c, &before, sizeof c), 0);
  c.version = 15;  // not a valid record
  EXPECT_FALSE(P13::applyConfirmTo(ok, chip, c));
  FlashConfig zeroUid;
  provision(zeroUid, 0, newKey);
  const P13::Payload zeroIdConfirm = P13::makePayload(LoRaPacketCounterU24(1), UID{}, chip, 0x5555, newKey);
  EXPECT_FALSE(P13::applyConfirmTo(zeroIdConfirm, chip, zeroUid));
}

TEST_F(Downlink, Packet13Printout) {
  const auto f = frame13(LoRaPacket10::kPhaseTagConfirm, zero);
  P13::Payload p{};
  ASSERT_TRUE(P13::decode(p, f.data(), f.size()));
  char ts[kTsPrefixReserve];
  debugTsPrefix(ts, sizeof ts);
  P13::debugPkt(p);
  std::string want = std::string(ts) + "Payload (RX packet 13 confirm):\r\n" +
                     "  packetCode: 13\r\n"
                     "  packetCounter (u24): 9\r\n"
                     "  UID (u24): 48879 (0x00BEEF)\r\n";
  for (int i = 0; i < 4; ++i) want += "  provisionedUid[" + std::to_string(i) + "]: EFBE00\r\n";
  want += "  provisionedUidCopiesOk: yes\r\n";
  for (int i = 0; i < 4; ++i) want += "  stUid[" + std::to_string(i) + "]: 3322110077665544BBAA9988\r\n";
  want += "  stUidCopiesOk: yes\r\n";
  for (int i = 0; i < 4; ++i) want += "  phaseTag[" + std::to_string(i) + "]: 0x5555\r\n";
  want += "  phaseTagCopiesOk: yes\r\n  assignPhaseTag: no\r\n  confirmPhaseTag: yes\r\n";
  for (int i = 0; i < 4; ++i) want += "  hmacKey[" + std::to_string(i) + "]: C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF\r\n";
  want += "  hmacKeyCopiesOk: yes\r\n  RAW HEX 143 bytes: " + hex(f) + "\r\n";
  EXPECT_EQ(takeOutput(), want);
}

// ---- packet 14 ----

uint32_t f2u(float v) { return std::bit_cast<uint32_t>(v); }

class Settings : public Downlink {
 protected:
  void SetUp() override {
    Downlink::SetUp();
    provision(setGstate().config, 0x00BEEF, newKey);
    cfg = gstate().config;
    cfg.lastDownlinkCounter = 10;
    takeDbg1ToggleRequest();
  }
  P14::Payload frame(uint32_t counter, P14::Op op, P14::Args args = {}) const {
    return P14::makePayload(LoRaPacketCounterU24::fromU32(counter), assigned, op, args);
  }
  FlashConfig cfg;
};

TEST_F(Settings, Packet14WireLayoutAndDecode) {
  P14::Args args{};
  for (size_t i = 0; i < 8; ++i) args[i] = 0x01020304u * static_cast<uint32_t>(i + 1);
  const P14::Payload p = frame(0x0A0B0C, P14::Op::SET_TxPowerDbm, args);
  const auto f = bytesOf(P14::encode(p, HMAC::liveKey()));
  ASSERT_EQ(f.size(), P14::WIRE_MAX_BYTES);
  EXPECT_EQ(hex({f.begin(), f.begin() + 12}), "0EEFBE000C0B0A0005000500");
  EXPECT_EQ(hex({f.begin() + 12, f.begin() + 20}), "0403020108060402");
  EXPECT_EQ(hex({f.begin() + 44, f.begin() + 48}), "04030201");
  EXPECT_EQ(hex({f.begin() + 72, f.begin() + 76}), "20181008");
  EXPECT_TRUE(HMAC::verifyTag(f.data(), 76, 80));

  P14::Payload out{};
  ASSERT_TRUE(P14::decode(out, f.data(), f.size()));
  EXPECT_EQ(std::memcmp(&out, &p, sizeof p), 0);

  auto expectRefused = [&](const std::vector<uint8_t>& w, size_t len, const char* what) {
    P14::Payload untouched{};
    EXPECT_FALSE(P14::decode(untouched, w.data(), len)) << what;
    EXPECT_EQ(untouched.packetCode, 0) << what;
  };
  expectRefused(f, 79, "79 bytes");
  auto longer = f;
  longer.push_back(0);
  retag(longer, HMAC::liveKey());
  expectRefused(longer, 81, "81 bytes");
  auto badTag = f;
  badTag[79] ^= 1;
  expectRefused(badTag, 80, "tag");
  auto code13 = f;
  code13[0] = 13;
  retag(code13, HMAC::liveKey());
  expectRefused(code13, 80, "code 13");
  const auto zeroKeyed = bytesOf(P14::encode(p, zero));
  expectRefused(zeroKeyed, 80, "tag of the zero key on a provisioned node");
  P14::Payload q{};
  EXPECT_FALSE(P14::decode(q, nullptr, 80));
}

TEST_F(Settings, CopiesAndOpcodes) {
  P14::Payload p = frame(11, P14::Op::SET_PhaseShift, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_TRUE(P14::verifyFecCopies(p));
  p.opcode2 = P14::Op::SET_TxPowerDbm;
  EXPECT_FALSE(P14::verifyFecCopies(p));
  p = frame(11, P14::Op::SET_PhaseShift, {1, 2, 3, 4, 5, 6, 7, 8});
  p.args2[7] ^= 0x80000000u;
  EXPECT_FALSE(P14::verifyFecCopies(p));
  for (uint16_t op = 0; op < 8; ++op) {
    EXPECT_EQ(P14::isSupportedOpcode(static_cast<P14::Op>(op)), op >= 1 && op <= 5) << op;
  }
  EXPECT_EQ(P14::findRegister(P14::Op::SET_TxPowerDbm)->persist, P14::Persist::Rtc);
  EXPECT_EQ(P14::findRegister(P14::Op::DBG1_TOGGLE)->persist, P14::Persist::None);
  EXPECT_EQ(P14::findRegister(P14::Op::SET_SleepForceRX)->persist, P14::Persist::Flash);
}

TEST_F(Settings, IdentityAndCounterGuard) {
  P14::Target t{cfg, 0};
  UID other;
  other.storeU24(0x00BEEE);
  P14::Payload p = frame(50, P14::Op::DBG1_TOGGLE);
  p.uid = other;
  EXPECT_EQ(P14::applyDecodedTo(p, t, fakeCommit), P14::ApplyOutcome::UidMismatch);
  EXPECT_EQ(cfg.lastDownlinkCounter, 10u);
  EXPECT_EQ(P14::applyDecodedTo(frame(10, P14::Op::DBG1_TOGGLE), t, fakeCommit), P14::ApplyOutcome::StaleCounter);
  EXPECT_EQ(P14::applyDecodedTo(frame(3, P14::Op::DBG1_TOGGLE), t, fakeCommit), P14::ApplyOutcome::StaleCounter);
  EXPECT_FALSE(dbg1TogglePending());
  EXPECT_EQ(P14::applyDecodedTo(frame(11, P14::Op::DBG1_TOGGLE), t, fakeCommit), P14::ApplyOutcome::Applied);
  EXPECT_EQ(cfg.lastDownlinkCounter, 11u);
  EXPECT_TRUE(takeDbg1ToggleRequest());
  EXPECT_EQ(gCommits, 0);
  // An unknown opcode and a rejected value still consume their counters.
  EXPECT_EQ(P14::applyDecodedTo(frame(12, static_cast<P14::Op>(9)), t, fakeCommit), P14::ApplyOutcome::UnknownOpcode);
  EXPECT_EQ(cfg.lastDownlinkCounter, 12u);
  EXPECT_EQ(P14::applyDecodedTo(frame(13, P14::Op::SET_SleepForceRX, {f2u(NAN), 1}), t, fakeCommit),
            P14::ApplyOutcome::RejectedValue);
  EXPECT_EQ(cfg.lastDownlinkCounter, 13u);
  EXPECT_EQ(P14::applyDecodedTo(frame(13, P14::Op::DBG1_TOGGLE), t, fakeCommit), P14::ApplyOutcome::StaleCounter);
  EXPECT_EQ(P14::applyDecodedTo(frame(0xFFFFFF, P14::Op::DBG1_TOGGLE), t, fakeCommit), P14::ApplyOutcome::Applied);
  EXPECT_EQ(P14::applyDecodedTo(frame(0xFFFFFF, P14::Op::DBG1_TOGGLE), t, fakeCommit), P14::ApplyOutcome::StaleCounter);
}

TEST_F(Settings, TransmitPowerSteps) {
  const struct {
    int8_t rtc;
    int32_t requested;
    P14::ApplyOutcome outcome;
    int8_t stored;
  } cases[] = {
      {2, -3, P14::ApplyOutcome::Applied, 0},    {10, 20, P14::ApplyOutcome::Applied, 14},
      {14, 0, P14::ApplyOutcome::Applied, 9},    {12, 12, P14::ApplyOutcome::Unchanged, 12},
      {0, 14, P14::ApplyOutcome::Applied, 14},   {9, 4, P14::ApplyOutcome::Applied, 4},
      {9, 3, P14::ApplyOutcome::Applied, 4},     {0, -128, P14::ApplyOutcome::Unchanged, 0},
      {5, 0x1FF, P14::ApplyOutcome::Applied, 0},  // low byte 0xFF: -1 dBm, raised to 0
      {100, 14, P14::ApplyOutcome::Applied, 14},  // an out-of-range stored value never leads outside 0..14
      {-9, 3, P14::ApplyOutcome::Applied, 3},
  };
  uint32_t counter = 11;
  for (const auto& c : cases) {
    P14::Target t{cfg, c.rtc};
    EXPECT_EQ(P14::applyDecodedTo(frame(counter++, P14::Op::SET_TxPowerDbm, {static_cast<uint32_t>(c.requested)}), t,
                                  fakeCommit),
              c.outcome)
        << int(c.rtc) << " <- " << c.requested;
    EXPECT_EQ(t.txPowerDbm, c.stored) << int(c.rtc) << " <- " << c.requested;
  }
  EXPECT_EQ(gCommits, 0);  // kept in RTC memory, never in flash
  takeOutput();
  P14::Target t{cfg, 14};
  P14::applyDecodedTo(frame(counter++, P14::Op::SET_TxPowerDbm, {0}), t, fakeCommit);
  EXPECT_EQ(takeOutput(), "RX14 SET_TxPowerDbm: txPowerDbm 14 -> 9 dBm (RTC)\r\n");
}

TEST_F(Settings, SleepAndForcedListen) {
  P14::Target t{cfg, 0};
  ASSERT_EQ(cfg.sleepMaxSec, 600.0f);
  ASSERT_FALSE(cfg.forceLoraRX);
  takeOutput();
  EXPECT_EQ(P14::applyDecodedTo(frame(11, P14::Op::SET_SleepForceRX, {f2u(0.5f), 0}), t, fakeCommit),
            P14::ApplyOutcome::Applied);
  EXPECT_EQ(cfg.sleepMaxSec, 1.0f);
  EXPECT_EQ(gCommits, 1);
  EXPECT_EQ(takeOutput(), "RX14 SET_SleepForceRX: sleepMaxSec 600 -> 1 s, forceLoraRX 0 -> 0, committing flash\r\n");
  EXPECT_EQ(P14::applyDecodedTo(frame(12, P14::Op::SET_SleepForceRX, {f2u(1e6f), 7}), t, fakeCommit),
            P14::ApplyOutcome::Applied);
  EXPECT_EQ(cfg.sleepMaxSec, 86400.0f);
  EXPECT_TRUE(cfg.forceLoraRX);
  EXPECT_EQ(P14::applyDecodedTo(frame(13, P14::Op::SET_SleepForceRX, {f2u(INFINITY), 1}), t, fakeCommit),
            P14::ApplyOutcome::Unchanged);
  EXPECT_EQ(P14::applyDecodedTo(frame(14, P14::Op::SET_SleepForceRX, {f2u(86400.0f), 0}), t, fakeCommit),
            P14::ApplyOutcome::Applied);
  EXPECT_FALSE(cfg.forceLoraRX);
  takeOutput();
  EXPECT_EQ(P14::applyDecodedTo(frame(15, P14::Op::SET_SleepForceRX, {f2u(NAN), 0}), t, fakeCommit),
            P14::ApplyOutcome::RejectedValue);
  EXPECT_EQ(takeOutput(), "");
  EXPECT_EQ(cfg.sleepMaxSec, 86400.0f);
  // A failed commit: CommitFailed, the new value stays in the record.
  gCommitOk = false;
  EXPECT_EQ(P14::applyDecodedTo(frame(16, P14::Op::SET_SleepForceRX, {f2u(30.0f), 0}), t, fakeCommit),
            P14::ApplyOutcome::CommitFailed);
  EXPECT_EQ(cfg.sleepMaxSec, 30.0f);
}

// The old value in the log line comes from the record as stored: every whole number a float holds
// prints as itself, and what an int cannot hold prints at its limit.
TEST_F(Settings, SleepLogOfAStoredValueTruncates) {
  struct Case {
    float stored;
    const char* shown;
  };
  const Case cases[] = {
      {2147483520.0f, "2147483520"}, {3e9f, "2147483647"}, {-7.9f, "-7"}, {-3e9f, "-2147483648"}, {NAN, "0"}};
  uint32_t counter = 11;
  for (const Case& c : cases) {
    cfg.sleepMaxSec = c.stored;
    P14::Target t{cfg, 0};
    takeOutput();
    EXPECT_EQ(P14::applyDecodedTo(frame(counter++, P14::Op::SET_SleepForceRX, {f2u(30.0f), 0}), t, fakeCommit),
              P14::ApplyOutcome::Applied);
    EXPECT_EQ(takeOutput(), std::string("RX14 SET_SleepForceRX: sleepMaxSec ") + c.shown +
                                " -> 30 s, forceLoraRX 0 -> 0, committing flash\r\n")
        << c.stored;
  }
}

TEST_F(Settings, PhaseShiftReadsOnlyArgument7) {
  P14::Target t{cfg, 0};
  takeOutput();
  EXPECT_EQ(
      P14::applyDecodedTo(frame(11, P14::Op::SET_PhaseShift, {f2u(1.0f), 0, 0, 0, 0, 0, 0, f2u(0.0f)}), t, fakeCommit),
      P14::ApplyOutcome::Unchanged);
  EXPECT_EQ(P14::applyDecodedTo(frame(12, P14::Op::SET_PhaseShift, {0, 0, 0, 0, 0, 0, 0, f2u(-1.25f)}), t, fakeCommit),
            P14::ApplyOutcome::Applied);
  EXPECT_EQ(cfg.inductive50HzPhaseCorrection, -1.25f);
  EXPECT_EQ(takeOutput(),
            "RX14 SET_PhaseShift: inductive50HzPhaseCorrection 0.0000 -> -1.2500 rad, committing flash\r\n");
  // Values the phase arithmetic cannot use are refused like NaN.
  const float refused[] = {NAN, INFINITY, -INFINITY, 1e30f, -21475.0f};
  uint32_t counter = 13;
  for (float v : refused) {
    EXPECT_EQ(
        P14::applyDecodedTo(frame(counter++, P14::Op::SET_PhaseShift, {0, 0, 0, 0, 0, 0, 0, f2u(v)}), t, fakeCommit),
        P14::ApplyOutcome::RejectedValue)
        << v;
  }
  EXPECT_EQ(cfg.inductive50HzPhaseCorrection, -1.25f);
  EXPECT_EQ(P14::applyDecodedTo(frame(counter++, P14::Op::SET_PhaseShift, {0, 0, 0, 0, 0, 0, 0, f2u(21474.8f)}), t,
                                fakeCommit),
            P14::ApplyOutcome::Applied);
}

TEST_F(Settings, DebugPacketRate) {
  P14::Target t{cfg, 0};
  takeOutput();
  EXPECT_EQ(P14::applyDecodedTo(frame(11, P14::Op::SET_txDebugPacketRate, {0x10000}), t, fakeCommit),
            P14::ApplyOutcome::Applied);  // low 16 bits: 0, accepted
  EXPECT_EQ(cfg.txDebugPacketRate, 0);
  EXPECT_EQ(takeOutput(), "RX14 SET_txDebugPacketRate: txDebugPacketRate 100 -> 0, committing flash\r\n");
  EXPECT_EQ(P14::applyDecodedTo(frame(12, P14::Op::SET_txDebugPacketRate, {0}), t, fakeCommit),
            P14::ApplyOutcome::Unchanged);
  EXPECT_EQ(takeOutput(), "");
  EXPECT_EQ(gCommits, 1);
}

TEST_F(Settings, Packet14Printout) {
  const P14::Payload p = frame(0x0102, P14::Op::SET_PhaseShift, {1, 2, 3, 4000000000u, 5, 6, 7, f2u(-0.0625f)});
  P14::debugPkt(p);
  const auto f = bytesOf(P14::encode(p, HMAC::liveKey()));
  EXPECT_EQ(takeOutput(),
            "Payload (RX packet 14):\n\r"
            "  packetCode: 14\r\n"
            "  packetCounter (u24): 258\r\n"
            "  UID (u24): 48879 (0x00BEEF)\r\n"
            "  opcode: 0x0002\r\n"
            "  opcode2: 0x0002 (fecOk=yes)\r\n"
            "  args: [1, 2, 3, 4000000000]\r\n"
            "  phaseRad: -0.0625 rad\r\n"  // the sign of a value above -1 is kept
            "  RAW HEX  80 bytes: " +
                hex(f) + "\r\n");
  P14::Payload q = frame(7, P14::Op::SET_txDebugPacketRate, {0x12345});
  q.opcode2 = P14::Op::DBG1_TOGGLE;
  P14::debugPkt(q);
  const std::string out = takeOutput();
  EXPECT_NE(out.find("  opcode: 0x0003\r\n  opcode2: 0x0001 (fecOk=no)\r\n"), std::string::npos);
  EXPECT_NE(out.find("  txDebugPacketRate: 9029\r\n"), std::string::npos);
  P14::debugPkt(frame(7, P14::Op::SET_PhaseShift, {0, 0, 0, 0, 0, 0, 0, f2u(NAN)}));
  EXPECT_NE(takeOutput().find("  phaseRad: nan rad\r\n"), std::string::npos);
}

}  // namespace
