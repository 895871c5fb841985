// The configuration store: loads the flash record into the live copy (GState::config), commits
// the live copy to the configuration page and erases it.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "flashconfig.h"

class DeviceConfig {
 public:
  // Typed access to one member of the live record: get() copies it out, setTemp() stages a
  // new value (live at once, persistent only after commit()).
  template <auto Member>
  struct ConfigField {
    using Value = std::remove_cvref_t<decltype(std::declval<FlashConfig&>().*Member)>;
    Value get() const { return DeviceConfig::configRef().*Member; }
    void setTemp(const Value& value) const { DeviceConfig::configRef().*Member = value; }
  };

  ConfigField<&FlashConfig::hmacKey> hmacKey;
  ConfigField<&FlashConfig::uid> uid;
  ConfigField<&FlashConfig::inductive50HzPhaseCorrection> phaseCorrection;
  ConfigField<&FlashConfig::clampMapping> clampMapping;
  ConfigField<&FlashConfig::txDebugPacketRate> txDebugPacketRate;

  // The flash record into the live copy, or the defaults when the page holds no valid record.
  static void init();
  // False (and `out` untouched) for an erased page or a record that is not valid.
  static bool loadFromFlash(const uint32_t* address, FlashConfig* out);
  static bool commit();
  // Marks `record` valid, erases the page and programs it. On failure the live record is
  // reloaded from what the page then holds: staged changes are dropped.
  static bool commitToFlash(FlashConfig& record);
  // Erases the page; on success the live record returns to the defaults.
  static bool erase();
  // Keeps a consumed downlink counter of identity `uid` on the page without erasing it (one
  // double word in the erased rest of the page), so that a frame accepted without a commit
  // cannot be accepted again after a reset or a power cut. init() takes the highest one kept
  // for the record's identity.
  static bool keepDownlinkCounter(const UID& uid, uint32_t counter);
  // Uplink counter checkpoints, one double word each in the same area: the latest one (false when
  // the page holds none), and a new one. A commit or a full area starts the page again with the
  // later of the latest checkpoint and the counter in the RTC domain.
  static bool keptUplinkCounter(uint32_t& counter);
  static bool keepUplinkCounter(uint32_t counter);
  static FlashConfig& configRef();
};

DeviceConfig& flash();
