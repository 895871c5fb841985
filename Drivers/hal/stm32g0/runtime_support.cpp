// What the C and C++ runtime libraries expect from a board without heap, exceptions or exit.
// newlib-nano's string formatting (snprintf) carries a growth path for dynamically allocated
// streams (asprintf) that a fixed buffer never takes; the link routes it here (--wrap), so no
// allocator and no _sbrk are linked, and an allocation that did happen would fail cleanly.
#include <sys/reent.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "float_exact.h"
#include "mem_ops.h"
#include "text_format.h"

extern "C" {

// used: the references come from the C library, after the link-time optimiser has run.
// The error goes to the caller's own errno, the one the library passes (no global errno linked).
__attribute__((used)) void* __wrap__malloc_r(struct _reent* r, size_t) {
  r->_errno = ENOMEM;
  return nullptr;
}

__attribute__((used)) void* __wrap__realloc_r(struct _reent* r, void*, size_t) {
  r->_errno = ENOMEM;
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

// Float comparisons as the compiler calls them: one integer comparison (FloatExact::compare)
// instead of the library's comparison routines and their wrappers (about 550 bytes).
__attribute__((used)) int __aeabi_fcmpeq(float a, float b) {
  return FloatExact::compare(a, b) == FloatExact::Order::equal;
}
__attribute__((used)) int __aeabi_fcmplt(float a, float b) {
  return FloatExact::compare(a, b) == FloatExact::Order::less;
}
__attribute__((used)) int __aeabi_fcmple(float a, float b) {
  const FloatExact::Order o = FloatExact::compare(a, b);
  return o == FloatExact::Order::less || o == FloatExact::Order::equal;
}
__attribute__((used)) int __aeabi_fcmpgt(float a, float b) {
  return FloatExact::compare(a, b) == FloatExact::Order::greater;
}
__attribute__((used)) int __aeabi_fcmpge(float a, float b) {
  const FloatExact::Order o = FloatExact::compare(a, b);
  return o == FloatExact::Order::greater || o == FloatExact::Order::equal;
}
__attribute__((used)) int __aeabi_fcmpun(float a, float b) {
  return FloatExact::compare(a, b) == FloatExact::Order::unordered;
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

// Memory and string operations in short loops (MemOps) instead of the library's unrolled ones.
__attribute__((used)) void* memcpy(void* dst, const void* src, size_t n) { return MemOps::copy(dst, src, n); }
__attribute__((used)) void* memset(void* dst, int value, size_t n) { return MemOps::fill(dst, value, n); }
__attribute__((used)) int memcmp(const void* a, const void* b, size_t n) { return MemOps::compare(a, b, n); }
__attribute__((used)) size_t strlen(const char* s) { return MemOps::length(s); }
__attribute__((used)) int strcmp(const char* a, const char* b) { return MemOps::compareText(a, b); }
__attribute__((used)) char* strcpy(char* dst, const char* src) { return MemOps::copyText(dst, src); }
__attribute__((used)) char* strncpy(char* dst, const char* src, size_t n) {
  return MemOps::copyTextPadded(dst, src, n);
}

// The larger and the smaller of two floats, the other one when one is a NaN, the second one when
// they are equal (+0 and -0), as the library gives them, through FloatExact::compare instead of
// the library's float classification.
static float pickByOrder(float a, float b, FloatExact::Order keepA) {
  const FloatExact::Order o = FloatExact::compare(a, b);
  if (o == FloatExact::Order::unordered) return FloatExact::compare(a, a) == FloatExact::Order::unordered ? b : a;
  return o == keepA ? a : b;
}
__attribute__((used)) float fmaxf(float a, float b) { return pickByOrder(a, b, FloatExact::Order::greater); }
__attribute__((used)) float fminf(float a, float b) { return pickByOrder(a, b, FloatExact::Order::less); }

// Rounding half away from zero (FloatExact::roundToInt), for the values the firmware rounds:
// finite and below 2^31 in magnitude.
__attribute__((used)) long lroundf(float v) { return FloatExact::roundToInt(v); }

// Float division in integer arithmetic (FloatExact): 350 bytes smaller than the library's.
__attribute__((used)) float __aeabi_fdiv(float a, float b) { return FloatExact::div(a, b); }

// The square root, exactly rounded (FloatExact): the library's sqrtf wrapper and its error
// reporting are 250 bytes more.
__attribute__((used)) float sqrtf(float v) { return FloatExact::sqrt(v); }

// Integer to float conversions, exactly rounded (FloatExact), smaller than the library's.
__attribute__((used)) float __aeabi_i2f(int v) { return FloatExact::fromInt(v); }
__attribute__((used)) float __aeabi_ui2f(unsigned v) { return FloatExact::fromUint(v); }

// Unsigned division, quotient in r0 and remainder in r1 (a 64-bit result is returned in that
// register pair): the divisor is raised to the dividend's top bit, then one subtraction a bit.
// 200 bytes smaller than the run-time library's unrolled routine; a quotient of a few bits (the
// formatter's digits) takes a few steps. Division by zero, undefined in C++, gives 0 and the dividend.
__attribute__((used)) uint64_t __aeabi_uidivmod(unsigned a, unsigned b) {
  unsigned quotient = 0;
  if (b != 0) {
    unsigned bit = 1;
    while (b < a && (b & 0x80000000u) == 0) {
      b <<= 1;
      bit <<= 1;
    }
    for (; bit != 0; bit >>= 1, b >>= 1) {
      if (a >= b) {
        a -= b;
        quotient |= bit;
      }
    }
  }
  return quotient | (static_cast<uint64_t>(a) << 32);
}
__attribute__((used)) unsigned __aeabi_uidiv(unsigned a, unsigned b) {
  return static_cast<unsigned>(__aeabi_uidivmod(a, b));
}

// Signed division through the unsigned routine: the quotient truncates toward zero as in C, the
// remainder takes the dividend's sign. The run-time library's own signed routine is 460 bytes.
// (Division by zero, undefined in C++, gives what the unsigned routine gives for the magnitudes.)
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
