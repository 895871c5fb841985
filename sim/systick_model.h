// The core's system tick: a 1 ms interrupt while enabled and not suspended.
#pragma once

#include "device_host.h"
#include "scheduler.h"

namespace sim {

class SysTick : public Device {
 public:
  explicit SysTick(DeviceHost& board) : board_(board) {}
  void start(uint32_t periodUs);
  void suspend() { running_ = false; }
  void resume();
  bool running() const { return running_; }
  uint32_t periodUs() const { return periodUs_; }
  // Virtual time of the next tick on the counter's phase (which runs on while suspended).
  uint64_t nextTickUs() const;

  uint64_t nextEventUs() const override { return running_ ? next_ : kNever; }
  void fire(uint64_t nowUs) override;
  bool periodic() const override { return true; }

 private:
  DeviceHost& board_;
  bool configured_ = false;
  bool running_ = false;
  uint32_t periodUs_ = 1000;
  uint64_t next_ = 0;
};

}  // namespace sim
