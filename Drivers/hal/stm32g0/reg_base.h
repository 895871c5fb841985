// Memory map of the STM32G070 and the offset check every register header uses.
// Register headers are plain C (usable from C and C++): structs of volatile words at the
// reference manual's offsets, base addresses, and bit masks named REG_FIELD as in the manual.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define REG_CHECK_OFFSET(type, member, offset) \
  static_assert(offsetof(type, member) == (offset), #type "." #member " is not at its manual offset")
#else
#define REG_CHECK_OFFSET(type, member, offset) \
  _Static_assert(offsetof(type, member) == (offset), #type "." #member " is not at its manual offset")
#endif

// Memory regions.
#define FLASH_BASE 0x08000000UL      // main flash memory, 128 KiB in 2 KiB pages
#define FLASH_PAGE_SIZE 0x00000800U  // erase granule of the main flash
#define SRAM_BASE 0x20000000UL       // 36 KiB
#define PERIPH_BASE 0x40000000UL
#define APBPERIPH_BASE PERIPH_BASE
#define AHBPERIPH_BASE 0x40020000UL
#define IOPORT_BASE 0x50000000UL

// Engineering bytes in system memory (device electronic signature).
#define UID_BASE 0x1FFF7590UL        // 96-bit unique device ID: three words at +0, +4, +8
#define FLASHSIZE_BASE 0x1FFF75E0UL  // flash size in KiB (16 bits)
