// The frame tag: HalfSipHash-2-4 against the published vectors, the key taken from the live
// configuration, tag position and verification.
#include "HMAC.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "gstate.h"

namespace {

// Published 32-bit outputs for key 00..07 and message 00..(n-1), as their 4 wire bytes.
const uint8_t kVectors[16][4] = {
    {0xa9, 0x35, 0x9f, 0x5b}, {0x27, 0x47, 0x5a, 0xb8}, {0xfa, 0x62, 0xa6, 0x03}, {0x8a, 0xfe, 0xe7, 0x04},
    {0x2a, 0x6e, 0x46, 0x89}, {0xc5, 0xfa, 0xb6, 0x69}, {0x58, 0x63, 0xfc, 0x23}, {0x8b, 0xcf, 0x63, 0xc5},
    {0xd0, 0xb8, 0x84, 0x8f}, {0xf8, 0x06, 0xe7, 0x79}, {0x94, 0xb0, 0x79, 0x34}, {0x08, 0x08, 0x30, 0x50},
    {0x57, 0xf0, 0x87, 0x2f}, {0x77, 0xe6, 0x63, 0xff}, {0xd6, 0xff, 0xf8, 0x7c}, {0x74, 0xfe, 0x2b, 0x97},
};

class LiveKey : public ::testing::Test {
 protected:
  void SetUp() override { GState::make(); }
  void provision(const std::array<uint8_t, 16>& key) {
    FlashConfig& c = setGstate().config;
    c.hmacKey = key;
    c.magic = FlashConfig::MAGIC;
    c.version = FlashConfig::VERSION;
  }
  static std::array<uint8_t, 16> counting() {
    std::array<uint8_t, 16> k{};
    for (uint8_t i = 0; i < 16; ++i) k[i] = i;
    return k;
  }
};

TEST(HalfSipHash, PublishedVectors) {
  uint8_t msg[16];
  for (uint8_t i = 0; i < 16; ++i) msg[i] = i;
  const std::array<uint32_t, 2> key{0x03020100u, 0x07060504u};
  for (size_t n = 0; n < 16; ++n) {
    const uint32_t want = static_cast<uint32_t>(kVectors[n][0]) | (static_cast<uint32_t>(kVectors[n][1]) << 8) |
                          (static_cast<uint32_t>(kVectors[n][2]) << 16) | (static_cast<uint32_t>(kVectors[n][3]) << 24);
    EXPECT_EQ(halfsiphash_2_4(key, msg, n), want) << "n=" << n;
  }
  uint8_t keyBytes[8];
  std::memcpy(keyBytes, msg, 8);
  EXPECT_EQ(HMAC::keyFromBytes(keyBytes), key);
}

TEST(HalfSipHash, Helpers) {
  EXPECT_EQ(rotl32(0x80000001u, 1), 0x00000003u);
  EXPECT_EQ(rotl32(0x12345678u, 16), 0x56781234u);
  EXPECT_EQ(rotl32(0x12345678u, 0), 0x12345678u);
}

TEST_F(LiveKey, VectorsThroughTheConfiguredKey) {
  provision(counting());
  uint8_t msg[15];
  for (uint8_t i = 0; i < 15; ++i) msg[i] = i;
  EXPECT_EQ(HMAC::compute(msg, 15), 0x972bfe74u);
  EXPECT_EQ(HMAC::compute(msg, 0), 0x5b9f35a9u);
}

TEST_F(LiveKey, InvalidConfigurationTagsWithZeroKey) {
  const uint8_t frame[] = {3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  const uint32_t zeroKeyTag = HMAC::compute(HMAC::Key{0, 0}, frame, sizeof frame);
  // Unprovisioned (defaults, ok() false): zero key even if key bytes are set.
  setGstate().config.hmacKey = counting();
  ASSERT_FALSE(gstate().config.ok());
  EXPECT_EQ(HMAC::compute(frame, sizeof frame), zeroKeyTag);
  EXPECT_EQ(HMAC::compute(frame, 0), HMAC::compute(HMAC::Key{0, 0}, nullptr, 0));
  // Valid record whose first 8 key bytes are zero: the same tag.
  std::array<uint8_t, 16> k{};
  k[8] = 0x55;
  provision(k);
  EXPECT_EQ(HMAC::compute(frame, sizeof frame), zeroKeyTag);
  // A version other than 16 is not valid.
  provision(counting());
  setGstate().config.version = 15;
  EXPECT_EQ(HMAC::compute(frame, sizeof frame), zeroKeyTag);
}

TEST_F(LiveKey, KeyBytes8To15DoNotEnterTheTag) {
  const uint8_t frame[] = {7, 0xAA, 0xBB, 0xCC, 0, 1, 2};
  provision(counting());
  const uint32_t base = HMAC::compute(frame, sizeof frame);
  for (size_t i = 8; i < 16; ++i) {
    auto k = counting();
    k[i] ^= 0xFF;
    provision(k);
    EXPECT_EQ(HMAC::compute(frame, sizeof frame), base) << i;
  }
  for (size_t i = 0; i < 8; ++i) {
    auto k = counting();
    k[i] ^= 0x01;
    provision(k);
    EXPECT_NE(HMAC::compute(frame, sizeof frame), base) << i;
  }
}

TEST_F(LiveKey, AppendAndVerify) {
  provision(counting());
  LoRaFrameBuffer b;
  for (uint8_t i = 0; i < 15; ++i) ASSERT_TRUE(b.append_bits(i, 8));
  ASSERT_TRUE(HMAC::appendTag(b, 15));
  ASSERT_EQ(b.used_bytes(), 19u);
  // Least significant byte fourth-last, most significant last.
  EXPECT_EQ(b.data()[15], 0x74);
  EXPECT_EQ(b.data()[16], 0xfe);
  EXPECT_EQ(b.data()[17], 0x2b);
  EXPECT_EQ(b.data()[18], 0x97);
  EXPECT_TRUE(HMAC::verifyTag(b.data(), 15, 19));
  EXPECT_FALSE(HMAC::verifyTag(b.data(), 15, 20));  // right tag bytes, one byte too many
  EXPECT_FALSE(HMAC::verifyTag(b.data(), 15, 18));
  EXPECT_FALSE(HMAC::verifyTag(b.data(), 14, 19));
  EXPECT_FALSE(HMAC::verifyTag(b.data(), 0, 3));
  EXPECT_FALSE(HMAC::verifyTag(nullptr, 0, 4));
  uint8_t flipped[19];
  std::memcpy(flipped, b.data(), 19);
  for (size_t i = 0; i < 19; ++i) {
    flipped[i] ^= 0x80;
    EXPECT_FALSE(HMAC::verifyTag(flipped, 15, 19)) << i;
    flipped[i] ^= 0x80;
  }
  // The tag is unaligned after an odd bit count: it starts at the next whole byte.
  LoRaFrameBuffer c;
  ASSERT_TRUE(c.append_bits(1, 3));
  ASSERT_TRUE(HMAC::appendTag(c, 1));
  EXPECT_EQ(c.used_bytes(), 5u);
  EXPECT_FALSE(HMAC::appendTag(c, 6));  // more than was written
}

}  // namespace
