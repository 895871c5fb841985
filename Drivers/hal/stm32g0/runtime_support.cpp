// What the C and C++ runtime libraries expect from a board without heap, exceptions or exit.
// newlib-nano's string formatting (snprintf) carries a growth path for dynamically allocated
// streams (asprintf) that a fixed buffer never takes; the link routes it here (--wrap), so no
// allocator and no _sbrk are linked, and an allocation that did happen would fail cleanly.
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "float_exact.h"
#include "text_format.h"

struct _reent;

extern "C" {

// used: the references come from the C library, after the link-time optimiser has run.
__attribute__((used)) void* __wrap__malloc_r(struct _reent*, size_t) {
  errno = ENOMEM;
  return nullptr;
}

__attribute__((used)) void* __wrap__realloc_r(struct _reent*, void*, size_t) {
  errno = ENOMEM;
  return nullptr;
}

__attribute__((used)) void __wrap__free_r(struct _reent*, void*) {}

// a - b is a + (-b) in every rounding case, signed zeros and infinities included (a NaN operand
// comes back as a NaN either way); one addition routine serves both, instead of two of 800 bytes.
float __aeabi_fadd(float a, float b);
__attribute__((used)) float __aeabi_fsub(float a, float b) {
  uint32_t bits;
  __builtin_memcpy(&bits, &b, sizeof bits);
  bits ^= 0x80000000u;
  __builtin_memcpy(&b, &bits, sizeof bits);
  return __aeabi_fadd(a, b);
}

// Formatted text into buffers: the firmware's own formatter (shell/text_format.h) instead of the
// C library's, which is 2 KB larger. The i-forms are the names the compiler may call for formats
// without floating point.
__attribute__((used)) int vsnprintf(char* out, size_t size, const char* format, va_list args) {
  return TextFormat::formatV(out, size, format, args);
}
__attribute__((used)) int snprintf(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = TextFormat::formatV(out, size, format, args);
  va_end(args);
  return n;
}
__attribute__((used)) int vsniprintf(char* out, size_t size, const char* format, va_list args) {
  return TextFormat::formatV(out, size, format, args);
}
__attribute__((used)) int sniprintf(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vsniprintf(out, size, format, args);
  va_end(args);
  return n;
}

// Integer to float conversions, exactly rounded (FloatExact), smaller than the library's.
__attribute__((used)) float __aeabi_i2f(int v) { return FloatExact::fromInt(v); }
__attribute__((used)) float __aeabi_ui2f(unsigned v) { return FloatExact::fromUint(v); }

// Signed division through the unsigned routine: the quotient truncates toward zero as in C, the
// remainder takes the dividend's sign. The run-time library's own signed routine is 460 bytes.
// (Division by zero, undefined in C++, gives what the unsigned routine gives for the magnitudes.)
unsigned __aeabi_uidiv(unsigned a, unsigned b);
__attribute__((used)) int __aeabi_idiv(int a, int b) {
  const unsigned q = __aeabi_uidiv(a < 0 ? 0u - static_cast<unsigned>(a) : static_cast<unsigned>(a),
                                   b < 0 ? 0u - static_cast<unsigned>(b) : static_cast<unsigned>(b));
  return static_cast<int>((a < 0) != (b < 0) ? 0u - q : q);
}

// Quotient in r0, remainder in r1: a 64-bit result is returned in that register pair.
__attribute__((used)) uint64_t __aeabi_idivmod(int a, int b) {
  const int q = __aeabi_idiv(a, b);
  const unsigned r = static_cast<unsigned>(a) - static_cast<unsigned>(q) * static_cast<unsigned>(b);
  return static_cast<uint32_t>(q) | (static_cast<uint64_t>(r) << 32);
}

// Static destructors are registered here (the build uses atexit, not __cxa_atexit). The program
// never exits, so they are never run, and the C library's exit-handler tables stay out.
__attribute__((used)) int atexit(void (*)(void)) { return 0; }

// A pure virtual function called during construction or destruction: a program fault.
void __cxa_pure_virtual(void) {
  for (;;) {
  }
}

}  // extern "C"

// Virtual destructors refer to operator delete even though nothing is ever allocated; these
// keep the library's version (and free) out of the image.
void operator delete(void*) noexcept {}
void operator delete(void*, size_t) noexcept {}
