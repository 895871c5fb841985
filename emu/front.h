// A register front: one peripheral's registers, laid out and behaving as the reference manual's
// section for that peripheral says, over the simulated board's model of it. The chip's bus hands a
// front the accesses to its address block (after letting the board catch up with the core).
#pragma once

#include <cstdint>

namespace emu {

class Front {
 public:
  virtual ~Front() = default;
  // A word access at a word-aligned offset of the block.
  virtual uint32_t read(uint32_t offset) = 0;
  virtual void write(uint32_t offset, uint32_t value) = 0;
  // A byte or half-word access: by default the lane of the word (a write keeps the other lanes as
  // the register holds them, through peek()). Registers where the width of the access matters (a
  // data register's frame) override these.
  virtual uint32_t readSized(uint32_t offset, unsigned size) {
    const unsigned shift = (offset & 3u) * 8u;
    return (read(offset & ~3u) >> shift) & (size == 1 ? 0xFFu : 0xFFFFu);
  }
  virtual void writeSized(uint32_t offset, unsigned size, uint32_t value) {
    const unsigned shift = (offset & 3u) * 8u;
    const uint32_t mask = (size == 1 ? 0xFFu : 0xFFFFu) << shift;
    write(offset & ~3u, (peek(offset & ~3u) & ~mask) | ((value << shift) & mask));
  }
  // The register as it stands, without the side effects of a read.
  virtual uint32_t peek(uint32_t offset) { return read(offset); }
  // The peripheral's reset (RCC_xxxRSTR): registers and model back to their reset state.
  virtual void reset() {}
};

}  // namespace emu
