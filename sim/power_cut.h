// A cut of the board's supply at a chosen virtual time (--power-cut-at), once per state folder:
// whatever the firmware is doing then (entering standby, transmitting, writing flash), it stops,
// and the next start is a power-on with the backup registers cleared and the flash page kept.
#pragma once

#include <cstdint>

#include "device_host.h"
#include "scheduler.h"

namespace sim {

class PowerCut : public Device {
 public:
  // At virtual time `atUs` (the state folder's clock); nothing when that time has passed or the
  // cut has happened before.
  PowerCut(DeviceHost& board, uint64_t atUs);
  uint64_t nextEventUs() const override { return atUs_; }
  void fire(uint64_t nowUs) override;
  // Like the tick, a cut still to come does not keep an idle shell busy.
  bool periodic() const override { return true; }

 private:
  DeviceHost& board_;
  uint64_t atUs_ = kNever;
};

}  // namespace sim
