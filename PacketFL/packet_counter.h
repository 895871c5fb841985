// The 24-bit uplink packet counter, 3 bytes least significant first, wrapping at 2^24.
#pragma once

#include <array>
#include <cstdint>

struct LoRaPacketCounterU24 {
  std::array<uint8_t, 3> bytes{};

  uint32_t toU32() const {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16);
  }
  static LoRaPacketCounterU24 fromU32(uint32_t value) {
    LoRaPacketCounterU24 c;
    c.bytes = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16)};
    return c;
  }
};
static_assert(sizeof(LoRaPacketCounterU24) == 3 && alignof(LoRaPacketCounterU24) == 1, "3 bytes on the wire");
