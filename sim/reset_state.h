// Resets and the state folder: the reset and wake-up flags a start sees, and what the folder keeps
// across restarts (the virtual clock, how the last run ended; the models keep their own files).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// How the next start of the firmware comes about; decides the reset flags it sees.
enum class ResetKind { powerOn, pin, software, standbyWake };

class ResetState {
 public:
  // An empty `stateDir`: nothing is kept (tests).
  explicit ResetState(std::string stateDir) : dir_(std::move(stateDir)) {}

  // A file of the state folder, or "" without one.
  std::string path(const std::string& name) const;
  // This start's flags from the folder; `clockUs` gets the virtual clock it kept, if any.
  void load(uint64_t& clockUs);
  // Before a restart of `kind`: the models persist what survives, the folder records the clock
  // and the flags the next start will see (`sr1Flags`: wake-up flags it adds).
  void save(ResetKind kind, uint32_t sr1Flags, uint64_t clockUs);
  // Before the simulator ends: what survives is kept, the next launch is a pin reset.
  void saveForExit(uint64_t clockUs);
  void addPersistHook(std::function<void(ResetKind)> hook) { persistHooks_.push_back(std::move(hook)); }

  // Reset flags of this start (RCC_CSR) and wake-up flags (PWR_SR1).
  uint32_t& csr() { return csr_; }
  uint32_t csr() const { return csr_; }
  uint32_t& sr1() { return sr1_; }
  uint32_t sr1() const { return sr1_; }
  void writeCsr(uint32_t value);

 private:
  std::string dir_;
  uint32_t csr_ = 0;
  uint32_t sr1_ = 0;
  std::vector<std::function<void(ResetKind)>> persistHooks_;
};

}  // namespace sim
