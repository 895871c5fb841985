// The 24-bit uplink packet counter, 3 bytes least significant first, wrapping at 2^24.
#pragma once

#include <array>
#include <cstdint>

struct LoRaPacketCounterU24 {
  std::array<uint8_t, 3> bytes{};

  constexpr LoRaPacketCounterU24() = default;
  constexpr explicit LoRaPacketCounterU24(uint8_t value) : bytes{value, 0, 0} {}

  constexpr uint32_t toU32() const {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16);
  }
  // Keeps the low 24 bits of value.
  static constexpr LoRaPacketCounterU24 fromU32(uint32_t value) {
    LoRaPacketCounterU24 c;
    c.bytes = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16)};
    return c;
  }

  // Byte-wise sum with carry; the carry out of the top byte is dropped (0xFFFFFF + 1 = 0).
  constexpr LoRaPacketCounterU24& operator+=(const LoRaPacketCounterU24& other) {
    unsigned carry = 0;
    for (unsigned i = 0; i < 3; ++i) {
      const unsigned sum = static_cast<unsigned>(bytes[i]) + other.bytes[i] + carry;
      bytes[i] = static_cast<uint8_t>(sum);
      carry = sum >> 8;
    }
    return *this;
  }

  friend constexpr bool operator==(const LoRaPacketCounterU24&, const LoRaPacketCounterU24&) = default;
};
static_assert(sizeof(LoRaPacketCounterU24) == 3 && alignof(LoRaPacketCounterU24) == 1, "3 bytes on the wire");
