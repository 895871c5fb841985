// The image tests' main: --image FILE [--meta FILE], and GoogleTest's own options.
#include <gtest/gtest.h>

#include <cstdio>

#include "image_on_chip.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--image") emu_test::imagePath() = argv[i + 1];
    if (std::string(argv[i]) == "--meta") emu_test::metaPath() = argv[i + 1];
  }
  if (emu_test::imagePath().empty()) {
    std::fprintf(stderr, "usage: %s --image IMAGE.elf [--meta build_meta.h] [gtest options]\n", argv[0]);
    return 2;
  }
  return RUN_ALL_TESTS();
}
