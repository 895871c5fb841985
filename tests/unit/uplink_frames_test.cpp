// Uplink frames 3/5, 7, 8, 10 and 17: byte layouts, lengths, gaps, copies, tag position and the
// console printouts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Debug.h"
#include "HMAC.h"
#include "build_info.h"
#include "gstate.h"
#include "hex_text.h"
#include "packet10.h"
#include "packet10_debug.h"
#include "packet17.h"
#include "packet17_debug.h"
#include "packet3.h"
#include "packet3_debug.h"
#include "packet7.h"
#include "packet7_debug.h"
#include "packet8.h"
#include "test_board.h"

namespace {

using testing_support::takeOutput;

using testing_support::bytesOf;
using testing_support::hex;

std::vector<uint8_t> le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// A provisioned node with uid 0xABCDEF and key bytes 0x10..0x1F; console captured.
class Uplink : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    FlashConfig& c = setGstate().config;
    for (uint8_t i = 0; i < 16; ++i) c.hmacKey[i] = static_cast<uint8_t>(0x10 + i);
    c.uid.storeU24(0xABCDEF);
    c.magic = FlashConfig::MAGIC;
    c.version = FlashConfig::VERSION;
    takeOutput();
  }
  static LoRaPacketCounterU24 counter() { return LoRaPacketCounterU24::fromU32(0x010203); }
  // The frame is body + tag of the body under the live key, least significant byte first.
  static void expectTagged(const std::vector<uint8_t>& frame, size_t bodyLen) {
    ASSERT_EQ(frame.size(), bodyLen + 4);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + bodyLen, frame.end()), le32(HMAC::compute(frame.data(), bodyLen)));
    EXPECT_TRUE(HMAC::verifyTag(frame.data(), bodyLen, frame.size()));
  }
  // The raw-dump line of a frame, as the printouts end.
  static std::string rawLine(const std::vector<uint8_t>& frame) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "  RAW HEX %3u bytes: ", static_cast<unsigned>(frame.size()));
    return prefix + hex(frame.data(), frame.size()) + "\r\n";
  }
};

struct ByteCase {
  float in;
  int want;
};

TEST(ScalingHelpers, SaturateAndRound) {
  const ByteCase temps[] = {{-30.0f, 0}, {-25.0f, 0},  {60.0f, 255}, {20.0f, 135},   {-24.9f, 0},
                            {0.1f, 75},  {59.8f, 254}, {1e9f, 255},  {-INFINITY, 0}, {NAN, 0}};
  for (const auto& c : temps) EXPECT_EQ(encodeTemperatureScaled(c.in), c.want) << c.in;
  const ByteCase vbat[] = {{2.4f, 0}, {3.3f, 160}, {4.0f, 255}, {2.5f, 0}, {3.775f, 255}, {3.0f, 100}, {NAN, 0}};
  for (const auto& c : vbat) EXPECT_EQ(encodeVbatScaled(c.in), c.want) << c.in;
  const ByteCase pfs[] = {{-1.2f, -100}, {0.456f, 46}, {1.0f, 100}, {-0.455f, -46}, {0.004f, 0}, {5.0f, 100}, {NAN, 0}};
  for (const auto& c : pfs) EXPECT_EQ(encodePfScaled(c.in), c.want) << c.in;
  // The current field: milliamperes, low 16 bits.
  const ByteCase amps[] = {{1.2345f, 1234}, {-0.5f, 0}, {70.0f, 4464}, {65.535f, 65535},
                           {0.0f, 0},       {NAN, 0},   {INFINITY, 0}, {-INFINITY, 0}};
  for (const auto& c : amps) {
    EXPECT_EQ(LoRaPacket3::makePayload({}, UID{}, 0, 0, 0, c.in, false).curr, c.want) << c.in;
  }
}

TEST(ScalingHelpers, EncodeFixedTruncatesAndSaturates) {
  using LoRaPacket7::encodeFixed;
  EXPECT_EQ(encodeFixed(-1.23456f, 4), -12345);
  EXPECT_EQ(encodeFixed(3e6f, 4), 2147483647);
  EXPECT_EQ(encodeFixed(-3e6f, 4), INT32_MIN);
  EXPECT_EQ(encodeFixed(12.345f, 2), 1234);
  EXPECT_EQ(encodeFixed(0.99999f, 0), 0);
  EXPECT_EQ(encodeFixed(INFINITY, 4), INT32_MAX);
  EXPECT_EQ(encodeFixed(-INFINITY, 2), INT32_MIN);
  EXPECT_EQ(encodeFixed(NAN, 4), 0);
  EXPECT_EQ(encodeFixed(214748.3647f, 4), 2147483647);  // rounds to 2^31 in float: saturates
}

TEST_F(Uplink, Packet3ByteExact) {
  const UID uid = gstate().config.uid;
  const auto p = LoRaPacket3::makePayload(counter(), uid, 20.0f, 3.3f, -1.2f, 1.2345f, false);
  const auto frame = bytesOf(LoRaPacket3::encode(p));
  ASSERT_EQ(frame.size(), LoRaPacket3::WIRE_MAX_BYTES);
  const std::vector<uint8_t> body = {0x03, 0xEF, 0xCD, 0xAB, 0x03, 0x02, 0x01, 135, 160, 0x9C, 0xD2, 0x04};
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 12), body);
  expectTagged(frame, 12);

  // With the listen flag: code 5, and the tag covers the 5.
  const auto q = LoRaPacket3::makePayload(counter(), uid, 20.0f, 3.3f, -1.2f, 1.2345f, true);
  const auto frame5 = bytesOf(LoRaPacket3::encode(q));
  EXPECT_EQ(frame5[0], 5);
  EXPECT_TRUE(std::equal(frame5.begin() + 1, frame5.begin() + 12, frame.begin() + 1));
  expectTagged(frame5, 12);
  EXPECT_NE(std::vector<uint8_t>(frame5.begin() + 12, frame5.end()),
            std::vector<uint8_t>(frame.begin() + 12, frame.end()));

  LoRaPacket3::debugPkt(p);
  LoRaPacket3::debugPkt(q);
  EXPECT_EQ(takeOutput(), "Sending packet 3\n\rSending packet 5 (telemetry + RX window signal)\n\r");
}

TEST_F(Uplink, Packet7ByteExactWithZeroGaps) {
  using namespace LoRaPacket7;
  MeasureValues e{true, 2, 231, 0, -1234, 12.34567f, 0.0301f, true, -1.5f, 456.78f};
  MeasureValues b{};  // a measure without a channel view
  b.average = 7;
  b.rmsRaw = 0.5f;
  const PowerValues pw{true, false, 0.25f, -3.0f, 1.0f, -0.5f, 0.75f, 2.5f, 2.75f, -0.9f, -123.456f, 0.15840608f};
  const Payload p = makePayload(counter(), gstate().config.uid, 3.3f, makeMeasurePayload(e), makeMeasurePayload(b),
                                makePowerPayload(pw));
  const auto f = bytesOf(encode(p));
  ASSERT_EQ(f.size(), WIRE_MAX_BYTES);
  expectTagged(f, 112);
  const std::vector<uint8_t> head = {0x07, 0xEF, 0xCD, 0xAB, 0x03, 0x02, 0x01, 5, 3, 5, 160, 0};
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 12), head);

  auto i32At = [&](size_t off) {
    int32_t v;
    std::memcpy(&v, f.data() + off, 4);
    return v;
  };
  auto u16At = [&](size_t off) { return static_cast<unsigned>(f[off] | (f[off + 1] << 8)); };
  // eFieldInductive at 12.
  EXPECT_EQ(f[12], 2);
  EXPECT_EQ(f[13], MeasureFlagPhaseOk);
  EXPECT_EQ(u16At(14), 231u);
  EXPECT_EQ(i32At(16), -1234);
  EXPECT_EQ(i32At(20), 123456);
  EXPECT_EQ(i32At(24), 301);
  EXPECT_EQ(u16At(28), 0u);
  EXPECT_EQ(i32At(32), -15000);
  EXPECT_EQ(i32At(36), 4567800);
  // bField at 40: no channel.
  EXPECT_EQ(f[40], 255);
  EXPECT_EQ(f[41], 0);
  EXPECT_EQ(u16At(42), 0u);
  EXPECT_EQ(i32At(44), 7);
  EXPECT_EQ(i32At(48), 5000);
  EXPECT_EQ(u16At(56), 0u);
  // power at 68.
  EXPECT_EQ(f[68], PowerFlagBFieldPhaseOk);
  EXPECT_EQ(i32At(72), 2500);
  EXPECT_EQ(i32At(76), -30000);
  EXPECT_EQ(i32At(80), 10000);
  EXPECT_EQ(i32At(84), -5000);
  EXPECT_EQ(i32At(88), 7500);
  EXPECT_EQ(i32At(92), 25000);
  EXPECT_EQ(i32At(96), 27500);
  EXPECT_EQ(i32At(100), -9000);
  EXPECT_EQ(i32At(104), -12345);
  float shift;
  std::memcpy(&shift, f.data() + 108, 4);
  EXPECT_EQ(shift, 0.15840608f);
  for (size_t gap : {11u, 30u, 31u, 58u, 59u, 69u, 70u, 71u}) EXPECT_EQ(f[gap], 0) << gap;

  LoRaPacket7::debugPkt(p);
  EXPECT_EQ(takeOutput(), "Sending packet 7\n\r");
}

TEST_F(Uplink, Packet8ByteExactAndTextFields) {
  using namespace LoRaPacket8;
  ClampMapping map = kDefaultClampMapping;
  map[10] = {60.5f, 70.25f};
  const Payload p = makePayloadWithBuild(counter(), gstate().config.uid, {0x11223344u, 0x55667788u, 0x99AABBCCu},
                                         -0.125f, 2.5f, map, "abc1234", "2026-01-02T03:04:05Z");
  const auto f = bytesOf(encode(p));
  ASSERT_EQ(f.size(), WIRE_MAX_BYTES);
  expectTagged(f, 160);
  EXPECT_EQ(f[0], 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[7]), 8), std::string("abc1234\0", 8));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[15]), 20), "2026-01-02T03:04:05Z");
  for (size_t i = 35; i < 47; ++i) EXPECT_EQ(f[i], 0) << i;
  EXPECT_EQ(f[47], 0);
  float v;
  std::memcpy(&v, &f[48], 4);
  EXPECT_EQ(v, -0.125f);
  std::memcpy(&v, &f[52], 4);
  EXPECT_EQ(v, 2.5f);
  const std::vector<uint8_t> ids = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA, 0x99};
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 56, f.begin() + 68), ids);
  EXPECT_EQ(std::memcmp(&f[68], map.data(), 88), 0);
  std::memcpy(&v, &f[68 + 80], 4);
  EXPECT_EQ(v, 60.5f);
  EXPECT_EQ(f[156], 10);
  EXPECT_EQ(f[157], 0);
  EXPECT_EQ(f[158], 0);
  EXPECT_EQ(f[159], 0);

  // The node's own build identity goes in by default.
  const Payload own = makePayload(counter(), gstate().config.uid, {1, 2, 3}, 0, 0, map);
  EXPECT_EQ(std::strncmp(own.gitRevision, buildGitRevision(), BuildGitRevisionWireBytes), 0);
  EXPECT_EQ(std::strncmp(own.buildTimestamp, buildTimestamp(), BuildTimestampWireBytes), 0);
}

TEST(Packet8, CopyFixedFieldCutsWithoutTerminatorAndClears) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  LoRaPacket8::copyFixedField(field, "0123456789");
  EXPECT_EQ(std::string(field, 8), "01234567");
  LoRaPacket8::copyFixedField(field, "abc");
  EXPECT_EQ(std::string(field, 8), std::string("abc\0\0\0\0\0", 8));
  LoRaPacket8::copyFixedField(field, nullptr);
  EXPECT_EQ(std::string(field, 8), std::string(8, '\0'));
  const char exact[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};  // not terminated: read only 8
  LoRaPacket8::copyFixedField(field, exact);
  EXPECT_EQ(std::string(field, 8), "12345678");
}

TEST_F(Uplink, Packet10ByteExactCopiesAndPrintout) {
  using namespace LoRaPacket10;
  const StUid st = packStUidBytes({0x11223344u, 0x55667788u, 0x99AABBCCu});
  Payload p = makePayload(counter(), gstate().config.uid, st, kPhaseTagNone);
  const auto f = bytesOf(encode(p));
  ASSERT_EQ(f.size(), WIRE_MAX_BYTES);
  expectTagged(f, 75);
  EXPECT_EQ(f[0], 10);
  for (size_t i = 0; i < 5; ++i) {
    const size_t off = (i == 0) ? 1 : 7 + 3 * (i - 1);
    EXPECT_EQ(f[off], 0xEF) << off;
    EXPECT_EQ(f[off + 1], 0xCD) << off;
    EXPECT_EQ(f[off + 2], 0xAB) << off;
  }
  const std::vector<uint8_t> ids = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA, 0x99};
  for (size_t c = 0; c < 4; ++c)
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 19 + 12 * c, f.begin() + 31 + 12 * c), ids) << c;
  for (size_t i = 67; i < 75; ++i) EXPECT_EQ(f[i], 0) << i;

  // Round trip of the wire body; the pad byte is never carried.
  Payload back{};
  back.wirePad = 9;
  readWireBody(back, f.data());
  EXPECT_EQ(back.wirePad, 0);
  uint8_t again[75];
  writeWireBody(again, back);
  EXPECT_EQ(std::memcmp(again, f.data(), 75), 0);

  EXPECT_TRUE(verifyProvisionedUidCopies(p));
  EXPECT_TRUE(verifyStUidCopies(p));
  EXPECT_TRUE(verifyPhaseTagCopies(p));
  Payload bad = p;
  bad.stUid[2][5] ^= 1;
  EXPECT_FALSE(verifyStUidCopies(bad));
  EXPECT_TRUE(verifyProvisionedUidCopies(bad));
  EXPECT_TRUE(verifyPhaseTagCopies(bad));
  bad = p;
  bad.header.uid.bytes[0] ^= 1;  // header disagrees with copy 0
  EXPECT_FALSE(verifyProvisionedUidCopies(bad));
  bad = p;
  bad.phaseTag[3] = kPhaseTagAssign;
  EXPECT_FALSE(verifyPhaseTagCopies(bad));
  EXPECT_TRUE(isAssignPhaseTag(0xAAAA));
  EXPECT_TRUE(isConfirmPhaseTag(0x5555));
  EXPECT_FALSE(isAssignPhaseTag(0x5555));

  char ts[kTsPrefixReserve];
  debugTsPrefix(ts, sizeof ts);
  p.stUid[1][0] ^= 0xFF;
  LoRaPacket10::debugPkt(p);
  std::vector<uint8_t> shown(f.begin(), f.begin() + 75);
  shown[19 + 12] ^= 0xFF;
  const uint32_t tag = HMAC::compute(shown.data(), 75);
  for (uint8_t b : le32(tag)) shown.push_back(b);
  const std::string want = std::string(ts) + "Payload (packet 10 STM32 UID):\r\n" +
                           "  packetCode: 10\r\n"
                           "  packetCounter (u24): 66051\r\n"
                           "  UID (u24): 11259375 (0xABCDEF)\r\n"
                           "  provisionedUid[0]: EFCDAB\r\n"
                           "  provisionedUid[1]: EFCDAB\r\n"
                           "  provisionedUid[2]: EFCDAB\r\n"
                           "  provisionedUid[3]: EFCDAB\r\n"
                           "  provisionedUidCopiesOk: yes\r\n"
                           "  stUid[0]: 4433221188776655CCBBAA99\r\n"
                           "  stUid[1]: BB33221188776655CCBBAA99\r\n"
                           "  stUid[2]: 4433221188776655CCBBAA99\r\n"
                           "  stUid[3]: 4433221188776655CCBBAA99\r\n"
                           "  stUidCopiesOk: no\r\n"
                           "  phaseTag[0]: 0x0000\r\n"
                           "  phaseTag[1]: 0x0000\r\n"
                           "  phaseTag[2]: 0x0000\r\n"
                           "  phaseTag[3]: 0x0000\r\n"
                           "  phaseTagCopiesOk: yes\r\n"
                           "  assignPhaseTag: no\r\n" +
                           rawLine(shown);
  EXPECT_EQ(takeOutput(), want);
}

TEST_F(Uplink, Packet17ByteExactAndPrintout) {
  using namespace LoRaPacket17;
  const Payload p = makePayload(counter(), gstate().config.uid, true, Reason::Applied);
  const auto f = bytesOf(encode(p));
  ASSERT_EQ(f.size(), WIRE_MAX_BYTES);
  expectTagged(f, 14);
  const std::vector<uint8_t> body = {17, 0xEF, 0xCD, 0xAB, 0x03, 0x02, 0x01, 1, 1, 1, 1, 2, 2, 2};
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 14), body);

  const Payload n = makePayload(counter(), gstate().config.uid, false, Reason::FECFail);
  EXPECT_EQ(bytesOf(encode(n))[7], 0);
  EXPECT_TRUE(verifyOkCopies(n));
  EXPECT_TRUE(verifyReasonCopies(n));
  Payload bad = p;
  bad.ok[3] = 0;
  EXPECT_FALSE(verifyOkCopies(bad));
  bad = p;
  bad.reason[2] = 3;
  EXPECT_FALSE(verifyReasonCopies(bad));

  EXPECT_STREQ(reasonLabel(0), "FECFail");
  EXPECT_STREQ(reasonLabel(1), "InvalidOpcode");
  EXPECT_STREQ(reasonLabel(static_cast<uint8_t>(Reason::Applied)), "unknown");
  EXPECT_STREQ(reasonLabel(200), "unknown");

  debugPkt(p);
  EXPECT_EQ(takeOutput(),
            "Payload (packet 17):\n\r"  // a lone LF is followed by CR
            "  packetCode: 17\r\n"
            "  packetCounter (u24): 66051\r\n"
            "  UID (u24): 11259375 (0xABCDEF)\r\n"
            "  ok: true (copiesOk=yes)\r\n"
            "  reason: unknown (copiesOk=yes)\r\n" +
                rawLine(f));
  debugPkt(bad);
  const std::string out = takeOutput();
  EXPECT_NE(out.find("  reason: unknown (copiesOk=no)\r\n"), std::string::npos);
}

// What the node sends, the receiving side decodes back field for field, and only under the key.
TEST_F(Uplink, ReceivingSideDecodesEveryFrame) {
  const HMAC::Key key = HMAC::liveKey();
  const HMAC::Key other{key[0], key[1] ^ 1};
  const UID uid = gstate().config.uid;
  auto roundTrip = [&](const char* name, const LoRaFrameBuffer& f, auto decodeFn, auto sameFn) {
    std::vector<uint8_t> w = bytesOf(f);
    EXPECT_TRUE(decodeFn(w.data(), w.size(), key) && sameFn()) << name;
    EXPECT_FALSE(decodeFn(w.data(), w.size(), other)) << name;
    EXPECT_FALSE(decodeFn(w.data(), w.size() - 1, key)) << name;
    w.push_back(0);
    EXPECT_FALSE(decodeFn(w.data(), w.size(), key)) << name;
  };
  {
    const auto p = LoRaPacket3::makePayload(counter(), uid, 21.0f, 3.0f, 0.5f, 2.0f, true);
    LoRaPacket3::Payload q{};
    roundTrip(
        "3", LoRaPacket3::encode(p),
        [&](const uint8_t* w, size_t n, const HMAC::Key& k) { return LoRaPacket3::decode(q, w, n, k); },
        [&] { return std::memcmp(&p, &q, sizeof p) == 0; });
  }
  {
    LoRaPacket7::MeasureValues m{true, 0, 57, 20, 5, 1.5f, 0.1f, true, 0.5f, 9.0f};
    const auto p = LoRaPacket7::makePayload(counter(), uid, 3.1f, LoRaPacket7::makeMeasurePayload(m),
                                            LoRaPacket7::makeMeasurePayload(m), LoRaPacket7::PowerPayload{});
    LoRaPacket7::Payload q{};
    roundTrip(
        "7", LoRaPacket7::encode(p),
        [&](const uint8_t* w, size_t n, const HMAC::Key& k) { return LoRaPacket7::decode(q, w, n, k); },
        [&] { return std::memcmp(&p, &q, sizeof p) == 0; });
  }
  {
    const auto p = LoRaPacket8::makePayload(counter(), uid, {1, 2, 3}, 0.5f, 0.25f, kDefaultClampMapping);
    LoRaPacket8::Payload q{};
    roundTrip(
        "8", LoRaPacket8::encode(p),
        [&](const uint8_t* w, size_t n, const HMAC::Key& k) { return LoRaPacket8::decode(q, w, n, k); },
        [&] { return std::memcmp(&p, &q, sizeof p) == 0; });
  }
  {
    const auto p = LoRaPacket10::makePayload(counter(), uid, LoRaPacket10::packStUidBytes({4, 5, 6}), 0);
    LoRaPacket10::Payload q{};
    roundTrip(
        "10", LoRaPacket10::encode(p),
        [&](const uint8_t* w, size_t n, const HMAC::Key& k) { return LoRaPacket10::decode(q, w, n, k); },
        [&] {
          return q.header.uid.bytes == p.header.uid.bytes && q.stUid == p.stUid && q.phaseTag == p.phaseTag &&
                 LoRaPacket10::verifyProvisionedUidCopies(q);
        });
  }
  {
    const auto p = LoRaPacket17::makePayload(counter(), uid, false, LoRaPacket17::Reason::CommitFailed);
    LoRaPacket17::Payload q{};
    roundTrip(
        "17", LoRaPacket17::encode(p),
        [&](const uint8_t* w, size_t n, const HMAC::Key& k) { return LoRaPacket17::decode(q, w, n, k); },
        [&] { return std::memcmp(&p, &q, sizeof p) == 0; });
  }
  // A frame of another packet with a valid tag is refused by its code.
  const auto f3 = bytesOf(LoRaPacket3::encode(LoRaPacket3::makePayload(counter(), uid, 0, 0, 0, 0, false)));
  LoRaPacket17::Payload r{};
  EXPECT_FALSE(LoRaPacket17::decode(r, f3.data(), f3.size(), key));
}

}  // namespace
