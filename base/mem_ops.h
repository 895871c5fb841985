// Memory and string operations as the C library defines them, in short loops: the target image
// takes memcpy, memset, memcmp, strlen, strcmp, strcpy and strncpy from here (the library's
// unrolled versions are 560 bytes larger); the host's tests hold them to the host library.
#pragma once

#include <cstddef>

namespace MemOps {

// memcpy: a word a step once both addresses are word-aligned (when they can be: the same offset
// from a word), else byte by byte.
void* copy(void* dst, const void* src, size_t n);
// memset: four words a step once the address is word-aligned.
void* fill(void* dst, int value, size_t n);
// memcmp: the difference of the first differing bytes (as unsigned char), or 0.
int compare(const void* a, const void* b, size_t n);
// strlen.
size_t length(const char* s);
// strcmp: the difference of the first differing characters (as unsigned char), or 0.
int compareText(const char* a, const char* b);
// strcpy.
char* copyText(char* dst, const char* src);
// strncpy: at most n characters of src, the rest of the n filled with NULs (no terminator when src
// has n characters or more).
char* copyTextPadded(char* dst, const char* src, size_t n);

}  // namespace MemOps
