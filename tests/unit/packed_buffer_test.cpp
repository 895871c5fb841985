// Bit packer, packet counter, common header and the generic encoder.
#include "packed_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "HMAC.h"
#include "packet_counter.h"
#include "packet_encode.h"

namespace {

TEST(PackedBuffer, FreshEqualsReset) {
  LoRaFrameBuffer b;
  EXPECT_TRUE(b.isValid());
  EXPECT_EQ(b.used_bits(), 0u);
  EXPECT_EQ(b.used_bytes(), 0u);
  EXPECT_TRUE(b.byte_aligned());
  for (size_t i = 0; i < 255; ++i) ASSERT_EQ(b.data()[i], 0) << i;
}

TEST(PackedBuffer, FieldsPackLeastSignificantBitFirstAcrossBytes) {
  LoRaFrameBuffer b;
  EXPECT_TRUE(b.append_bits(0x5, 3));
  EXPECT_EQ(b.data()[0], 0x05);
  EXPECT_EQ(b.used_bits(), 3u);
  EXPECT_EQ(b.used_bytes(), 1u);
  EXPECT_FALSE(b.byte_aligned());
  EXPECT_TRUE(b.append_bits(0x1F, 5));
  EXPECT_EQ(b.data()[0], 0xFD);
  // A 12-bit field from bit 8 on, then one that straddles bytes 2 and 3.
  EXPECT_TRUE(b.append_bits(0xABC, 12));
  EXPECT_TRUE(b.append_bits(0x3F, 6));
  EXPECT_EQ(b.data()[1], 0xBC);
  EXPECT_EQ(b.data()[2], 0xFA);  // low nibble: 0xA, high nibble: low 4 bits of 0x3F
  EXPECT_EQ(b.data()[3], 0x03);
  EXPECT_EQ(b.used_bits(), 26u);
  EXPECT_EQ(b.used_bytes(), 4u);
  // Bits above n_bits are ignored; zero bits clear what is there.
  EXPECT_TRUE(b.append_bits(0xFFFFFFF0u, 4));
  EXPECT_EQ(b.data()[3], 0x03);
  EXPECT_EQ(b.used_bits(), 30u);
  EXPECT_TRUE(b.append_bits(0x1234, 0));
  EXPECT_EQ(b.used_bits(), 30u);
  EXPECT_TRUE(b.append_bits(0xFFFFFFFFu, 32));
  EXPECT_EQ(b.used_bits(), 62u);
  EXPECT_EQ(b.data()[3], 0xC3);
  EXPECT_EQ(b.data()[7], 0x3F);
}

TEST(PackedBuffer, OverflowInvalidatesUntilReset) {
  {
    LoRaFrameBuffer b;
    EXPECT_FALSE(b.append_bits(1, 33));
    EXPECT_FALSE(b.isValid());
    EXPECT_FALSE(b.append_bits(1, 1));
    EXPECT_EQ(b.used_bits(), 0u);
    EXPECT_FALSE(b.align_to_byte());
    EXPECT_FALSE(b.append(uint8_t{1}));
    b.reset();
    EXPECT_TRUE(b.isValid());
    EXPECT_TRUE(b.append_bits(1, 1));
  }
  {
    LoRaFrameBuffer b;
    for (int i = 0; i < 63; ++i) ASSERT_TRUE(b.append_bits(0xFFFFFFFFu, 32));
    EXPECT_EQ(b.used_bits(), 2016u);
    EXPECT_TRUE(b.append_bits(0xFFFFFF, 24));
    EXPECT_EQ(b.used_bits(), 2040u);
    EXPECT_EQ(b.used_bytes(), 255u);
    EXPECT_FALSE(b.append_bits(0, 1));
    EXPECT_FALSE(b.isValid());
    EXPECT_FALSE(b.append_bits(0, 0));
    EXPECT_EQ(b.used_bits(), 2040u);
  }
  {
    // A value that does not fit whole is refused, not cut.
    LoRaFrameBuffer b;
    for (int i = 0; i < 253; ++i) ASSERT_TRUE(b.append(uint8_t{0xAA}));
    EXPECT_FALSE(b.append(uint32_t{0x01020304}));
    EXPECT_FALSE(b.isValid());
    EXPECT_EQ(b.used_bytes(), 253u);
    EXPECT_EQ(b.data()[253], 0);
  }
}

TEST(PackedBuffer, AlignAndAppendValues) {
  LoRaFrameBuffer b;
  EXPECT_TRUE(b.align_to_byte());
  EXPECT_EQ(b.used_bits(), 0u);
  EXPECT_TRUE(b.append_bits(0x7, 3));
  EXPECT_TRUE(b.align_to_byte());
  EXPECT_EQ(b.used_bits(), 8u);
  EXPECT_EQ(b.data()[0], 0x07);
  EXPECT_TRUE(b.append(uint32_t{0x11223344}));
  EXPECT_EQ(b.used_bytes(), 5u);
  const uint8_t want[] = {0x07, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(std::memcmp(b.data(), want, sizeof want), 0);
  // append aligns first.
  EXPECT_TRUE(b.append_bits(1, 1));
  EXPECT_TRUE(b.append(uint16_t{0xBEEF}));
  EXPECT_EQ(b.used_bytes(), 8u);
  EXPECT_EQ(b.data()[5], 0x01);
  EXPECT_EQ(b.data()[6], 0xEF);
  EXPECT_EQ(b.data()[7], 0xBE);
}

TEST(PacketCounter, WrapsAndReads) {
  LoRaPacketCounterU24 c = LoRaPacketCounterU24::fromU32(0xFFFFFF);
  c += LoRaPacketCounterU24(1);
  EXPECT_EQ(c.toU32(), 0u);
  LoRaPacketCounterU24 d;
  d.bytes = {0x34, 0x12, 0x00};
  EXPECT_EQ(d.toU32(), 0x1234u);
  d += LoRaPacketCounterU24(0xCC);  // carry from byte 0 into byte 1
  EXPECT_EQ(d.toU32(), 0x1300u);
  LoRaPacketCounterU24 e = LoRaPacketCounterU24::fromU32(0x00FFFF);
  e += LoRaPacketCounterU24::fromU32(0xFF0001);  // carry through both bytes, out of the top
  EXPECT_EQ(e.toU32(), 0x000000u);
  EXPECT_EQ(LoRaPacketCounterU24(7).toU32(), 7u);
  EXPECT_EQ(LoRaPacketCounterU24::fromU32(0x1ABCDEF).toU32(), 0xABCDEFu);
}

TEST(PacketHeader, ReadsFromWire) {
  const uint8_t wire[] = {14, 0x56, 0x34, 0x12, 0x03, 0x02, 0x01, 0x99};
  PacketHeader h{};
  ASSERT_TRUE(PacketHeader::read(h, wire, sizeof wire));
  EXPECT_EQ(h.packetCode, 14);
  EXPECT_EQ(h.uid.toU24(), 0x123456u);
  EXPECT_EQ(h.packetCounter.toU32(), 0x010203u);
  EXPECT_FALSE(PacketHeader::read(h, wire, 6));
  EXPECT_FALSE(PacketHeader::read(h, nullptr, 7));
}

struct TwelveBytes {
  uint8_t packetCode;
  UID uid;
  LoRaPacketCounterU24 packetCounter;
  uint8_t rest[5];
};
static_assert(hasWireHeader<TwelveBytes>());

TEST(EncodePayload, BodyThenTagOfTheBody) {
  TwelveBytes p{};
  for (int i = 0; i < 12; ++i) reinterpret_cast<uint8_t*>(&p)[i] = static_cast<uint8_t>(0x10 + i);
  const HMAC::Key key{0x03020100, 0x07060504};
  const LoRaFrameBuffer f = encodePayloadWithHmac(p, key);
  ASSERT_EQ(f.used_bytes(), 16u);
  EXPECT_EQ(std::memcmp(f.data(), &p, 12), 0);
  const uint32_t tag = halfsiphash_2_4(key, f.data(), 12);
  EXPECT_EQ(f.data()[12], static_cast<uint8_t>(tag));
  EXPECT_EQ(f.data()[15], static_cast<uint8_t>(tag >> 24));

  // A shorter wire body: the tag covers only what is sent.
  const LoRaFrameBuffer g = encodePayloadWithHmacBody(p, 7, key);
  ASSERT_EQ(g.used_bytes(), 11u);
  EXPECT_TRUE(HMAC::verifyTag(key, g.data(), 7, 11));

  // A body longer than the structure: empty and valid.
  const LoRaFrameBuffer e = encodePayloadWithHmacBody(p, 13, key);
  EXPECT_EQ(e.used_bytes(), 0u);
  EXPECT_TRUE(e.isValid());
}

TEST(EncodePayload, DecodeRefusesWrongLengthAndTag) {
  TwelveBytes p{};
  p.packetCode = 3;
  p.uid.storeU24(0xABCDEF);
  const HMAC::Key key{1, 2};
  const LoRaFrameBuffer f = encodePayloadWithHmac(p, key);
  TwelveBytes out{};
  EXPECT_TRUE(decodePayloadWithHmacBody(out, f.data(), 16, 12, key));
  EXPECT_EQ(std::memcmp(&out, &p, sizeof p), 0);
  TwelveBytes untouched{};
  EXPECT_FALSE(decodePayloadWithHmacBody(untouched, f.data(), 15, 12, key));
  EXPECT_FALSE(decodePayloadWithHmacBody(untouched, f.data(), 17, 12, key));
  EXPECT_FALSE(decodePayloadWithHmacBody(untouched, f.data(), 16, 12, HMAC::Key{1, 3}));
  EXPECT_FALSE(decodePayloadWithHmacBody(untouched, nullptr, 16, 12, key));
  EXPECT_FALSE(decodePayloadWithHmacBody(untouched, f.data(), 17, 13, key));
  EXPECT_EQ(untouched.packetCode, 0);
}

}  // namespace
