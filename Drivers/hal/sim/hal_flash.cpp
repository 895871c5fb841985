// Flash interface of the simulated board: the configuration page, answered by the flash model.
#include <algorithm>
#include <cstring>

#include "board.h"
#include "flash_model.h"
#include "stm32g0xx_hal.h"

// The configuration page as the core reads it: the linker symbol of the chip, here provided
// as memory that the flash model keeps equal to its page.
alignas(8) uint32_t __device_config_flash_start[sim::FlashModel::kPageSize / 4];

extern "C" {

HAL_StatusTypeDef HAL_FLASH_Unlock(void) {
  sim::board().halCall();
  sim::board().flash().unlock();
  return HAL_OK;
}

HAL_StatusTypeDef HAL_FLASH_Lock(void) {
  sim::board().halCall();
  sim::board().flash().lock();
  return HAL_OK;
}

HAL_StatusTypeDef HAL_FLASHEx_Erase(FLASH_EraseInitTypeDef* erase, uint32_t* PageError) {
  sim::board().halCall();
  if (erase == nullptr || PageError == nullptr) return HAL_ERROR;
  *PageError = 0xFFFFFFFFu;
  if (erase->TypeErase != FLASH_TYPEERASE_PAGES || erase->NbPages == 0) return HAL_ERROR;
  for (uint32_t page = erase->Page; page < erase->Page + erase->NbPages; ++page) {
    if (sim::board().flash().erasePage(page) != sim::FlashModel::Result::ok) {
      *PageError = page;
      return HAL_ERROR;
    }
  }
  return HAL_OK;
}

HAL_StatusTypeDef HAL_FLASH_Program(uint32_t TypeProgram, uintptr_t Address, uint64_t Data) {
  sim::board().halCall();
  if (TypeProgram != FLASH_TYPEPROGRAM_DOUBLEWORD) return HAL_ERROR;  // fast programming is not modelled
  const uintptr_t start = reinterpret_cast<uintptr_t>(__device_config_flash_start);
  if (Address < start) return HAL_ERROR;
  const sim::FlashModel::Result r = sim::board().flash().program(Address - start, Data);
  return r == sim::FlashModel::Result::ok ? HAL_OK : HAL_ERROR;
}

// The simulated board raises no NMI: a checked read asks the flash model about the page's double words.
bool HAL_FLASHEx_TakeEccDoubleError(void) { return false; }

bool HAL_FLASHEx_ReadChecked(void* dst, const void* src, size_t size) {
  std::memcpy(dst, src, size);
  const uintptr_t page = reinterpret_cast<uintptr_t>(__device_config_flash_start);
  const uintptr_t from = std::max(reinterpret_cast<uintptr_t>(src), page);
  const uintptr_t to = std::min(reinterpret_cast<uintptr_t>(src) + size, page + sim::FlashModel::kPageSize);
  for (uintptr_t at = from; at < to; at += 8) {
    if (sim::board().flash().eccError(at - page)) return false;
  }
  return true;
}

}  // extern "C"
