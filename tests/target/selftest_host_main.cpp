// The self-test on the host: lines to standard output.
#include <cstdio>

#include "selftest.h"

void selfTestWrite(const char* text, size_t length) { std::fwrite(text, 1, length, stdout); }

int main() {
  runSelfTest();
  return 0;
}
