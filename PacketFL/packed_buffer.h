// Fixed-capacity frame builder: appends bit fields and whole values least significant bit first,
// and remembers whether any append failed, so that a frame is either complete or refused.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

template <size_t N>
class PackedBuffer {
 public:
  static constexpr uint32_t kCapacityBits = 8u * N;

  PackedBuffer() { reset(); }

  void reset() {
    bytes_.fill(0);
    bit_count_ = 0;
    valid_ = true;
  }

  bool isValid() const { return valid_; }
  uint32_t used_bits() const { return bit_count_; }
  size_t used_bytes() const { return (bit_count_ + 7u) / 8u; }
  bool byte_aligned() const { return (bit_count_ % 8u) == 0; }
  const uint8_t* data() const { return bytes_.data(); }
  uint8_t* data() { return bytes_.data(); }

  // Bits of value at or above n_bits are ignored; a field may straddle bytes.
  bool append_bits(uint32_t value, uint8_t n_bits) {
    if (!valid_) return false;
    if (n_bits > 32 || bit_count_ + n_bits > kCapacityBits) {
      valid_ = false;
      return false;
    }
    for (uint8_t i = 0; i < n_bits; ++i) {
      const uint32_t p = bit_count_ + i;
      const uint8_t mask = static_cast<uint8_t>(1u << (p % 8u));
      if ((value >> i) & 1u) {
        bytes_[p / 8u] |= mask;
      } else {
        bytes_[p / 8u] &= static_cast<uint8_t>(~mask);
      }
    }
    bit_count_ += n_bits;
    return true;
  }

  bool align_to_byte() {
    while (valid_ && !byte_aligned()) append_bits(0, 1);
    return valid_;
  }

  // Appends the object representation of value (little-endian, padding included), byte-aligned.
  template <typename T>
  bool append(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>, "only plain data goes on the wire");
    if (!valid_) return false;
    if (!align_to_byte()) return false;
    if (bit_count_ + 8u * sizeof(T) > kCapacityBits) {
      valid_ = false;
      return false;
    }
    std::memcpy(bytes_.data() + bit_count_ / 8u, &value, sizeof(T));
    bit_count_ += static_cast<uint32_t>(8u * sizeof(T));
    return true;
  }

 private:
  std::array<uint8_t, N> bytes_;
  uint32_t bit_count_;
  bool valid_;
};

// The largest LoRa payload: every frame of this node is built in one of these.
using LoRaFrameBuffer = PackedBuffer<255>;
