// Runtime of the test images on the emulated Cortex-M0 board (QEMU's micro:bit: 256 KiB flash
// at 0, 16 KiB RAM at 0x20000000): vector table, RAM set-up, static constructors, output and exit
// through semihosting. Nothing here touches a peripheral.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "selftest.h"

extern "C" {
extern uint32_t _estack;
extern uint32_t _sidata;
extern uint32_t _sdata;
extern uint32_t _edata;
extern uint32_t _sbss;
extern uint32_t _ebss;
extern void (*__init_array_start[])(void);
extern void (*__init_array_end[])(void);
}

namespace {

// Semihosting operations (as ARM defines the semihosting interface) and the exit reasons of SYS_EXIT.
constexpr uint32_t kSysOpen = 0x01;
constexpr uint32_t kSysWrite = 0x05;
constexpr uint32_t kSysExit = 0x18;
constexpr uint32_t kApplicationExit = 0x20026;
constexpr uint32_t kRunTimeErrorUnknown = 0x20023;

uint32_t semihost(uint32_t op, const void* arg) {
  register uint32_t r0 asm("r0") = op;
  register const void* r1 asm("r1") = arg;
  asm volatile("bkpt #0xab" : "+r"(r0) : "r"(r1) : "memory");
  return r0;
}

int32_t gConsole = -1;

[[noreturn]] void stop(uint32_t reason) {
  semihost(kSysExit, reinterpret_cast<const void*>(static_cast<uintptr_t>(reason)));
  for (;;) {
  }
}

[[noreturn]] void faulted() { stop(kRunTimeErrorUnknown); }

[[noreturn]] void start() {
  std::memcpy(&_sdata, &_sidata, reinterpret_cast<uintptr_t>(&_edata) - reinterpret_cast<uintptr_t>(&_sdata));
  std::memset(&_sbss, 0, reinterpret_cast<uintptr_t>(&_ebss) - reinterpret_cast<uintptr_t>(&_sbss));
  for (auto f = __init_array_start; f != __init_array_end; ++f) (*f)();
  const uint32_t open[3] = {reinterpret_cast<uintptr_t>(":tt"), 4 /* "w" */, 3};
  gConsole = static_cast<int32_t>(semihost(kSysOpen, open));
  testImageMain();
  stop(kApplicationExit);
}

union Vector {
  void (*handler)();
  uint32_t* stackTop;
};

// Initial stack pointer, reset, then NMI and HardFault: any fault ends the run with a failure.
__attribute__((section(".vectors"), used))
const Vector kVectors[4] = {{.stackTop = &_estack}, {start}, {faulted}, {faulted}};

}  // namespace

void selfTestWrite(const char* text, size_t length) {
  const uint32_t block[3] = {static_cast<uint32_t>(gConsole), reinterpret_cast<uintptr_t>(text), length};
  (void)semihost(kSysWrite, block);
}
