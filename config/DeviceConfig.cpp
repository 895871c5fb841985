// The configuration store on its flash page.
#include "DeviceConfig.h"

#include <cstddef>
#include <cstring>

#include "RTCMem.h"
#include "gstate.h"
#include "stm32g0xx_hal.h"

namespace {

constexpr unsigned kRecordWords = sizeof(FlashConfig) / 4;
constexpr unsigned kDoubleWord = 8;

// The double words after the record, each one counter of 3 bytes (least significant first), 3
// more bytes, a marker and a check byte, so that an erased, zeroed or torn double word never reads
// as one. A kept downlink counter carries its identity in the 3 bytes; an uplink checkpoint zeros.
constexpr uint8_t kCounterMarker = 0x5A;
constexpr uint8_t kUplinkMarker = 0xA5;
constexpr uint32_t kCounterMask = 0xFFFFFFu;
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

uint32_t slotCounter(const uint8_t* s) {
  return s[0] | (static_cast<uint32_t>(s[1]) << 8) | (static_cast<uint32_t>(s[2]) << 16);
}

bool slotIs(const uint8_t* s, uint8_t marker) { return s[6] == marker && s[7] == slotCheck(s); }

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
    if (!slotIs(s, kCounterMarker)) continue;
    if (s[3] != uid.bytes[0] || s[4] != uid.bytes[1] || s[5] != uid.bytes[2]) continue;
    const uint32_t c = slotCounter(s);
    if (c > highest) highest = c;
  }
  return highest;
}

// The latest uplink checkpoint: the last one in page order, since slots fill from the front (the
// counter wraps, so the highest value is not the latest).
bool latestUplinkCheckpoint(uint32_t& counter) {
  bool found = false;
  for (size_t i = 0; i < kCounterSlots; ++i) {
    const uint8_t* s = counterSlot(i);
    if (!slotIs(s, kUplinkMarker)) continue;
    counter = slotCounter(s);
    found = true;
  }
  return found;
}

void makeSlot(uint8_t (&slot)[kDoubleWord], uint32_t counter, const uint8_t* uid, uint8_t marker) {
  slot[0] = static_cast<uint8_t>(counter);
  slot[1] = static_cast<uint8_t>(counter >> 8);
  slot[2] = static_cast<uint8_t>(counter >> 16);
  for (unsigned i = 0; i < 3; ++i) slot[3 + i] = uid != nullptr ? uid[i] : 0;
  slot[6] = marker;
  slot[7] = slotCheck(slot);
}

bool programDoubleWord(size_t offset, const uint8_t* bytes) {
  uint64_t doubleWord = 0;
  std::memcpy(&doubleWord, bytes, kDoubleWord);
  if (HAL_FLASH_Unlock() != HAL_OK) return false;
  const bool ok = HAL_FLASH_Program(FLASH_TYPEPROGRAM_DOUBLEWORD, pageAddress() + offset, doubleWord) == HAL_OK;
  (void)HAL_FLASH_Lock();
  return ok;
}

// The first erased slot after the record, or kCounterSlots when there is none. A slot that is
// neither erased nor an entry (a torn write) is skipped, never programmed over.
size_t firstErasedSlot() {
  for (size_t i = 0; i < kCounterSlots; ++i) {
    if (slotErased(counterSlot(i))) return i;
  }
  return kCounterSlots;
}

bool programSlot(size_t index, const uint8_t* slot) {
  return programDoubleWord(kFirstCounterSlot + index * kDoubleWord, slot);
}

// `later` is at or ahead of `earlier` on the 24-bit counter circle (within half of it), the rule
// the receiving node applies.
bool atOrAhead(uint32_t later, uint32_t earlier) { return ((later - earlier) & kCounterMask) < 0x800000u; }

// The uplink checkpoint a new page image carries: the later of the latest one on the page and the
// counter in the RTC domain. Always one, so that a valid record never stands without it (a damaged
// counter found at a start is then judged against it).
uint32_t uplinkCheckpointToCarry() {
  const uint32_t current = rtcMem().loraPacketCounter.get().toU32();
  uint32_t kept = 0;
  return (latestUplinkCheckpoint(kept) && !atOrAhead(current, kept)) ? kept : current;
}

// The highest downlink counter the page holds for `uid`: its record's, when that is valid and of
// this identity, or one kept after it.
uint32_t pageDownlinkCounter(const UID& uid) {
  uint32_t highest = keptDownlinkCounter(uid);
  FlashConfig onPage;
  if (DeviceConfig::loadFromFlash(__device_config_flash_start, &onPage) && onPage.uid.bytes == uid.bytes &&
      onPage.lastDownlinkCounter > highest) {
    highest = onPage.lastDownlinkCounter;
  }
  return highest;
}

// A new page image: erased, then the record's downlink counter and the uplink checkpoint, then the
// record. The counters come first so that a write cut short, which leaves no valid record, still
// keeps what it can: the consumed downlinks (a provisioning of the same identity afterwards does
// not take them again) and the uplink counter. Only a cut between the erase and the first double
// word keeps nothing.
bool writePage(const FlashConfig& record, uint32_t checkpoint) {
  if (!erasePage()) return false;
  uint8_t slot[kDoubleWord];
  size_t next = 0;
  if (record.lastDownlinkCounter != 0) {
    // A counter beyond 24 bits (a damaged record) makes every frame stale; so does the top one.
    const uint32_t counter = record.lastDownlinkCounter < kCounterMask ? record.lastDownlinkCounter : kCounterMask;
    makeSlot(slot, counter, record.uid.bytes.data(), kCounterMarker);
    if (!programSlot(next++, slot)) return false;
  }
  makeSlot(slot, checkpoint, nullptr, kUplinkMarker);
  return programSlot(next, slot) && programRecord(record);
}

bool writePageCarrying(const FlashConfig& record) { return writePage(record, uplinkCheckpointToCarry()); }

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
  // A record with a double word that fails its ECC check (torn by a power cut) is not taken.
  FlashConfig candidate;
  if (!HAL_FLASHEx_ReadChecked(&candidate, address, sizeof candidate) || !candidate.ok()) return false;
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
  // The identity's consumed downlinks stay consumed: after a record lost to a cut commit, the
  // provisioning that gives the node the same identity again starts from them, not from 0.
  const uint32_t consumed = pageDownlinkCounter(record.uid);
  if (consumed > record.lastDownlinkCounter) record.lastDownlinkCounter = consumed;
  if (!writePageCarrying(record)) {
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
  uint8_t slot[kDoubleWord];
  makeSlot(slot, counter, uid.bytes.data(), kCounterMarker);
  const size_t erased = firstErasedSlot();
  if (erased < kCounterSlots) return programSlot(erased, slot);
  // No room left: the page's record is written again with the counter, which empties the rest.
  FlashConfig record;
  if (!loadFromFlash(__device_config_flash_start, &record) || record.uid.bytes != uid.bytes) return false;
  if (counter > record.lastDownlinkCounter) record.lastDownlinkCounter = counter;
  return writePageCarrying(record);
}

bool DeviceConfig::keptUplinkCounter(uint32_t& counter) { return latestUplinkCheckpoint(counter); }

bool DeviceConfig::keepUplinkCounter(uint32_t counter) {
  uint8_t slot[kDoubleWord];
  makeSlot(slot, counter & kCounterMask, nullptr, kUplinkMarker);
  const size_t erased = firstErasedSlot();
  if (erased < kCounterSlots) return programSlot(erased, slot);
  // No room left: the page's record (with the downlink counters kept beside it) and this
  // checkpoint start a new page.
  FlashConfig record;
  if (!loadFromFlash(__device_config_flash_start, &record)) return false;
  const uint32_t kept = keptDownlinkCounter(record.uid);
  if (kept > record.lastDownlinkCounter) record.lastDownlinkCounter = kept;
  return writePage(record, counter & kCounterMask);
}
