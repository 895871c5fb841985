// The simulated analog front end: scenario text, the clamp model against the firmware's
// compensation data, and the truth a scenario stands for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "analog_frontend.h"
#include "clamp_curves.h"
#include "flashconfig.h"
#include "standard_normal.h"

namespace {

TEST(Scenario, ParsesItemsAndRefusesBadOnes) {
  sim::Scenario s;
  std::string why;
  ASSERT_TRUE(sim::parseScenario("current=5, pf=-0.8\nlead=1 h3=0.1 # a comment, noise=9\nephase=30", s, why)) << why;
  EXPECT_DOUBLE_EQ(s.current, 5);
  EXPECT_DOUBLE_EQ(s.pf, -0.8);
  EXPECT_TRUE(s.lead);
  EXPECT_DOUBLE_EQ(s.harmonic[3], 0.1);
  EXPECT_DOUBLE_EQ(s.noiseMv, 0.5);  // commented out
  EXPECT_DOUBLE_EQ(s.ePhaseDeg, 30);
  const char* bad[] = {"curent=5", "current=", "current=abc", "pf=1.5", "h1=0.2", "h26=0.1", "lead=2", "current"};
  for (const char* b : bad) {
    sim::Scenario t;
    EXPECT_FALSE(sim::parseScenario(b, t, why)) << b;
    EXPECT_FALSE(why.empty());
  }
}

TEST(Scenario, TruthOfPowerAndPowerFactor) {
  sim::Scenario s;
  s.current = 10;
  s.pf = -0.5;
  EXPECT_NEAR(s.truePowerW(), -1150, 1e-9);
  EXPECT_NEAR(s.truePowerFactor(), -0.5, 1e-12);
  s.pf = 1;
  s.harmonic[3] = 0.75;  // RMS 1.25 x fundamental
  EXPECT_NEAR(s.fundamentalCurrent(), 8.0, 1e-12);
  EXPECT_NEAR(s.truePowerFactor(), 0.8, 1e-12);
}

// A changing load: each start draws its factor within the bounds, from the seed and the start's
// time alone, and over many starts covers the whole span around the scenario's current.
TEST(Scenario, ChangingLoadStaysWithinItsSpanAndRepeats) {
  sim::Scenario s;
  std::string why;
  ASSERT_TRUE(sim::parseScenario("current=5 change=0.5", s, why)) << why;
  EXPECT_DOUBLE_EQ(sim::scaledForStart(s, 3, 600'000'000).current, sim::scaledForStart(s, 3, 600'000'000).current);
  EXPECT_NE(sim::scaledForStart(s, 3, 600'000'000).current, sim::scaledForStart(s, 4, 600'000'000).current);
  double low = 1e9, high = 0, sum = 0;
  const int starts = 2000;
  for (int i = 0; i < starts; ++i) {
    const double c = sim::scaledForStart(s, 3, static_cast<uint64_t>(i) * 599'040'000).current;
    low = std::min(low, c);
    high = std::max(high, c);
    sum += c;
  }
  EXPECT_GE(low, 2.5);
  EXPECT_LT(high, 7.5);
  EXPECT_LT(low, 2.6);
  EXPECT_GT(high, 7.4);
  EXPECT_NEAR(sum / starts, 5.0, 0.1);
  s.change = 0;
  EXPECT_DOUBLE_EQ(sim::scaledForStart(s, 3, 1).current, 5.0);
  EXPECT_FALSE(sim::parseScenario("change=1", s, why));
}

// The firmware's tables, taken as a description of the clamp: at every calibration point the
// model's secondary current is the uncorrected current whose mapping is the true current, and its
// lead is the table's phase.
TEST(ClampModel, ReadsBackTheCompensationData) {
  for (double burden : {20.0, 270.0}) {
    const auto& phase = burden == 270.0 ? ClampPhaseMappingLp : clampPhaseMappingHp;
    for (const TablePoint& p : kDefaultClampMapping) {
      if (p.input < 0.01f || p.input > 50.0f) continue;
      std::array<double, sim::kMaxHarmonic + 1> primary{};
      primary[1] = p.output;  // the true current
      const auto r = sim::ClampModel::solve(primary, burden);
      EXPECT_NEAR(r.secondaryTimesTurnsA, p.input, p.input * 1e-5) << burden << " ohm, " << p.output << " A";
      const double lead = interpolateFromTable(phase.data(), phase.size(), p.input);
      EXPECT_NEAR(std::arg(r.ratio[1]), lead, 1e-5) << burden << " ohm, " << p.output << " A";
    }
  }
}

TEST(ClampModel, MagnetisingBranchIsPassive) {
  // Core loss conductance never negative and magnetising susceptance positive over the whole
  // range, so the secondary never exceeds the ideal ratio and always leads.
  for (double burden : {20.0, 270.0}) {
    for (double i = 0.0005; i < 80; i *= 1.3) {
      const auto ym = sim::ClampModel::magnetisingAdmittance(i, burden);
      EXPECT_GE(ym.real(), 0) << i;
      EXPECT_LT(ym.imag(), 0) << i;  // inductive: G - jB
      for (int n : {1, 3, 5}) {
        const auto k = sim::ClampModel::ratio(ym, burden, n);
        EXPECT_LE(std::abs(k), 1.0);
        EXPECT_GT(std::arg(k), 0.0);
      }
    }
  }
}

// The models' noise must draw what the library's normal distribution draws from the same engine:
// recorded runs depend on every value. (Seeds of both models and an edge one.)
TEST(StandardNormal, DrawsWhatTheLibraryDraws) {
  for (uint64_t seed : {uint64_t{0xA5A5F00D}, uint64_t{7 * 0x2545F4914F6CDD1Dull + 7}, uint64_t{0}}) {
    std::mt19937_64 ours(seed), theirs(seed);
    sim::StandardNormal gauss;
    std::normal_distribution<double> reference{0.0, 1.0};
    for (int i = 0; i < 200000; ++i) {
      const double a = gauss(ours), b = reference(theirs);
      ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "seed " << seed << " draw " << i << ": " << a << " vs " << b;
    }
  }
}

}  // namespace
