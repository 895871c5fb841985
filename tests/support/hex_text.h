// Frames and byte runs as upper-case hex text, as the console and the air log show them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "packed_buffer.h"

namespace testing_support {

inline std::string hex(const uint8_t* data, size_t len) {
  std::string out;
  char b[3];
  for (size_t i = 0; i < len; ++i) {
    std::snprintf(b, sizeof b, "%02X", data[i]);
    out += b;
  }
  return out;
}
inline std::string hex(const std::vector<uint8_t>& bytes) { return hex(bytes.data(), bytes.size()); }
inline std::string hex(const LoRaFrameBuffer& frame) { return hex(frame.data(), frame.used_bytes()); }

inline std::vector<uint8_t> bytesOf(const LoRaFrameBuffer& frame) {
  return {frame.data(), frame.data() + frame.used_bytes()};
}

}  // namespace testing_support
