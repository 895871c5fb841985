// The persisted configuration record: 128 bytes, byte for byte the flash image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "table_point.h"
#include "uid.h"

constexpr size_t kClampMappingPoints = 11;
using ClampMapping = std::array<TablePoint, kClampMappingPoints>;
extern const ClampMapping kDefaultClampMapping;

struct FlashConfig {
  static constexpr uint8_t VERSION = 16;
  static constexpr uint32_t MAGIC = 0x80988604u;

  float inductive50HzPhaseCorrection;
  ClampMapping clampMapping;
  float sleepMaxSec;
  std::array<uint8_t, 16> hmacKey;
  UID uid;
  bool forceLoraRX;
  uint16_t txDebugPacketRate;
  uint8_t version;
  uint8_t reserved;
  uint32_t magic;
  uint32_t lastDownlinkCounter;

  FlashConfig();
  // Overwrites all 128 bytes with a default record (reserved byte included).
  void applyRuntimeDefaults();
  // Forgets identity, key, replay counter and validity; keeps the measurement settings.
  void clearProvisionedIdentity();
  bool ok() const { return magic == MAGIC && version == VERSION; }
};

static_assert(sizeof(FlashConfig) == 128, "flash image is 128 bytes");
static_assert(offsetof(FlashConfig, inductive50HzPhaseCorrection) == 0);
static_assert(offsetof(FlashConfig, clampMapping) == 4);
static_assert(offsetof(FlashConfig, sleepMaxSec) == 92);
static_assert(offsetof(FlashConfig, hmacKey) == 96);
static_assert(offsetof(FlashConfig, uid) == 112);
static_assert(offsetof(FlashConfig, forceLoraRX) == 115);
static_assert(offsetof(FlashConfig, txDebugPacketRate) == 116);
static_assert(offsetof(FlashConfig, version) == 118);
static_assert(offsetof(FlashConfig, reserved) == 119);
static_assert(offsetof(FlashConfig, magic) == 120);
static_assert(offsetof(FlashConfig, lastDownlinkCounter) == 124);
