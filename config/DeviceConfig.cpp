// The configuration store on its flash page.
#include "DeviceConfig.h"

#include <cstddef>
#include <cstring>

#include "gstate.h"
#include "stm32g0xx_hal.h"

namespace {

constexpr unsigned kRecordWords = sizeof(FlashConfig) / 4;
constexpr unsigned kDoubleWord = 8;

// A kept downlink counter: counter and identity (3 bytes each, least significant first), a marker
// and a check byte, so that an erased, zeroed or torn double word never reads as one.
constexpr uint8_t kCounterMarker = 0x5A;
constexpr size_t kFirstCounterSlot = sizeof(FlashConfig);
constexpr size_t kCounterSlots = (FLASH_PAGE_SIZE - kFirstCounterSlot) / kDoubleWord;

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

uint8_t slotCheck(const uint8_t* slot) {
  uint8_t x = 0;
  for (unsigned i = 0; i < kDoubleWord - 1; ++i) x = static_cast<uint8_t>(x ^ slot[i]);
  return static_cast<uint8_t>(~x);
}

const uint8_t* counterSlot(size_t index) {
  return reinterpret_cast<const uint8_t*>(pageAddress()) + kFirstCounterSlot + index * kDoubleWord;
}

bool slotErased(const uint8_t* slot) {
  for (unsigned i = 0; i < kDoubleWord; ++i) {
    if (slot[i] != 0xFFu) return false;
  }
  return true;
}

// The highest counter kept for `uid` after the record, or 0.
uint32_t keptDownlinkCounter(const UID& uid) {
  uint32_t highest = 0;
  for (size_t i = 0; i < kCounterSlots; ++i) {
    const uint8_t* s = counterSlot(i);
    if (s[6] != kCounterMarker || s[7] != slotCheck(s)) continue;
    if (s[3] != uid.bytes[0] || s[4] != uid.bytes[1] || s[5] != uid.bytes[2]) continue;
    const uint32_t c = s[0] | (static_cast<uint32_t>(s[1]) << 8) | (static_cast<uint32_t>(s[2]) << 16);
    if (c > highest) highest = c;
  }
  return highest;
}

bool programDoubleWord(size_t offset, const uint8_t* bytes) {
  uint64_t doubleWord = 0;
  std::memcpy(&doubleWord, bytes, kDoubleWord);
  if (HAL_FLASH_Unlock() != HAL_OK) return false;
  const bool ok = HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, pageAddress() + offset, doubleWord) == HAL_OK;
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
  FlashConfig& live = configRef();
  if (!loadFromFlash(__device_config_flash_start, &live)) {
    live.applyRuntimeDefaults();
    return;
  }
  const uint32_t kept = keptDownlinkCounter(live.uid);
  if (kept > live.lastDownlinkCounter) live.lastDownlinkCounter = kept;
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

bool DeviceConfig::keepDownlinkCounter(const UID& uid, uint32_t counter) {
  uint8_t slot[kDoubleWord] = {static_cast<uint8_t>(counter),
                               static_cast<uint8_t>(counter >> 8),
                               static_cast<uint8_t>(counter >> 16),
                               uid.bytes[0],
                               uid.bytes[1],
                               uid.bytes[2],
                               kCounterMarker,
                               0};
  slot[7] = slotCheck(slot);
  for (size_t i = 0; i < kCounterSlots; ++i) {
    // A slot that is neither erased nor an entry (a torn write) is skipped, never programmed over.
    if (slotErased(counterSlot(i))) return programDoubleWord(kFirstCounterSlot + i * kDoubleWord, slot);
  }
  // No room left: the page's record is written again with the counter, which empties the rest.
  FlashConfig record;
  if (!loadFromFlash(__device_config_flash_start, &record) || record.uid.bytes != uid.bytes) return false;
  if (counter > record.lastDownlinkCounter) record.lastDownlinkCounter = counter;
  return erasePage() && programRecord(record);
}
