// Memory and string operations in short loops. The target build compiles this file (and the file
// that names these memcpy and so on) without loop-to-library-call rewriting, which would turn the
// loops into calls of themselves.
#include "mem_ops.h"

#include <cstdint>

namespace MemOps {

namespace {

// A word that may alias any object, as the library's own word loops read memory.
using Word [[gnu::may_alias]] = uint32_t;

bool wordAligned(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 3u) == 0; }

}  // namespace

void* copy(void* dst, const void* src, size_t n) {
  auto* d = static_cast<unsigned char*>(dst);
  const auto* s = static_cast<const unsigned char*>(src);
  // Word steps need both addresses aligned together; one byte loop serves before and after them.
  const bool together = ((reinterpret_cast<uintptr_t>(d) ^ reinterpret_cast<uintptr_t>(s)) & 3u) == 0;
  for (;;) {
    if (together && wordAligned(d)) {
      for (; n >= 4; n -= 4, d += 4, s += 4) *reinterpret_cast<Word*>(d) = *reinterpret_cast<const Word*>(s);
    }
    if (n == 0) return dst;
    *d++ = *s++;
    --n;
  }
}

void* fill(void* dst, int value, size_t n) {
  auto* d = static_cast<unsigned char*>(dst);
  const auto byte = static_cast<unsigned char>(value);
  const Word word = byte * 0x01010101u;
  for (;;) {
    if (wordAligned(d)) {
      for (; n >= 16; n -= 16, d += 16) {
        reinterpret_cast<Word*>(d)[0] = word;
        reinterpret_cast<Word*>(d)[1] = word;
        reinterpret_cast<Word*>(d)[2] = word;
        reinterpret_cast<Word*>(d)[3] = word;
      }
    }
    if (n == 0) return dst;
    *d++ = byte;
    --n;
  }
}

int compare(const void* a, const void* b, size_t n) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  for (; n != 0; --n, ++x, ++y) {
    if (*x != *y) return *x - *y;
  }
  return 0;
}

size_t length(const char* s) {
  const char* end = s;
  while (*end != '\0') ++end;
  return static_cast<size_t>(end - s);
}

int compareText(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  return *x - *y;
}

char* copyText(char* dst, const char* src) {
  char* d = dst;
  while ((*d++ = *src++) != '\0') {
  }
  return dst;
}

char* copyTextPadded(char* dst, const char* src, size_t n) {
  char* d = dst;
  for (; n != 0 && *src != '\0'; --n) *d++ = *src++;
  for (; n != 0; --n) *d++ = '\0';
  return dst;
}

}  // namespace MemOps
