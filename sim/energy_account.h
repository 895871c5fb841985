// Energy account of a run: the time each part of the board spends in each of its power states,
// multiplied by the currents of docs/energy.md (the table there and kCurrents below are one
// table; a unit test holds them equal).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sim {

enum class Drain : uint8_t {
  mcuRun,
  mcuSleep,
  mcuStandby,
  radioSleepCold,
  radioSleepWarm,
  radioStandbyRc,
  radioStandbyXosc,
  radioFs,
  radioRx,
  radioTx,  // by output power, see txCurrentMa
  frontEnd,
  adc,
  count
};

struct DrainInfo {
  const char* name;  // as the report and docs/energy.md name it
  double currentMa;  // 0 for the transmitter (its current depends on the power)
};

extern const std::array<DrainInfo, static_cast<size_t>(Drain::count)> kCurrents;

// The transmitter's supply current at an output power, with the PA set up for +14 dBm: the
// published +14 dBm figure, and below it a fixed part for synthesiser and PA bias plus a part
// proportional to the radiated milliwatts (an assumption, see docs/energy.md).
double txCurrentMa(int dbm);

class EnergyAccount {
 public:
  static constexpr int kTxMinDbm = -9;
  static constexpr int kTxMaxDbm = 22;

  void add(Drain drain, uint64_t us);
  void addTx(int dbm, uint64_t us);
  uint64_t timeUs(Drain drain) const { return us_[static_cast<size_t>(drain)]; }
  uint64_t txTimeUs(int dbm) const;
  // Charge in microcoulombs (mA x ms = uC... here: mA x s = mC; kept in uC).
  double chargeUc(Drain drain) const;
  double txChargeUc(int dbm) const;
  double totalChargeUc() const;

  // One line of numbers, and back (the account follows a run through its restarts).
  std::string serialise() const;
  bool parse(const std::string& text);

  // The report at the end of a run of `runUs` with `cycles` starts, for a battery of
  // `batteryMah` of which 85 % is usable; `floorUcPerCycle` is the least a cycle can cost.
  // The last line is "energy: average <uA> uA, battery <years> years".
  std::string report(uint64_t runUs, uint64_t cycles, double batteryMah, double floorUcPerCycle) const;

  static constexpr double kUsableFraction = 0.85;
  static double batteryYears(double averageUa, double batteryMah);

 private:
  std::array<uint64_t, static_cast<size_t>(Drain::count)> us_{};
  std::array<uint64_t, kTxMaxDbm - kTxMinDbm + 1> txUs_{};
};

}  // namespace sim
