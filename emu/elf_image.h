// The image as it is flashed: the loadable segments of an ARM ELF executable, each at the address
// it is loaded to (its load address, where initialised data is copied from at start-up).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu {

struct ElfSegment {
  uint32_t address = 0;  // load (physical) address
  std::vector<uint8_t> bytes;
};

struct ElfImage {
  std::vector<ElfSegment> segments;
  uint32_t entry = 0;
};

// Reads `path`; false with a message in `error` for anything but a 32-bit little-endian ARM
// executable.
bool readElfImage(const std::string& path, ElfImage& image, std::string& error);

}  // namespace emu
