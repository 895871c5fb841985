// Accuracy of the whole measurement chain: scenarios on the simulated front end, read through
// the firmware's own acquisition and analysis, against the truth of the scenario. The phase
// correction is calibrated for each E-field pick-up as docs/measurement.md describes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "adc_model.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "measure_bench.h"

using namespace testing_support;

namespace {

constexpr int kReadings = 24;  // per scenario, starting at evenly spread points of the mains cycle

// The product's bounds: current 1 % from 5 A (3 % from 1 A), power factor 0.02 and active power
// 2 %, the last two where |PF| >= 0.5.
struct Bounds {
  double currentPct;
  double pf;
  double powerPct;
};
Bounds productBounds(double current) { return Bounds{current >= 5 ? 1.0 : 3.0, 0.02, 2.0}; }

// Scenarios on which the node meets the product's bounds.
const char* const kWithinBounds[] = {
    "current=2",
    "current=3.5",
    "current=5",
    "current=10",
    "current=20",
    "current=30",
    "current=40",
    "current=5,pf=0.8",
    "current=10,pf=0.8,lead=1",
    "current=40,pf=0.8",
    "current=5,pf=-1",
    "current=10,pf=-0.8",
    "current=40,pf=-0.9",
    "current=15,pf=0.9,h3=0.15,h5=0.08,h7=0.04",
    "current=10,pf=0.8,edrift=40",
    "current=10,pf=0.8,ephase=40,epick=60",
    "current=10,pf=0.8,vdda=3.0,temp=-10",
    "current=10,pf=0.8,vdda=3.6,temp=70",
};

struct Worst {
  double currentPct = 0, pf = 0, powerPct = 0;
  bool signWrong = false;
};

class Accuracy : public ::testing::Test {
 protected:
  void SetUp() override { bringUpMeasurementBoard(); }

  // The calibrated correction for a pick-up (calibrated once per pick-up, as a user would).
  float correctionFor(const sim::Scenario& s) {
    const std::string key =
        std::to_string(s.ePhaseDeg) + "/" + std::to_string(s.ePickMv) + "/" + std::to_string(s.vdda);
    auto it = corrections_.find(key);
    if (it != corrections_.end()) return it->second;
    const float c = calibratePhaseCorrection(s);
    corrections_[key] = c;
    return c;
  }

  // The worst errors of kReadings readings of a scenario, each started at its own point of the
  // mains cycle; one row of the printed table.
  Worst worstOf(const sim::Scenario& s, const char* items) {
    setScenario(s);
    calibrateVRef();  // the supply may differ between scenarios
    setGstate().config.inductive50HzPhaseCorrection = correctionFor(s);
    setScenario(s);
    Worst w;
    for (int r = 0; r < kReadings; ++r) {
      waitForMainsPhase(r, kReadings);
      EXPECT_TRUE(highPowerReading()) << items;
      const GState& g = gstate();
      const double iErr = 100.0 * std::fabs(g.currCorrected - s.current) / s.current;
      const double pTrue = s.truePowerW();
      const double pErr = 100.0 * std::fabs(g.power.estimatedPower - pTrue) / std::fabs(pTrue);
      const double pfErr = std::fabs(g.power.powerFactor - s.truePowerFactor());
      w.currentPct = std::max(w.currentPct, iErr);
      w.powerPct = std::max(w.powerPct, pErr);
      w.pf = std::max(w.pf, pfErr);
      if ((g.power.estimatedPower < 0) != (pTrue < 0)) w.signWrong = true;
    }
    std::printf("%-44s %9.3f %8.3f %9.1f %7.3f %9.4f %8.4f\n", items, s.current, w.currentPct, s.truePowerW(),
                w.powerPct, s.truePowerFactor(), w.pf);
    return w;
  }

  // Reads each scenario and checks it against the bounds given (power factor, power and sign
  // only where |PF| >= 0.5).
  void expectWithin(const char* items, const Bounds& b) {
    const sim::Scenario s = scenarioFrom(items);
    ASSERT_GE(s.current, 0) << items;
    const Worst w = worstOf(s, items);
    EXPECT_LE(w.currentPct, b.currentPct) << items;
    if (std::fabs(s.truePowerFactor()) >= 0.5) {
      EXPECT_LE(w.pf, b.pf) << items;
      EXPECT_LE(w.powerPct, b.powerPct) << items;
      EXPECT_FALSE(w.signWrong) << items;
    }
  }

  std::map<std::string, float> corrections_;
};

void printHeader() {
  std::printf("%-44s %9s %8s %9s %7s %9s %8s\n", "scenario", "I true", "I err%", "P true", "P err%", "PF true",
              "PF err");
}

TEST_F(Accuracy, TableOfScenariosWithinTheProductsBounds) {
  printHeader();
  for (const char* items : kWithinBounds) expectWithin(items, productBounds(scenarioFrom(items).current));
}

// Known limits of the node's algorithm (docs/measurement.md): each names what misses the product's
// bound, asserts the bounds it does meet and the error measured where it does not.

// At 1 A the RMS in counts carries +0.5 count (about 2.5 % of the reading), which the power,
// taken from the fundamental, does not: the current's worst reading is 3.01 % and the power
// factor reads 0.023 low.
TEST_F(Accuracy, KnownLimitAtOneAmpTheHalfCountOffsetTakesTheCurrentJustPastThreePercent) {
  printHeader();
  expectWithin("current=1", Bounds{3.05, 0.03, 2.0});
}

// Between |PF| 0.5 and 0.7 the drift fit on the E-field capture also takes out part of the 50 Hz
// signal and bends the voltage phase by up to about 0.018 rad; tan(phi) turns that into up to
// 3.8 % of power at PF 0.5 (plus about 0.7 % from the clamp mapping applied to I cos(phi)), and
// the power factor reads up to 0.021 off. The current stays within its bound.
TEST_F(Accuracy, KnownLimitNearPowerFactorOneHalfTheDriftFitBendsThePhase) {
  printHeader();
  for (const char* items : {"current=5,pf=0.5", "current=20,pf=0.5,lead=1", "current=40,pf=0.5",
                            "current=25,pf=-0.5,lead=1"}) {
    expectWithin(items, Bounds{1.0, 0.025, 4.0});
  }
  expectWithin("current=10,pf=-0.7,ephase=-75,epick=400", Bounds{1.0, 0.025, 3.5});
}

// 3.7 LSB of noise on every conversion: current and power factor within their bounds, the power
// up to 2.5 %.
TEST_F(Accuracy, KnownLimitNoiseOfFourCountsWidensThePowerError) {
  printHeader();
  expectWithin("current=10,pf=0.8,noise=3", Bounds{1.0, 0.02, 2.5});
}

TEST_F(Accuracy, SupplyVoltageAndTemperature) {
  const struct {
    double vdda, temp;
  } cases[] = {{1.8, 25}, {2.8, -20}, {3.0, 30}, {3.3, 25}, {3.6, 85}, {3.25, 0}, {3.4, 60}};
  for (const auto& c : cases) {
    sim::Scenario s;
    s.vdda = c.vdda;
    s.temperature = c.temp;
    setScenario(s);
    calibrateVRef();
    const float t = getTemperature();
    std::printf("vdda %.3f V -> %.4f V   temp %.1f C -> %.3f C\n", c.vdda, gstate().adc.VRef, c.temp, t);
    EXPECT_NEAR(gstate().adc.VRef, c.vdda, 0.010) << c.vdda;
    EXPECT_NEAR(t, c.temp, 1.0) << c.temp;
  }
}

}  // namespace
