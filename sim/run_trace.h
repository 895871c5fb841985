// What a run of orvane-sim records about the board and how long it lasts: the energy account, the
// event log (--events), the VCD trace (--vcd) and the --stop-after limit. A run spans the restarts
// of the firmware (standby wake-ups, resets): each restart hands its records to the next start.
#pragma once

#include <cstdint>
#include <string>

#include "device_host.h"
#include "energy_account.h"
#include "event_log.h"
#include "vcd_writer.h"

namespace sim {

class Board;
struct AirFrame;
struct Reception;
enum class ResetKind;

class RunTrace final : public DeviceRecords {
 public:
  // Least a cycle needs besides its frames: one full capture (231 rows of four conversions) with
  // the front end powered and the core asleep while the ADC converts.
  static constexpr uint64_t kCaptureUs = 80000;

  RunTrace(Board& board, uint32_t csr, uint32_t sr1);

  // Whether this start continues a run (a restart), rather than being launched by the user.
  bool continues() const { return continues_; }
  uint64_t stopAtUs() const { return stopAtUs_; }
  uint64_t cycles() const { return cycles_; }
  const EnergyAccount& account() const { return account_; }

  // The board's state may have changed: account the time since the last change and record it.
  void observe();
  // The core goes into standby now until `wakeUs` (or the end of the run, if that comes first).
  void standby(uint64_t wakeUs, uint64_t periods, uint64_t periodNs);
  void frameOnAir(const AirFrame& frame) override;
  void frameReceived(const AirFrame& frame, const Reception& rx, bool crcOk) override;
  void flashErase(uint32_t page) override;
  void flashProgram(size_t offset, uint64_t value) override;
  // Before the process image is replaced by a restart.
  void beforeRestart(ResetKind kind);
  // The run ends: account the last stretch, write the end event and the energy report.
  void finish(const char* reason);
  // Charge per cycle below which no cycle of this run could go (uC).
  double floorUcPerCycle() const;

 private:
  struct Snapshot {
    uint32_t pins = 0;  // one bit per traced pin
    uint8_t core = 0;   // 0 run, 1 sleep, 2 standby
    uint8_t radio = 0;  // Llcc68Model::Mode
    bool warm = false;
    int8_t txDbm = 0;
    bool adc = false;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot take() const;
  void account(const Snapshot& s, uint64_t us);
  void record(const Snapshot& before, const Snapshot& after, bool all);
  void loadCarry();
  std::string carryPath() const;

  Board& board_;
  bool continues_ = false;
  bool finished_ = false;
  bool inStandby_ = false;
  uint64_t runStartUs_ = 0;
  uint64_t stopAtUs_ = UINT64_MAX;
  uint64_t cycles_ = 1;
  double framesUc_ = 0;  // the node's frames on air at their power
  EnergyAccount account_;
  Snapshot last_;
  uint64_t lastUs_ = 0;
  // The traced pins' levels as of the pads' change count: taken again only after a change.
  mutable uint32_t pins_ = 0;
  mutable uint64_t pinsAtChange_ = UINT64_MAX;
  EventLog events_;
  VcdWriter vcd_;
};

}  // namespace sim
