// The simulated board's virtual clock and its event devices: what falls due next, firing what is
// due in time order, and pacing virtual time against the wall clock.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace sim {

constexpr uint64_t kNever = UINT64_MAX;

// Anything that makes something happen at a virtual time (a byte arriving, a timer expiring).
class Device {
 public:
  virtual ~Device() = default;
  // Virtual time of the next thing this device will do, or kNever.
  virtual uint64_t nextEventUs() const = 0;
  // Do what is due at `nowUs` (called when the clock reaches nextEventUs()).
  virtual void fire(uint64_t nowUs) = 0;
  // A periodic device (the system tick) does not keep the firmware busy.
  virtual bool periodic() const { return false; }
};

class Scheduler {
 public:
  uint64_t now() const { return nowUs_; }
  void setNow(uint64_t us) { nowUs_ = us; }
  // Virtual time runs at `speed` times real time; 0 or less: as fast as it can.
  void setSpeed(double speed) { speed_ = speed; }

  void add(Device* device) { devices_.push_back(device); }
  // The earliest next event of the devices (the periodic ones too, or not), or kNever.
  uint64_t nextEvent(bool includePeriodic) const;
  // Fires every device whose time has come, in time order, until none is due.
  void runDue();

  // Waits until the wall clock reaches virtual time `targetUs` at the set speed. `wait(ms)` sleeps
  // up to ms and returns true when something (console input) needs attention first.
  void pace(uint64_t targetUs, const std::function<bool(int)>& wait);
  // Virtual time `virtualUs` is wall time `wallUs` from now on (after the host blocked).
  void rebase(uint64_t virtualUs, uint64_t wallUs) {
    paceBaseVirtualUs_ = virtualUs;
    paceBaseWallUs_ = wallUs;
  }
  static uint64_t wallUs();

 private:
  double speed_ = 0;
  uint64_t nowUs_ = 0;
  uint64_t paceBaseVirtualUs_ = 0;
  uint64_t paceBaseWallUs_ = 0;
  std::vector<Device*> devices_;
};

}  // namespace sim
