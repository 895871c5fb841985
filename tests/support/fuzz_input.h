// A fuzz input read byte by byte: zeros once it runs out, so every shape a target builds from it
// is whole whatever the input's length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testing_support {

struct FuzzInput {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  uint8_t next() { return pos < size ? data[pos++] : 0; }
  void fill(uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = next();
  }
};

}  // namespace testing_support
