// The configuration page of the on-chip flash: erase sets every byte to 0xFF, a double word can be
// programmed only onto an erased one, and the page lives in the state folder. Faults (a failing
// erase or program, a power cut in the middle of a commit or of a double word) can be injected for
// tests. A double word whose programming was cut off holds half its bits and fails its ECC check:
// reading it is an ECC double error (the chip flags it and raises the NMI).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class DeviceHost;

// Faults of the configuration flash page, injected for tests.
struct FlashFaults {
  bool eraseFails = false;       // every page erase fails and leaves the page as it was
  int programFailsAt = -1;       // programming double word n (0 = first) after an erase fails
  int powerCutAt = -1;           // the power is cut once, with n double words programmed after an erase
  bool powerCutMidWord = false;  // ... in the middle of programming double word n instead
  bool powerCutInErase = false;  // the power is cut once, as a page erase starts (the page keeps its data)
};

class FlashModel {
 public:
  static constexpr size_t kPageSize = 2048;
  static constexpr uint32_t kPageIndex = 63;       // the last page of the 128 KiB flash
  static constexpr uint64_t kPageEraseUs = 22000;  // typical page erase time
  static constexpr uint64_t kProgramUs = 85;       // typical double-word program time

  enum class Result { ok, locked, badAddress, notErased, fault };

  // `memory` is the page as the core reads it (memory-mapped), kept equal to the model.
  FlashModel(DeviceHost& board, uint8_t* memory, const FlashFaults& faults);

  void unlock() { locked_ = false; }
  void lock() { locked_ = true; }
  bool locked() const { return locked_; }

  Result erasePage(uint32_t page);
  // Program the double word at byte `offset` of the page.
  Result program(size_t offset, uint64_t value);

  const uint8_t* page() const { return memory_; }
  // The double word at byte `offset` of the page fails its ECC check (a double error).
  bool eccError(size_t offset) const;
  FlashFaults& faults() { return faults_; }
  // Double words programmed since the last erase.
  int programmedSinceErase() const { return programmedSinceErase_; }

 private:
  void cutPowerOnce();
  void save() const;
  void saveEcc() const;

  DeviceHost& board_;
  uint8_t* memory_;
  FlashFaults faults_;
  bool locked_ = true;
  int programmedSinceErase_ = 0;
  bool cutDone_ = false;
  std::vector<size_t> eccErrors_;  // byte offsets of the double words that fail their ECC check
};

}  // namespace sim
