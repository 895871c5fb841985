// Conversions, table interpolation, clamp compensation and the power result on synthetic captures.
#include <gtest/gtest.h>

#include <cmath>

#include "clamp_phase_comp.h"
#include "functions.h"
#include "gstate.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kW = 2.0 * kPi * 50.0 * 4.0 * 173.0 / 2000000.0;

TEST(InterpolateFromTable, ClampsAtBothEndsAndHitsPoints) {
  const TablePoint t[] = {{1, 10}, {2, 20}, {4, 0}};
  const struct { float in, out; } cases[] = {{-5, 10}, {1, 10}, {1.5f, 15}, {2, 20}, {3, 10}, {4, 0}, {100, 0}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(interpolateFromTable(t, 3, c.in), c.out) << c.in;
  EXPECT_FLOAT_EQ(interpolateFromTable(t, 0, 1.5f), 0.0f);
  EXPECT_FLOAT_EQ(interpolateFromTable(t, 1, 99.0f), 10.0f);
  EXPECT_FLOAT_EQ(interpolateFromTable(nullptr, 3, 1.5f), 0.0f);
}

TEST(SplitFloat6, IntegerAndFractionDigits) {
  const struct {
    float v;
    uint8_t digits;
    int16_t integer;
    int32_t decimal;
  } cases[] = {{-12.05f, 2, -12, 5}, {-0.5f, 4, 0, 5000},         {3.25f, 3, 3, 250}, {2890.1736f, 3, 2890, 173},
               {0.0f, 6, 0, 0},      {40000.0f, 0, -25536, 65536}};  // the integer part wraps, the fraction shows it
  for (const auto& c : cases) {
    const SplitFloat s = splitFloat6(c.v, c.digits);
    EXPECT_EQ(s.integer, c.integer) << c.v;
    EXPECT_EQ(s.decimal, c.decimal) << c.v;
  }
  // Out-of-range and NaN values stay defined (no undefined conversion).
  EXPECT_EQ(splitFloat6(NAN, 4).integer, 0);
  EXPECT_GE(splitFloat6(1e30f, 4).decimal, 0);
}

TEST(Conversions, CountsVoltsAndCurrent) {
  EXPECT_FLOAT_EQ(toV(4096, 3.3f), 3.3f);
  EXPECT_FLOAT_EQ(toV(2048.0f, 3.0f), 1.5f);
  EXPECT_FLOAT_EQ(volt2current(0.2f, 20), 10.0f);
  EXPECT_FLOAT_EQ(volt2current(0.27f, 270), 1.0f);
  EXPECT_FLOAT_EQ(volt2current(0.2f, 0), 0.0f);  // no range read yet
  GState::make();
  setGstate().adc.VRef = 3.3f;
  EXPECT_EQ(tomV(2048), 1650);
  EXPECT_EQ(tomV(-1), 0);  // -0.8 mV truncated toward zero
}

TEST(ClampPhase, ShiftLimits) {
  EXPECT_FLOAT_EQ(clampPhaseShiftRad(0.0f, 270), 0.0f);
  EXPECT_FLOAT_EQ(clampPhaseShiftRad(-3.0f, 20), 0.0f);
  EXPECT_FLOAT_EQ(clampPhaseShiftRad(0.1f, 20), 0.15840608f);
  EXPECT_FLOAT_EQ(clampPhaseShiftRad(100.0f, 20), 0.08517206f);
  EXPECT_FLOAT_EQ(clampPhaseShiftRad(0.1f, 270), 0.49427724f);
  EXPECT_FLOAT_EQ(clampPhaseShiftRad(9.282f, 0), 0.10716321f);  // any burden but 270 is high power
  EXPECT_NEAR(clampCorrectedBPhaseRad(-3.1f, 0.1f, 20), normalizePhaseRad(-3.1f - 0.15840608f), 1e-6);
}

// A synthetic capture: clamp current of `amplitude` counts at phase `theta`, and the inductive
// E-field at phase `ePhase`.
class PowerCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    GState::make();
    setGstate().adc.VRef = 3.3f;
    setGstate().chanBField.burdenResistor = 20;
  }
  void fill(double amplitude, double theta, double ePhase, double eAmplitude = 300) {
    ADC_& adc = setGstate().adc;
    adc.buf.size2use = 231;
    for (uint16_t i = 0; i < 231; ++i) {
      const auto b = static_cast<int16_t>(std::lround(2048 + amplitude * std::sin(i * kW + theta)));
      const auto e = static_cast<int16_t>(std::lround(2048 + eAmplitude * std::sin(i * kW + ePhase)));
      adc.buf[i] = ADCStruct{b, 2048, 2048, e};
    }
  }
};

TEST_F(PowerCapture, SignFollowsTheAngleBeyondHalfPi) {
  setGstate().config.inductive50HzPhaseCorrection = 0.5f;  // not automatic
  // The voltage (E-field phase + fixed correction + configured correction) at 0; the current,
  // seen through the clamp's lead (about 0.1 rad at 11 A), well beyond pi/2 from it.
  for (double theta : {2.0, -2.2, 3.0}) {
    fill(400, theta + 0.1, 0.05434955 - 0.5);
    ASSERT_TRUE(computePowerFast());
    EXPECT_LT(gstate().power.estimatedPower, 0.0f) << theta;
    EXPECT_LE(gstate().power.powerFactor, 0.0f) << theta;
  }
  // A positive raw integral does not decide: the angle does.
  finalizeActivePowerFromRaw(100.0f, 10.0f, true, 2.6f, 0.0f);  // shift 2.6 - 0.5 > pi/2
  EXPECT_LT(gstate().power.estimatedPower, 0.0f);
  finalizeActivePowerFromRaw(-100.0f, 10.0f, false, 0.0f, 0.0f);
  EXPECT_LT(gstate().power.estimatedPower, 0.0f);
  finalizeActivePowerFromRaw(100.0f, 10.0f, true, 1.5f, 0.0f);
  EXPECT_GT(gstate().power.estimatedPower, 0.0f);
}

TEST_F(PowerCapture, PowerFactorIsClippedToOne) {
  // |raw| / 230 maps above the mapped current: PF computed above 1 is reported as 1.
  finalizeActivePowerFromRaw(230.0f * 20.0f, 10.0f, false, 0.0f, 0.0f);
  EXPECT_FLOAT_EQ(gstate().power.powerFactor, 1.0f);
  finalizeActivePowerFromRaw(-230.0f * 20.0f, 10.0f, false, 0.0f, 0.0f);
  EXPECT_FLOAT_EQ(gstate().power.powerFactor, -1.0f);
}

TEST_F(PowerCapture, InPhaseCurrentGivesItsPowerAndUnityPowerFactor) {
  setGstate().config.inductive50HzPhaseCorrection = 0.5f;
  const float lead = 0.1f;  // roughly the clamp's lead at this current
  fill(400, 0.3 + lead, 0.3 + 0.05434955 - 0.5);
  ASSERT_TRUE(computePowerFast());
  const GState& g = gstate();
  // 400 counts peak over 20 ohm at 3.3 V: 400/4096*3.3/sqrt2/20*1000 A.
  EXPECT_NEAR(g.currOriginal, 400.0 / 4096 * 3.3 / std::sqrt(2.0) / 20 * 1000, 0.1);
  EXPECT_NEAR(g.power.powerFactor, 1.0, 0.01);
  EXPECT_NEAR(g.power.estimatedPower, g.currCorrected * 230, g.currCorrected * 230 * 0.01);
}

TEST_F(PowerCapture, NoFundamentalKeepsThePreviousResult) {
  fill(400, 0.0, 0.0);
  ASSERT_TRUE(computePowerFast());
  const float power = gstate().power.estimatedPower;
  fill(0, 0.0, 0.0);
  EXPECT_FALSE(computePowerFast());
  EXPECT_FLOAT_EQ(gstate().power.estimatedPower, power);
}

TEST_F(PowerCapture, ZeroBurdenOrEmptyCaptureIntegratesToZero) {
  fill(400, 0.0, 0.0);
  Measure& b = setGstate().bField;
  b.reset();
  b.computeAverage();
  EXPECT_NE(integrateActivePowerLut(b, 0.0f, 3.3f), 0.0f);
  setGstate().chanBField.burdenResistor = 0;
  EXPECT_FLOAT_EQ(integrateActivePowerLut(b, 0.0f, 3.3f), 0.0f);
  setGstate().chanBField.burdenResistor = 20;
  setGstate().adc.buf.size2use = 0;
  EXPECT_FLOAT_EQ(integrateActivePowerLut(b, 0.0f, 3.3f), 0.0f);
}

}  // namespace
