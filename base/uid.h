// The 24-bit device identity, least significant byte first (as in frames and the flash record).
#pragma once

#include <array>
#include <cstdint>

struct UID {
  std::array<uint8_t, 3> bytes{};

  uint32_t toU24() const {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16);
  }
  // Keeps the low 24 bits of value.
  void storeU24(uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
  }
};
static_assert(sizeof(UID) == 3 && alignof(UID) == 1, "UID is 3 bytes on the wire and in flash");
