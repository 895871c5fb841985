// Per-channel analysis on synthetic captures: Q15 tables, fundamental phase, caching markers,
// phase helpers and the drift fit.
#include "rms_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gstate.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kW = 2.0 * kPi * 50.0 * 4.0 * 173.0 / 2000000.0;

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    GState::make();
    setGstate().adc.VRef = 3.3f;
  }
  // Fills the E-field (inductive) and clamp words with the given functions of the row.
  template <typename F>
  void fill(uint16_t rows, F f) {
    ADC_& adc = setGstate().adc;
    adc.buf.size2use = rows;
    for (uint16_t i = 0; i < rows; ++i) {
      const int16_t v = static_cast<int16_t>(std::lround(f(i)));
      adc.buf[i] = ADCStruct{static_cast<int16_t>(2048 + v), 2048, 0, static_cast<int16_t>(2048 + v)};
    }
  }
};

long q15(double v) { return std::lround(32767.0 * v); }

TEST(RmsTrigLut, TablesAreTheRoundedSineAndCosineOfTheScanStep) {
  for (int i = 0; i < RmsTrigLut::kSize; ++i) {
    EXPECT_EQ(RmsTrigLut::kSinBaseQ15[i], q15(std::sin(i * kW))) << i;
    EXPECT_EQ(RmsTrigLut::kCosBaseQ15[i], q15(std::cos(i * kW))) << i;
  }
  EXPECT_EQ(RmsTrigLut::kSinBaseQ15[0], 0);
  EXPECT_EQ(RmsTrigLut::kSinBaseQ15[1], 3555);
}

TEST_F(Capture, FundamentalPhaseOfSineCosineAndInvertedSine) {
  const struct {
    double theta;
    double expect;
  } cases[] = {{0.0, 0.0}, {kPi / 2, kPi / 2}, {kPi, kPi}, {-1.0, -1.0}, {2.5, 2.5}};
  for (const auto& c : cases) {
    fill(231, [&](int i) { return 500.0 * std::sin(i * kW + c.theta) + 37; });
    Measure& m = setGstate().bField;
    m.reset();
    ASSERT_TRUE(m.computeFundamentalPhase()) << c.theta;
    // pi and -pi are the same phase; the record reports (-pi, pi].
    EXPECT_NEAR(std::remainder(m.phaseRad - c.expect, 2 * kPi), 0.0, 2e-3) << c.theta;
    EXPECT_GT(m.phaseRad, -kPi);
    EXPECT_NEAR(m.rmsRaw, 500.0 / std::sqrt(2.0) + 0.5, 2.0);
  }
}

TEST_F(Capture, ConstantCaptureHasNoFundamental) {
  fill(231, [](int) { return 100.0; });
  Measure& m = setGstate().bField;
  m.reset();
  EXPECT_FALSE(m.computeFundamentalPhase());
  EXPECT_FLOAT_EQ(m.rmsRaw, 0.5f);
  EXPECT_FLOAT_EQ(m.magnitude, 0.0f);
  EXPECT_FALSE(m.phaseOk);
  EXPECT_FLOAT_EQ(m.phaseRad, 0.0f);
}

TEST_F(Capture, EFieldChannelsCarryTheFixedPhaseCorrection) {
  EXPECT_FLOAT_EQ(gstate().eFieldInductive.phaseCorrection, -0.05434955f);
  EXPECT_FLOAT_EQ(gstate().bField.phaseCorrection, 0.0f);
  ADC_Chan cap(ADCChan::EFieldCap);
  EXPECT_FLOAT_EQ(Measure(&cap).phaseCorrection, -0.05434955f);
  fill(231, [](int i) { return 300.0 * std::sin(i * kW + 1.0); });
  Measure& e = setGstate().eFieldInductive;
  e.reset();
  ASSERT_TRUE(e.computeFundamentalPhase());
  EXPECT_NEAR(e.getPhaseRad(), 1.0 - 0.05434955, 2e-3);
}

TEST_F(Capture, ResultsAreCachedUntilReset) {
  fill(231, [](int i) { return 400.0 * std::sin(i * kW); });
  Measure& m = setGstate().bField;
  m.reset();
  m.computeRMS();
  const float first = m.rmsRaw;
  fill(231, [](int i) { return 100.0 * std::sin(i * kW); });
  m.computeRMS();
  EXPECT_FLOAT_EQ(m.rmsRaw, first);  // a new capture needs reset()
  m.reset();
  m.computeRMS();
  EXPECT_LT(m.rmsRaw, first / 2);
}

TEST(PhaseHelpers, NormalizeAndLookup) {
  EXPECT_FLOAT_EQ(normalizePhaseRad(-3.1415927f), 3.1415927f);
  EXPECT_FLOAT_EQ(normalizePhaseRad(3 * 3.1415927f), 3.1415927f);
  EXPECT_FLOAT_EQ(normalizePhaseRad(0.25f), 0.25f);
  EXPECT_FLOAT_EQ(normalizePhaseRad(INFINITY), 0.0f);  // would loop forever
  EXPECT_NEAR(lookupTrigLutQ15(RmsTrigLut::kSinBaseQ15, -kPi / 2), -1.0, 2e-3);
  EXPECT_NEAR(lookupTrigLutQ15(RmsTrigLut::kSinBaseQ15, 7 * kPi / 2), -1.0, 2e-3);
  for (double a = -7.0; a < 7.0; a += 0.37) {
    EXPECT_NEAR(lookupTrigLutQ15(RmsTrigLut::kSinBaseQ15, a), std::sin(a), 2e-3) << a;
    EXPECT_NEAR(lookupTrigLutQ15(RmsTrigLut::kCosBaseQ15, a), std::cos(a), 2e-3) << a;
  }
}

// The plain turn-by-turn normalisation, for values where it ends: the bounded one must agree bit
// for bit.
float turnByTurn(float x) {
  while (x <= -3.1415927f) x += 6.2831855f;
  while (x > 3.1415927f) x -= 6.2831855f;
  return x;
}

TEST(PhaseHelpers, NormalisationAgreesWithTurnByTurnEverywhereItEnds) {
  std::vector<float> values = {3.1415927f, -3.1415927f, 6.2831855f, 9.424778f,   1000.0f,     -1000.0f,
                               65536.0f,   -123456.78f, 8388608.0f, 16777216.0f, -33554432.0f};
  uint32_t seed = 12345;
  for (int i = 0; i < 400; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const float magnitude = std::ldexp(static_cast<float>(seed >> 8) / 16777216.0f, static_cast<int>(seed % 24));
    values.push_back((seed & 1) ? magnitude : -magnitude);
  }
  for (float v : values) {
    const float expected = turnByTurn(v);
    const float got = normalizePhaseRad(v);
    EXPECT_EQ(std::memcmp(&expected, &got, sizeof got), 0) << v << ": " << expected << " vs " << got;
  }
}

TEST(PhaseHelpers, HugeValuesNormaliseInBoundedTime) {
  // Beyond about 2^26 adding a turn no longer changes the value: the plain loop never ends.
  for (float v : {1e30f, -3e38f, 3.4028235e38f, -3.4028235e38f, 134217728.0f, -1e10f}) {
    const float r = normalizePhaseRad(v);
    EXPECT_GT(r, -3.1415927f) << v;
    EXPECT_LE(r, 3.1415927f) << v;
    const float s = lookupTrigLutQ15(RmsTrigLut::kSinBaseQ15, v);
    EXPECT_TRUE(std::isfinite(s)) << v;
    EXPECT_LE(std::fabs(s), 1.001f) << v;
  }
  // Such a value gets its exact remainder: 2^30 is 170891314 turns of the float 2 pi
  // (6.28318548202514648) and 0.8709993...
  EXPECT_EQ(normalizePhaseRad(1073741824.0f), static_cast<float>(1073741824.0 - 170891314.0 * 6.28318548202514648));
}

TEST(PhaseHelpers, AutomaticInductiveCorrectionBand) {
  EXPECT_TRUE(isAutoInductivePhaseCorrection(0.01f));
  EXPECT_TRUE(isAutoInductivePhaseCorrection(-0.01f));
  EXPECT_TRUE(isAutoInductivePhaseCorrection(0.0f));
  EXPECT_FALSE(isAutoInductivePhaseCorrection(0.0101f));
  EXPECT_FALSE(isAutoInductivePhaseCorrection(-0.0101f));
}

TEST_F(Capture, SlopeFitOfALineAndTheCorrectionItSets) {
  fill(231, [](int i) { return 3.0 * i + 100 - 2048; });
  const ADCStruct* rows = gstate().adc.buf.rows.data();
  for (uint16_t n : {uint16_t{2}, uint16_t{57}, uint16_t{231}})
    EXPECT_FLOAT_EQ(linearFitSlopeCountsPerSample(rows, n), 3.0f) << n;
  EXPECT_FLOAT_EQ(linearFitSlopeCountsPerSample(nullptr, 231), 0.0f);
  EXPECT_FLOAT_EQ(linearFitSlopeCountsPerSample(rows, 1), 0.0f);
  refreshEFieldSlopeCorrectionFromCapture();
  EXPECT_FLOAT_EQ(gstate().adc.eFieldSlopeCorrection, -3.0f);
  // The corrected view is flat: 100 at every row.
  for (uint16_t i : {uint16_t{0}, uint16_t{1}, uint16_t{100}, uint16_t{230}})
    EXPECT_EQ(gstate().chanEFieldInd.at(i), 100) << i;
}

TEST_F(Capture, SlopeFitOfFullScaleValuesDoesNotOverflow) {
  for (uint16_t n : {uint16_t{57}, uint16_t{231}}) {
    fill(n, [](int i) { return (i % 2 ? 32767.0 : -32768.0) - 2048; });
    // Reference in double precision over the same rows.
    double sx = 0, sy = 0, sxy = 0, sxx = 0;
    for (int i = 0; i < n; ++i) {
      const double y = gstate().adc.buf[static_cast<uint16_t>(i)].eFieldInd;
      sx += i, sy += y, sxy += i * y, sxx += double(i) * i;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    EXPECT_NEAR(linearFitSlopeCountsPerSample(gstate().adc.buf.rows.data(), n), slope, std::fabs(slope) * 1e-5 + 1e-4);
  }
}

// The fit takes any row count its interface allows: the closed-form sums Sx and Sxx for every n
// from 2 (divisions by 2 and 3 taken on the factors) up to 65535 rows.
TEST(SlopeFit, AnyRowCountAgainstADoublePrecisionFit) {
  std::vector<ADCStruct> rows(65535);
  for (size_t i = 0; i < rows.size(); ++i) rows[i].eFieldInd = static_cast<int16_t>(static_cast<int>(i / 2) - 16000);
  for (uint16_t n : {2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 1000, 40000, 65534, 65535}) {
    double sx = 0, sy = 0, sxy = 0, sxx = 0;
    for (int i = 0; i < n; ++i) {
      const double y = rows[static_cast<size_t>(i)].eFieldInd;
      sx += i, sy += y, sxy += i * y, sxx += double(i) * i;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    EXPECT_NEAR(linearFitSlopeCountsPerSample(rows.data(), n), slope, std::fabs(slope) * 1e-6) << n;
  }
}

TEST_F(Capture, SlopeCorrectionOnTheInductiveView) {
  fill(231, [](int) { return 0.0; });
  setGstate().adc.buf[10].eFieldInd = 500;
  setGstate().adc.buf[200].eFieldInd = 500;
  setGstate().adc.eFieldSlopeCorrection = 0.0f;
  EXPECT_EQ(gstate().chanEFieldInd.at(200), 500);
  setGstate().adc.eFieldSlopeCorrection = -0.55f;
  EXPECT_EQ(gstate().chanEFieldInd.at(10), 500 - 5);     // -5.5 truncated toward zero
  EXPECT_EQ(gstate().chanEFieldInd.at(200), 500 - 110);  // later rows lowered more
  EXPECT_EQ(gstate().chanEFieldCap.at(200), 0);          // the capacitive view is raw
  // A drift term of 1e9 or more (or NaN) cannot be added to a 16-bit row: it adds nothing.
  const struct {
    float correction;
    int16_t row200;
  } big[] = {{5e6f, 500}, {-5e6f, 500}, {4.99e6f, 500 + static_cast<int16_t>(998000000 & 0xFFFF)}, {NAN, 500}};
  for (const auto& c : big) {
    setGstate().adc.eFieldSlopeCorrection = c.correction;
    EXPECT_EQ(gstate().chanEFieldInd.at(200), c.row200) << c.correction;
  }
}

// A capture of no rows has no RMS: 0, not the NaN of 0 / 0, so nothing downstream turns into NaN.
TEST_F(Capture, EmptyCaptureHasZeroRms) {
  fill(0, [](int) { return 0.0; });
  Measure& b = setGstate().bField;
  b.reset();
  b.computeRMS();
  EXPECT_EQ(b.rmsRaw, 0.0f);
  EXPECT_EQ(b.rmsV, 0.0f);
}

}  // namespace
