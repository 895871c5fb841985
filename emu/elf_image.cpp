// Loadable segments of an ELF32 ARM executable (the ELF file header and its program headers).
#include "elf_image.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace emu {

namespace {

constexpr uint16_t kMachineArm = 40;
constexpr uint16_t kTypeExecutable = 2;
constexpr uint32_t kLoadable = 1;

uint16_t u16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (static_cast<uint32_t>(b[at + 1]) << 8) | (static_cast<uint32_t>(b[at + 2]) << 16) |
         (static_cast<uint32_t>(b[at + 3]) << 24);
}

}  // namespace

bool readElfImage(const std::string& path, ElfImage& image, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 52 || std::memcmp(file.data(), "\x7F" "ELF", 4) != 0 || file[4] != 1 || file[5] != 1) {
    error = path + " is not a 32-bit little-endian ELF file";
    return false;
  }
  if (u16(file, 16) != kTypeExecutable || u16(file, 18) != kMachineArm) {
    error = path + " is not an ARM executable";
    return false;
  }
  image = ElfImage{};
  image.entry = u32(file, 24);
  const uint32_t phoff = u32(file, 28);
  const uint16_t phentsize = u16(file, 42);
  const uint16_t phnum = u16(file, 44);
  for (uint16_t i = 0; i < phnum; ++i) {
    const size_t at = phoff + static_cast<size_t>(i) * phentsize;
    if (at + 32 > file.size()) {
      error = path + ": program header beyond the end of the file";
      return false;
    }
    if (u32(file, at) != kLoadable) continue;
    const uint32_t offset = u32(file, at + 4);
    const uint32_t paddr = u32(file, at + 12);
    const uint32_t filesz = u32(file, at + 16);
    if (filesz == 0) continue;  // zero-initialised data: nothing in the image
    if (static_cast<uint64_t>(offset) + filesz > file.size()) {
      error = path + ": segment beyond the end of the file";
      return false;
    }
    ElfSegment seg;
    seg.address = paddr;
    seg.bytes.assign(file.begin() + offset, file.begin() + offset + filesz);
    image.segments.push_back(std::move(seg));
  }
  if (image.segments.empty()) {
    error = path + " has nothing to load";
    return false;
  }
  return true;
}

}  // namespace emu
