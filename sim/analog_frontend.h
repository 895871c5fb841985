// The analog front end of the simulated board: the mains scenario (conductor current, power
// factor, harmonics, E-field pick-ups, noise, supply and temperature), the current clamp with
// its magnetising branch, and the voltage each front-end pin presents to the ADC.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <random>
#include <string>

#include "standard_normal.h"
#include "wiring.h"

namespace sim {

constexpr int kMaxHarmonic = 25;

// What the world looks like to the node. Phases in degrees, relative to the mains voltage.
struct Scenario {
  double voltage = 230.0;                           // mains RMS volts (the firmware assumes 230)
  double freq = 50.0;                               // Hz
  double current = 0.0;                             // conductor current, true RMS amperes (harmonics included)
  double pf = 1.0;                                  // displacement power factor; negative: power flows the other way
  bool lead = false;                                // current leads the voltage (capacitive load); default lagging
  std::array<double, kMaxHarmonic + 1> harmonic{};  // [n]: amplitude of harmonic n / fundamental
  double noiseMv = 0.5;                             // front-end noise at each ADC pin, mV RMS
  double ePickMv = 150.0;                           // inductive E-field pick-up at its pin, mV RMS
  double ePhaseDeg = 0.0;                           // its phase relative to the mains voltage
  double eDriftMvPerS = 0;                          // slow drift of the pick-up's baseline
  double eCapMv = 50.0;                             // capacitive E-field pick-up, mV RMS
  double eCapPhaseDeg = 90.0;
  double vdda = 3.3;        // analog supply = ADC reference, volts
  double temperature = 25;  // chip temperature, degrees C
  // A load that changes between cycles: each start of the board scales the current by a factor
  // drawn in [1 - change, 1 + change] (scaledForStart).
  double change = 0;

  // Fundamental RMS current, and how far it lags the voltage (radians; negative: leads). Power
  // flowing the other way turns the whole current over.
  double fundamentalCurrent() const;
  double displacementRad() const;
  // What an ideal meter on the conductor shows.
  double truePowerW() const;
  double truePowerFactor() const;
};

// The scenario of a start at `startUs`: the current scaled by the factor that `change` allows,
// drawn from the seed and the start's virtual time (so a run repeats).
Scenario scaledForStart(const Scenario& scenario, uint64_t seed, uint64_t startUs);

// Parses "key=value" items separated by commas, blanks or new lines ('#' starts a comment),
// applied on top of `scenario`. Keys: voltage freq current pf lead h2..h25 noise epick ephase
// edrift ecap ecapphase vdda temp change. On error returns false with a message naming the item.
bool parseScenario(const std::string& text, Scenario& scenario, std::string& message);
const char* scenarioHelp();

// Current clamp: turns ratio 1000 into the selected burden, with a magnetising branch (core loss
// conductance in parallel with the magnetising susceptance) that depends on how hard the core is
// driven. The branch is characterised per range by the clamp's calibration data: the secondary
// current's ratio error (the clamp mapping) and phase lead versus the secondary current, which
// are the curves the firmware's default tables hold.
class ClampModel {
 public:
  static constexpr double kTurns = 1000.0;

  // Magnetising admittance (siemens, G - jB) at the operating point where the secondary carries
  // `secondaryA` x kTurns amperes RMS.
  static std::complex<double> magnetisingAdmittance(double secondaryTimesTurnsA, double burdenOhm);
  // Secondary / (primary / turns) for harmonic n at that admittance (the susceptance scales 1/n).
  static std::complex<double> ratio(std::complex<double> ym, double burdenOhm, int harmonic);

  struct Response {
    std::array<std::complex<double>, kMaxHarmonic + 1> ratio{};  // per harmonic
    double secondaryTimesTurnsA = 0;                             // RMS secondary current x turns (what the node reads)
  };
  // Operating point for a primary current with the given RMS per harmonic ([1] fundamental).
  static Response solve(const std::array<double, kMaxHarmonic + 1>& primaryRms, double burdenOhm);
};

class Gpio;

// Voltages at the front end's ADC pins. The front end runs from its supply switch; the range optos
// connect the clamp's burdens (20 ohm for high power, 270 ohm for low power).
class AnalogFrontEnd {
 public:
  // The lines of the board the front end is wired to: its supply and range switches, and the ADC
  // inputs of the clamp's two ranges, its low side and the two E-field pick-ups.
  struct Pins {
    Wiring::Line supply, rangeHighPower, rangeLowPower;
    Wiring::Line clampHighPower, clampLowPower, clampLowSide, eFieldCapacitive, eFieldInductive;
  };

  AnalogFrontEnd(uint64_t seed, const Pins& pins) : pins_(pins), rng_(seed ^ 0xA5A5F00Du) {}

  const Scenario& scenario() const { return scenario_; }
  void setScenario(const Scenario& s);

  // Voltage at ADC channel `channel`'s pin at virtual time t (seconds), or a negative value when
  // the front end does not drive that pin.
  double channelVoltage(int channel, double t, const Gpio& gpio);

 private:
  struct Clamp {
    double burden = -1;
    ClampModel::Response response;
  };
  double clampVoltage(double burden, double t);
  double drift(double t) const;
  double noise();

  Pins pins_;
  Scenario scenario_;
  Clamp clamp_;
  std::mt19937_64 rng_;
  StandardNormal gauss_;
};

}  // namespace sim
