// What a device of the simulated board asks of the board it sits on: the time, its interrupt
// line, the pins, the state folder, busy time, a restart, and the run's records. The board
// implements both interfaces; a device knows nothing else of it, so the devices are a library
// below the board, which owns and steps them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "reset_state.h"
#include "stm32g0xx_hal_cortex.h"

namespace sim {

class Gpio;
struct AirFrame;
struct Reception;

// What the devices tell the run's records (sim/run_trace.h).
class DeviceRecords {
 public:
  virtual void frameOnAir(const AirFrame& frame) = 0;
  virtual void frameReceived(const AirFrame& frame, const Reception& rx, bool crcOk) = 0;
  virtual void flashErase(uint32_t page) = 0;
  virtual void flashProgram(size_t offset, uint64_t value) = 0;

 protected:
  ~DeviceRecords() = default;
};

class DeviceHost {
 public:
  virtual uint64_t nowUs() const = 0;
  // The peripheral clock the core's clock tree gives now (timers count on it).
  virtual uint32_t pclkHz() const = 0;
  virtual void pendIrq(IRQn_Type irq) = 0;
  virtual Gpio& gpio() = 0;
  // A file of the board's state folder.
  virtual std::string statePath(const std::string& name) const = 0;
  // Let `us` of virtual time pass while the core runs.
  virtual void busyWait(uint64_t us) = 0;
  // Restart the firmware as a reset of this kind would.
  [[noreturn]] virtual void restart(ResetKind kind, uint32_t sr1Flags) = 0;
  // Called before a restart or exit: what survives it is persisted.
  virtual void addPersistHook(std::function<void(ResetKind)> hook) = 0;
  virtual DeviceRecords& records() = 0;

 protected:
  ~DeviceHost() = default;
};

}  // namespace sim
