// Flash memory interface: unlock/lock, page erase and double-word programming of the main flash.
#pragma once

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FLASH_PAGE_SIZE 0x00000800U  // 2 KiB
#define FLASH_TYPEERASE_PAGES 0x00000002U
#define FLASH_TYPEERASE_MASS 0x00000004U
#define FLASH_BANK_1 0x00000004U
#define FLASH_TYPEPROGRAM_DOUBLEWORD 0x00000001U
#define FLASH_TYPEPROGRAM_FAST 0x00000002U

typedef struct {
  uint32_t TypeErase;  // FLASH_TYPEERASE_PAGES or FLASH_TYPEERASE_MASS
  uint32_t Banks;      // FLASH_BANK_1
  uint32_t Page;       // first page to erase: (address - FLASH_BASE) / FLASH_PAGE_SIZE
  uint32_t NbPages;
} FLASH_EraseInitTypeDef;

// Start of the configuration page. On the chip the linker script places it (the last 2 KiB
// page, kept out of the program); the simulated board provides the page's memory itself.
extern uint32_t __device_config_flash_start[];

HAL_StatusTypeDef HAL_FLASH_Unlock(void);
HAL_StatusTypeDef HAL_FLASH_Lock(void);
// Erases NbPages pages from Page. On failure *PageError names the failing page, else 0xFFFFFFFF.
HAL_StatusTypeDef HAL_FLASHEx_Erase(FLASH_EraseInitTypeDef* erase, uint32_t* PageError);
// Programs one double word at an 8-byte aligned address of an erased double word. The address
// is as wide as a pointer: 32 bits on the chip, and wide enough for the simulated page on a host.
HAL_StatusTypeDef HAL_FLASH_Program(uint32_t TypeProgram, uintptr_t Address, uint64_t Data);

#ifdef __cplusplus
}
#endif
