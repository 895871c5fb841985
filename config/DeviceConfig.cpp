// The configuration store on its flash page.
#include "DeviceConfig.h"

#include <cstddef>
#include <cstring>

#include "gstate.h"
#include "stm32g0xx_hal.h"

namespace {

constexpr unsigned kRecordWords = sizeof(FlashConfig) / 4;
constexpr unsigned kDoubleWord = 8;

DeviceConfig gDeviceConfig;

uintptr_t pageAddress() { return reinterpret_cast<uintptr_t>(__device_config_flash_start); }

bool erasePage() {
  FLASH_EraseInitTypeDef erase{};
  erase.TypeErase = FLASH_TYPEERASE_PAGES;
  erase.Banks = FLASH_BANK_1;
  erase.Page = static_cast<uint32_t>((pageAddress() - FLASH_BASE) / FLASH_PAGE_SIZE);
  erase.NbPages = 1;
  uint32_t pageError = 0;
  bool ok = HAL_FLASH_Unlock() == HAL_OK;
  if (ok) ok = HAL_FLASHEx_Erase(&erase, &pageError) == HAL_OK;
  (void)HAL_FLASH_Lock();
  return ok;
}

// The record in 16 double words from the page start, in address order, so that a write cut
// short never reaches the magic and version at its end.
bool programRecord(const FlashConfig& record) {
  if (HAL_FLASH_Unlock() != HAL_OK) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
  bool ok = true;
  for (unsigned offset = 0; offset < sizeof(FlashConfig) && ok; offset += kDoubleWord) {
    uint64_t doubleWord = 0;
    std::memcpy(&doubleWord, bytes + offset, kDoubleWord);
    ok = HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, pageAddress() + offset, doubleWord) == HAL_OK;
  }
  (void)HAL_FLASH_Lock();
  return ok;
}

}  // namespace

DeviceConfig& flash() { return gDeviceConfig; }

FlashConfig& DeviceConfig::configRef() { return setGstate().config; }

bool DeviceConfig::loadFromFlash(const uint32_t* address, FlashConfig* out) {
  bool erased = true;
  for (unsigned i = 0; i < kRecordWords; ++i) {
    if (address[i] != 0xFFFFFFFFu) {
      erased = false;
      break;
    }
  }
  if (erased) return false;
  FlashConfig candidate;
  std::memcpy(static_cast<void*>(&candidate), address, sizeof candidate);
  if (!candidate.ok()) return false;
  // The flag byte may hold any value on the page; a bool must be 0 or 1.
  uint8_t forceRx = 0;
  std::memcpy(&forceRx, reinterpret_cast<const uint8_t*>(address) + offsetof(FlashConfig, forceLoraRX), 1);
  candidate.forceLoraRX = forceRx != 0;
  *out = candidate;
  return true;
}

void DeviceConfig::init() {
  if (!loadFromFlash(__device_config_flash_start, &configRef())) configRef().applyRuntimeDefaults();
}

bool DeviceConfig::commit() { return commitToFlash(configRef()); }

bool DeviceConfig::commitToFlash(FlashConfig& record) {
  record.magic = FlashConfig::MAGIC;
  record.version = FlashConfig::VERSION;
  if (!erasePage() || !programRecord(record)) {
    init();
    return false;
  }
  return true;
}

bool DeviceConfig::erase() {
  if (!erasePage()) return false;
  configRef().applyRuntimeDefaults();
  return true;
}
