// Runs a fuzz target over every file of a corpus folder (and over a fixed set of generated
// inputs), so that the targets run in every build, with or without libFuzzer.
#include <dirent.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  // Targets that build and drop a database per input would otherwise hand the top of the heap
  // back to the system and take it again each time, which costs more than the input itself.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    DIR* dir = opendir(argv[i]);
    if (dir == nullptr) continue;
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream in(std::string(argv[i]) + "/" + e->d_name, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++runs;
    }
    closedir(dir);
  }
  // Deterministic random inputs, biased towards printable text.
  std::mt19937 rng(12345);
  for (int n = 0; n < 20000; ++n) {
    std::vector<uint8_t> bytes(rng() % 300);
    for (auto& b : bytes) b = (rng() % 4 == 0) ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(32 + rng() % 95);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++runs;
  }
  std::printf("%zu inputs, no failure\n", runs);
  return 0;
}
