// Basic timer TIM6: an up-counter clocked by the peripheral clock through its prescaler, with an
// update event (UIF, and the TIM6 interrupt when UIE is set) every ARR + 1 counts.
#pragma once

#include <cstdint>
#include <vector>

#include "device_host.h"
#include "scheduler.h"

namespace sim {

class Tim6 : public Device {
 public:
  explicit Tim6(DeviceHost& board) : board_(board) {}

  void setPrescaler(uint32_t psc) { psc_ = psc & 0xFFFFu; }
  void setAutoReload(uint32_t arr);
  void setCounter(uint32_t cnt);
  uint32_t counter() const;
  void start();
  void stop();
  bool running() const { return running_; }
  void enableUpdateInterrupt(bool enable) { uie_ = enable; }
  bool updateInterruptEnabled() const { return uie_; }
  bool updateFlag() const { return uif_; }
  void clearUpdateFlag() { uif_ = false; }

  // Auto-reload value of the latest starts (at most 64), oldest first: what the firmware asked
  // the timer to count.
  const std::vector<uint32_t>& startedPeriods() const { return started_; }

  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;

 private:
  uint64_t tickNs() const;
  uint64_t updateAtNs() const;

  DeviceHost& board_;
  uint32_t psc_ = 0;
  uint32_t arr_ = 0xFFFF;
  bool running_ = false;
  bool uie_ = false;
  bool uif_ = false;
  uint64_t baseNs_ = 0;   // virtual time at which the counter held baseCnt_
  uint32_t baseCnt_ = 0;  // counter value while stopped, or at baseNs_ while running
  std::vector<uint32_t> started_;
};

}  // namespace sim
