// Flash interface (FLASH): unlock by the key sequence, page erase (PER, PNB, STRT) and
// double-word programming (PG), each waiting for BSY1/CFGBSY and checking the error flags of FLASH_SR.
#include <cstring>

#include "stm32g0xx_hal.h"

namespace {

volatile uint32_t gEccDoubleErrors = 0;  // taken by the NMI handler

constexpr uint32_t kPages = 64;  // 128 KiB of main flash
// A page erase takes at most 40 ms and a double word 125 us; at 4 MHz a poll costs a few cycles,
// so the bound only ends a wait on a flash interface that never finishes. Waits do not use the
// millisecond tick: the fatal-error path runs with interrupts off.
constexpr uint32_t kBusyPolls = 1000000;

bool waitIdle() {
  for (uint32_t i = 0; i < kBusyPolls; ++i) {
    if ((FLASH->SR & (FLASH_SR_BSY1 | FLASH_SR_CFGBSY)) == 0) return true;
  }
  return false;
}

// Errors left by an earlier operation would block the next one (PGSERR): clear them first.
bool prepare() {
  if (!waitIdle()) return false;
  FLASH->SR = FLASH_SR_ERRORS | FLASH_SR_EOP;
  return true;
}

// Waits for the operation started with `crBits`, then clears them and the flags.
HAL_StatusTypeDef finish(uint32_t crBits) {
  const bool idle = waitIdle();
  const uint32_t errors = FLASH->SR & FLASH_SR_ERRORS;
  FLASH->SR = errors | FLASH_SR_EOP;
  FLASH->CR &= ~crBits;
  return idle && errors == 0 ? HAL_OK : HAL_ERROR;
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_FLASH_Unlock(void) {
  if (FLASH->CR & FLASH_CR_LOCK) {
    FLASH->KEYR = FLASH_KEYR_KEY1;
    FLASH->KEYR = FLASH_KEYR_KEY2;
  }
  return (FLASH->CR & FLASH_CR_LOCK) ? HAL_ERROR : HAL_OK;
}

HAL_StatusTypeDef HAL_FLASH_Lock(void) {
  FLASH->CR |= FLASH_CR_LOCK;
  return (FLASH->CR & FLASH_CR_LOCK) ? HAL_OK : HAL_ERROR;
}

HAL_StatusTypeDef HAL_FLASHEx_Erase(FLASH_EraseInitTypeDef* erase, uint32_t* PageError) {
  if (erase == nullptr || PageError == nullptr) return HAL_ERROR;
  *PageError = 0xFFFFFFFFu;
  if (erase->TypeErase != FLASH_TYPEERASE_PAGES || erase->NbPages == 0 || erase->Page >= kPages ||
      erase->NbPages > kPages - erase->Page) {
    return HAL_ERROR;
  }
  if (FLASH->CR & FLASH_CR_LOCK) return HAL_ERROR;
  for (uint32_t page = erase->Page; page < erase->Page + erase->NbPages; ++page) {
    if (!prepare()) {
      *PageError = page;
      return HAL_ERROR;
    }
    FLASH->CR = (FLASH->CR & ~(FLASH_CR_PNB | FLASH_CR_PG | FLASH_CR_MER1)) | FLASH_CR_PER | (page << FLASH_CR_PNB_Pos);
    FLASH->CR |= FLASH_CR_STRT;
    if (finish(FLASH_CR_PER | FLASH_CR_PNB) != HAL_OK) {
      *PageError = page;
      return HAL_ERROR;
    }
  }
  return HAL_OK;
}

HAL_StatusTypeDef HAL_FLASH_Program(uint32_t TypeProgram, uintptr_t Address, uint64_t Data) {
  if (TypeProgram != FLASH_TYPEPROGRAM_DOUBLEWORD) return HAL_ERROR;  // fast programming is not used
  if (Address % 8 != 0 || Address < FLASH_BASE || Address >= FLASH_BASE + kPages * FLASH_PAGE_SIZE) return HAL_ERROR;
  if ((FLASH->CR & FLASH_CR_LOCK) || !prepare()) return HAL_ERROR;
  FLASH->CR |= FLASH_CR_PG;
  // Low word first; the write of the high word starts the programming.
  *reinterpret_cast<volatile uint32_t*>(Address) = static_cast<uint32_t>(Data);
  __ISB();
  *reinterpret_cast<volatile uint32_t*>(Address + 4) = static_cast<uint32_t>(Data >> 32);
  return finish(FLASH_CR_PG);
}

bool HAL_FLASHEx_TakeEccDoubleError(void) {
  if ((FLASH->ECCR & FLASH_ECCR_ECCD) == 0) return false;
  FLASH->ECCR = FLASH_ECCR_ECCD;  // write 1 to clear
  gEccDoubleErrors = gEccDoubleErrors + 1U;
  return true;
}

// The NMI of a failing double word is taken right after the load that read it, so within the copy.
bool HAL_FLASHEx_ReadChecked(void* dst, const void* src, size_t size) {
  const uint32_t before = gEccDoubleErrors;
  std::memcpy(dst, src, size);
  return gEccDoubleErrors == before;
}

}  // extern "C"
