// Energy account of a run.
#include "energy_account.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <sstream>

namespace sim {

namespace {
constexpr size_t kDrains = static_cast<size_t>(Drain::count);
constexpr double kTxPublishedDbm = 14.0;
constexpr double kTxPublishedMa = 45.0;
constexpr double kTxFixedMa = 20.0;
constexpr double kHoursPerYear = 24.0 * 365.0;

std::string formatLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatLine(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}
}  // namespace

const std::array<DrainInfo, kDrains> kCurrents = {{
    {"MCU run", 1.8},
    {"MCU sleep (WFI)", 1.7},
    {"MCU standby", 0.0018},
    {"radio sleep (cold)", 0.00016},
    {"radio sleep (warm)", 0.0006},
    {"radio standby RC", 0.6},
    {"radio standby XOSC", 0.8},
    {"radio FS", 2.1},
    {"radio RX", 4.2},
    {"radio TX", 0.0},
    {"front end (stage 1)", 1.0},
    {"ADC converting", 0.2},
}};

double txCurrentMa(int dbm) {
  const double radiated = std::pow(10.0, (dbm - kTxPublishedDbm) / 10.0);
  return kTxFixedMa + (kTxPublishedMa - kTxFixedMa) * radiated;
}

void EnergyAccount::add(Drain drain, uint64_t us) { us_[static_cast<size_t>(drain)] += us; }

void EnergyAccount::addTx(int dbm, uint64_t us) {
  if (dbm < kTxMinDbm) dbm = kTxMinDbm;
  if (dbm > kTxMaxDbm) dbm = kTxMaxDbm;
  txUs_[static_cast<size_t>(dbm - kTxMinDbm)] += us;
  add(Drain::radioTx, us);
}

uint64_t EnergyAccount::txTimeUs(int dbm) const {
  if (dbm < kTxMinDbm || dbm > kTxMaxDbm) return 0;
  return txUs_[static_cast<size_t>(dbm - kTxMinDbm)];
}

double EnergyAccount::txChargeUc(int dbm) const {
  return static_cast<double>(txTimeUs(dbm)) * txCurrentMa(dbm) / 1000.0;
}

double EnergyAccount::chargeUc(Drain drain) const {
  if (drain == Drain::radioTx) {
    double sum = 0;
    for (int dbm = kTxMinDbm; dbm <= kTxMaxDbm; ++dbm) sum += txChargeUc(dbm);
    return sum;
  }
  // mA x us = nC; / 1000 gives uC.
  return static_cast<double>(timeUs(drain)) * kCurrents[static_cast<size_t>(drain)].currentMa / 1000.0;
}

double EnergyAccount::totalChargeUc() const {
  double sum = 0;
  for (size_t i = 0; i < kDrains; ++i) sum += chargeUc(static_cast<Drain>(i));
  return sum;
}

std::string EnergyAccount::serialise() const {
  std::ostringstream out;
  for (uint64_t v : us_) out << v << ' ';
  for (uint64_t v : txUs_) out << v << ' ';
  return out.str();
}

bool EnergyAccount::parse(const std::string& text) {
  std::istringstream in(text);
  EnergyAccount read;
  for (uint64_t& v : read.us_) {
    if (!(in >> v)) return false;
  }
  for (uint64_t& v : read.txUs_) {
    if (!(in >> v)) return false;
  }
  *this = read;
  return true;
}

double EnergyAccount::batteryYears(double averageUa, double batteryMah) {
  if (!(averageUa > 0)) return INFINITY;
  return batteryMah * kUsableFraction / (averageUa / 1000.0) / kHoursPerYear;
}

std::string EnergyAccount::report(uint64_t runUs, uint64_t cycles, double batteryMah, double floorUcPerCycle) const {
  const double runS = static_cast<double>(runUs) / 1e6;
  const double total = totalChargeUc();
  const double perCycleDiv = cycles > 0 ? static_cast<double>(cycles) : 1.0;
  std::string out = formatLine("energy account: %.3f s of virtual time, %llu cycles (starts of the firmware)\n", runS,
                               static_cast<unsigned long long>(cycles));
  out += formatLine("  %-22s %14s %12s %14s %15s %7s\n", "component", "time (s)", "current (mA)", "charge (mC)",
                    "per cycle (uC)", "share");
  auto row = [&](const std::string& name, uint64_t us, double ma, double uc) {
    if (us == 0) return;
    out += formatLine("  %-22s %14.6f %12.5f %14.6f %15.3f %6.2f %%\n", name.c_str(), static_cast<double>(us) / 1e6, ma,
                      uc / 1000.0, uc / perCycleDiv, total > 0 ? 100.0 * uc / total : 0.0);
  };
  for (size_t i = 0; i < kDrains; ++i) {
    const Drain d = static_cast<Drain>(i);
    if (d == Drain::radioTx) {
      for (int dbm = kTxMaxDbm; dbm >= kTxMinDbm; --dbm) {
        row(formatLine("radio TX %+d dBm", dbm), txTimeUs(dbm), txCurrentMa(dbm), txChargeUc(dbm));
      }
      continue;
    }
    row(kCurrents[i].name, timeUs(d), kCurrents[i].currentMa, chargeUc(d));
  }
  const double averageUa = runS > 0 ? total / runS : 0.0;
  out += formatLine("  %-22s %14.6f %12s %14.6f %15.3f\n", "total", runS, "", total / 1000.0, total / perCycleDiv);
  const double floorUa = runS > 0 ? floorUcPerCycle * static_cast<double>(cycles) / runS : 0.0;
  out += formatLine(
      "  floor (frames on air at their power, one full capture, standby between): %.3f uC per cycle, "
      "%.3f uA average, %.2f years\n",
      floorUcPerCycle, floorUa, batteryYears(floorUa, batteryMah));
  out += formatLine("battery: %.0f mAh, %.0f %% usable\n", batteryMah, kUsableFraction * 100.0);
  out += formatLine("energy: average %.3f uA, battery %.2f years\n", averageUa, batteryYears(averageUa, batteryMah));
  return out;
}

}  // namespace sim
