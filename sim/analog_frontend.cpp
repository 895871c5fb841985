// Mains scenario, current clamp and E-field pick-ups of the simulated board's analog front end.
#include "analog_frontend.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "clamp_curves.h"
#include "flashconfig.h"
#include "table_point.h"
#include "gpio_model.h"

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kHpBurden = 20.0;
constexpr double kLpBurden = 270.0;

double harmonicSum(const Scenario& s) {
  double sum = 1.0;
  for (int n = 2; n <= kMaxHarmonic; ++n) sum += s.harmonic[n] * s.harmonic[n];
  return sum;
}

struct Key {
  const char* name;
  double min, max;
  double Scenario::*field;
};
const Key kKeys[] = {
    {"voltage", 0, 500, &Scenario::voltage},     {"freq", 40, 70, &Scenario::freq},
    {"current", 0, 200, &Scenario::current},     {"pf", -1, 1, &Scenario::pf},
    {"noise", 0, 100, &Scenario::noiseMv},       {"epick", 0, 1500, &Scenario::ePickMv},
    {"ephase", -360, 360, &Scenario::ePhaseDeg}, {"edrift", -1000, 1000, &Scenario::eDriftMvPerS},
    {"ecap", 0, 1500, &Scenario::eCapMv},        {"ecapphase", -360, 360, &Scenario::eCapPhaseDeg},
    {"vdda", 1.7, 3.6, &Scenario::vdda},         {"temp", -40, 125, &Scenario::temperature},
    {"change", 0, 0.9, &Scenario::change},
};

bool parseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && std::isfinite(out);
}

}  // namespace

double Scenario::fundamentalCurrent() const { return current / std::sqrt(harmonicSum(*this)); }

double Scenario::displacementRad() const {
  const double phi = std::acos(std::fabs(pf));
  return lead ? -phi : phi;
}

double Scenario::truePowerW() const { return voltage * fundamentalCurrent() * pf; }

double Scenario::truePowerFactor() const { return current > 0 ? pf / std::sqrt(harmonicSum(*this)) : 0.0; }

const char* scenarioHelp() {
  return "  scenario keys (key=value, comma separated):\n"
         "    voltage V  freq Hz  current A(rms)  pf -1..1 (negative: power flows back)  lead 0|1\n"
         "    h2..h25 (harmonic / fundamental)  noise mV  epick mV  ephase deg  edrift mV/s\n"
         "    ecap mV  ecapphase deg  vdda V  temp C  change 0..0.9 (the current changes by up to\n"
         "    this share at every start)\n";
}

Scenario scaledForStart(const Scenario& scenario, uint64_t seed, uint64_t startUs) {
  Scenario s = scenario;
  if (s.change <= 0) return s;
  // splitmix64 of the seed and the time: a uniform draw in [-1, 1).
  uint64_t z = seed * 0x9E3779B97F4A7C15ull + startUs + 0x632BE59BD9B4E019ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  const double u = static_cast<double>(z >> 11) / static_cast<double>(1ull << 52) - 1.0;
  s.current *= 1.0 + s.change * u;
  return s;
}

bool parseScenario(const std::string& text, Scenario& scenario, std::string& message) {
  std::string cleaned;
  bool comment = false;
  for (char c : text) {
    if (c == '#') comment = true;
    if (c == '\n') comment = false;
    if (comment) continue;
    cleaned += (c == ',' || c == ';' || c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
  }
  Scenario s = scenario;
  std::istringstream in(cleaned);
  std::string item;
  while (in >> item) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) {
      message = "scenario item '" + item + "' is not key=value";
      return false;
    }
    const std::string key = item.substr(0, eq);
    double v = 0;
    if (!parseNumber(item.substr(eq + 1), v)) {
      message = "scenario item '" + item + "' needs a number";
      return false;
    }
    bool known = false;
    for (const Key& k : kKeys) {
      if (key != k.name) continue;
      if (v < k.min || v > k.max) {
        std::ostringstream m;
        m << "scenario " << key << " must be " << k.min << ".." << k.max;
        message = m.str();
        return false;
      }
      s.*k.field = v;
      known = true;
    }
    if (!known && key == "lead") {
      if (v != 0 && v != 1) {
        message = "scenario lead must be 0 or 1";
        return false;
      }
      s.lead = v == 1;
      known = true;
    }
    if (!known && key.size() >= 2 && key[0] == 'h') {
      char* end = nullptr;
      const long n = std::strtol(key.c_str() + 1, &end, 10);
      if (*end == '\0' && n >= 2 && n <= kMaxHarmonic) {
        if (v < 0 || v > 1) {
          message = "scenario " + key + " must be 0..1 (fraction of the fundamental)";
          return false;
        }
        s.harmonic[n] = v;
        known = true;
      }
    }
    if (!known) {
      message = "scenario has no key '" + key + "'";
      return false;
    }
  }
  scenario = s;
  return true;
}

std::complex<double> ClampModel::magnetisingAdmittance(double secondaryTimesTurnsA, double burdenOhm) {
  // Ratio error and phase lead of the clamp at this secondary current, from its calibration
  // curves; beyond the last calibration point the ratio stays at its last value.
  const ClampMapping& mapping = kDefaultClampMapping;
  const double lastIn = mapping.back().input;
  const double x = secondaryTimesTurnsA;
  double gain = 0;
  if (x >= lastIn) {
    gain = lastIn / mapping.back().output;
  } else if (x <= mapping.front().input) {
    gain = mapping.front().input / mapping.front().output;
  } else {
    gain = x / interpolateFromTable(mapping.data(), mapping.size(), static_cast<float>(x));
  }
  const double lead =
      clampPhaseShiftRad(static_cast<float>(std::max(x, 1e-6)), static_cast<uint16_t>(std::lround(burdenOhm)));
  // Secondary = (primary / turns) / (1 + Rb Ym): the branch that gives this ratio and lead.
  const std::complex<double> onePlus = std::polar(1.0 / gain, -lead);
  const std::complex<double> ym = (onePlus - 1.0) / burdenOhm;
  // A branch cannot give power back: where the two curves ask for that (the low range below a few
  // milliamperes), the core loss stays at zero.
  return {std::max(ym.real(), 0.0), ym.imag()};
}

std::complex<double> ClampModel::ratio(std::complex<double> ym, double burdenOhm, int harmonic) {
  const std::complex<double> ymN(ym.real(), ym.imag() / harmonic);
  return 1.0 / (1.0 + burdenOhm * ymN);
}

ClampModel::Response ClampModel::solve(const std::array<double, kMaxHarmonic + 1>& primaryRms, double burdenOhm) {
  // The branch depends on the secondary current it helps to set: find the secondary RMS that
  // reproduces itself (the ratio magnitude never exceeds 1, so the root lies below the primary).
  auto secondaryAt = [&](double x, Response* out) {
    const std::complex<double> ym = magnetisingAdmittance(x, burdenOhm);
    double sum = 0;
    for (int n = 1; n <= kMaxHarmonic; ++n) {
      const std::complex<double> k = ratio(ym, burdenOhm, n);
      if (out != nullptr) out->ratio[n] = k;
      sum += std::norm(k) * primaryRms[n] * primaryRms[n];
    }
    return std::sqrt(sum);
  };
  double total = 0;
  for (double v : primaryRms) total += v * v;
  total = std::sqrt(total);
  double lo = 0, hi = total;
  for (int i = 0; i < 80; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (mid - secondaryAt(mid, nullptr) < 0)
      lo = mid;
    else
      hi = mid;
  }
  Response r;
  r.secondaryTimesTurnsA = 0.5 * (lo + hi);
  secondaryAt(r.secondaryTimesTurnsA, &r);
  return r;
}

void AnalogFrontEnd::setScenario(const Scenario& s) {
  scenario_ = s;
  clamp_.burden = -1;  // recompute the clamp's operating point
}

double AnalogFrontEnd::drift(double t) const {
  // A slow wander of the pick-up's baseline (10 s period) whose steepest slope is edrift.
  constexpr double kPeriodS = 10.0;
  return scenario_.eDriftMvPerS * 1e-3 * kPeriodS / (2 * kPi) * std::sin(2 * kPi * t / kPeriodS);
}

double AnalogFrontEnd::noise() { return gauss_(rng_) * scenario_.noiseMv * 1e-3; }

double AnalogFrontEnd::clampVoltage(double burden, double t) {
  const Scenario& s = scenario_;
  if (clamp_.burden != burden) {
    std::array<double, kMaxHarmonic + 1> primary{};
    const double i1 = s.fundamentalCurrent();
    primary[1] = i1;
    for (int n = 2; n <= kMaxHarmonic; ++n) primary[n] = i1 * s.harmonic[n];
    clamp_.response = ClampModel::solve(primary, burden);
    clamp_.burden = burden;
  }
  const double w = 2 * kPi * s.freq;
  const double phi = s.displacementRad();
  const double i1 = s.fundamentalCurrent();
  double is = 0;
  for (int n = 1; n <= kMaxHarmonic; ++n) {
    const double amp = n == 1 ? i1 : i1 * s.harmonic[n];
    if (amp == 0) continue;
    const std::complex<double> k = clamp_.response.ratio[n];
    is += std::abs(k) * amp * std::sqrt(2.0) * std::sin(n * (w * t - phi) + std::arg(k));
  }
  if (s.pf < 0) is = -is;  // power flowing the other way: the current is turned over
  return is / ClampModel::kTurns * burden;
}

double AnalogFrontEnd::channelVoltage(int channel, double t, const Gpio& gpio) {
  const Scenario& s = scenario_;
  const double mid = s.vdda / 2;
  const bool powered = gpio.level(pins_.supply);
  const bool clampHp = channel == pins_.clampHighPower.adcChannel;
  const bool clampLp = channel == pins_.clampLowPower.adcChannel;
  const bool lowSide = channel == pins_.clampLowSide.adcChannel;
  const bool eCap = channel == pins_.eFieldCapacitive.adcChannel;
  const bool eInd = channel == pins_.eFieldInductive.adcChannel;
  if (!(clampHp || clampLp || lowSide || eCap || eInd)) return -1;
  if (!powered) return mid;  // dead stage: the bias divider alone, no signal
  const double w = 2 * kPi * s.freq;
  if (clampHp || clampLp) {
    const bool hp = gpio.level(pins_.rangeHighPower);
    const bool lp = gpio.level(pins_.rangeLowPower);
    // Each range's pin sits on its own burden; with both optos on, the burdens are in parallel.
    double burden = 0;
    if (hp && lp)
      burden = kHpBurden * kLpBurden / (kHpBurden + kLpBurden);
    else if (hp)
      burden = kHpBurden;
    else if (lp)
      burden = kLpBurden;
    const bool mine = clampHp ? hp : lp;
    // No burden switched in: the clamp's protection shorts the secondary.
    const double signal = (mine && burden > 0) ? clampVoltage(burden, t) : 0.0;
    return mid + signal + noise();
  }
  if (lowSide) return mid + noise();  // the clamp's low side, on the bias
  if (eCap) return mid + s.eCapMv * 1e-3 * std::sqrt(2.0) * std::sin(w * t + s.eCapPhaseDeg * kDeg) + noise();
  return mid + s.ePickMv * 1e-3 * std::sqrt(2.0) * std::sin(w * t + s.ePhaseDeg * kDeg) + drift(t) + noise();
}

}  // namespace sim
