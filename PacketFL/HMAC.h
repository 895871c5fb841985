// Message tag of every frame: HalfSipHash-2-4 with a 64-bit key and a 32-bit result, written
// least significant byte first after the body. The keyed forms serve any holder of a key (the
// node's own frames and the receiving side's model); the plain forms use the node's live key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "packed_buffer.h"

struct FlashConfig;

uint32_t rotl32(uint32_t x, unsigned b);
void sipround(uint32_t& v0, uint32_t& v1, uint32_t& v2, uint32_t& v3);
uint32_t halfsiphash_2_4(const std::array<uint32_t, 2>& key, const uint8_t* data, size_t len);

namespace HMAC {

constexpr size_t TAG_BYTES = 4;
constexpr size_t KEY_BYTES = 8;  // of the 16 configured key bytes, only the first 8 enter the tag

using Key = std::array<uint32_t, 2>;

// k0 from bytes 0..3 and k1 from bytes 4..7, each little-endian.
Key keyFromBytes(const uint8_t* bytes);
// The key of a configuration record: the zero key unless the record is valid.
Key keyFor(const FlashConfig& config);
// The key of the live configuration.
Key liveKey();

uint32_t compute(const Key& key, const uint8_t* data, size_t len);
// Tag over the first len bytes of the buffer, appended byte-aligned, least significant first.
bool appendTag(const Key& key, LoRaFrameBuffer& buffer, size_t len);
// True only if wireLen is bodyLen + 4 and the 4 bytes after the body are the body's tag.
bool verifyTag(const Key& key, const uint8_t* wire, size_t bodyLen, size_t wireLen);

uint32_t compute(const uint8_t* data, size_t len);
bool appendTag(LoRaFrameBuffer& buffer, size_t len);
bool verifyTag(const uint8_t* wire, size_t bodyLen, size_t wireLen);

}  // namespace HMAC
