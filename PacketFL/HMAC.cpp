// HalfSipHash-2-4 (32-bit output) and the frame tag built on it, under a given key.
#include "HMAC.h"

namespace {
constexpr int kCompressionRounds = 2;
constexpr int kFinalizationRounds = 4;

uint32_t loadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
}  // namespace

uint32_t rotl32(uint32_t x, unsigned b) { return (x << (b & 31u)) | (x >> ((32u - b) & 31u)); }

void sipround(uint32_t& v0, uint32_t& v1, uint32_t& v2, uint32_t& v3) {
  v0 += v1;
  v1 = rotl32(v1, 5);
  v1 ^= v0;
  v0 = rotl32(v0, 16);
  v2 += v3;
  v3 = rotl32(v3, 8);
  v3 ^= v2;
  v0 += v3;
  v3 = rotl32(v3, 7);
  v3 ^= v0;
  v2 += v1;
  v1 = rotl32(v1, 13);
  v1 ^= v2;
  v2 = rotl32(v2, 16);
}

uint32_t halfsiphash_2_4(const std::array<uint32_t, 2>& key, const uint8_t* data, size_t len) {
  const uint32_t k0 = key[0];
  const uint32_t k1 = key[1];
  uint32_t v0 = k0;
  uint32_t v1 = k1;
  uint32_t v2 = 0x6c796765u ^ k0;
  uint32_t v3 = 0x74656462u ^ k1;

  const size_t whole = len - (len % 4u);
  for (size_t i = 0; i < whole; i += 4) {
    const uint32_t m = loadLe32(data + i);
    v3 ^= m;
    for (int r = 0; r < kCompressionRounds; ++r) sipround(v0, v1, v2, v3);
    v0 ^= m;
  }

  // Last word: the length modulo 256 in the top byte, the 0..3 remaining bytes below it.
  uint32_t b = static_cast<uint32_t>(len & 0xFFu) << 24;
  for (size_t i = 0; i < len % 4u; ++i) b |= static_cast<uint32_t>(data[whole + i]) << (8u * i);
  v3 ^= b;
  for (int r = 0; r < kCompressionRounds; ++r) sipround(v0, v1, v2, v3);
  v0 ^= b;

  v2 ^= 0xFFu;
  for (int r = 0; r < kFinalizationRounds; ++r) sipround(v0, v1, v2, v3);
  return v1 ^ v3;
}

namespace HMAC {

Key keyFromBytes(const uint8_t* bytes) { return Key{loadLe32(bytes), loadLe32(bytes + 4)}; }

uint32_t compute(const Key& key, const uint8_t* data, size_t len) {
  if (data == nullptr) len = 0;
  static constexpr uint8_t kNothing = 0;
  return halfsiphash_2_4(key, data != nullptr ? data : &kNothing, len);
}

bool appendTag(const Key& key, LoRaFrameBuffer& buffer, size_t len) {
  if (len > buffer.used_bytes()) return false;
  return buffer.append(compute(key, buffer.data(), len));
}

bool verifyTag(const Key& key, const uint8_t* wire, size_t bodyLen, size_t wireLen) {
  if (wire == nullptr || wireLen < TAG_BYTES || wireLen - TAG_BYTES != bodyLen) return false;
  return loadLe32(wire + bodyLen) == compute(key, wire, bodyLen);
}

}  // namespace HMAC
