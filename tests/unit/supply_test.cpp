// Supply reference, temperature, state of charge, milli-unit encoding and chip identity.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "adc_model.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "measure_bench.h"
#include "test_board.h"

using namespace testing_support;

namespace {

TEST(Supply, VRefIsTheCalibrationWordOverTheReading) {
  bringUpMeasurementBoard();
  for (double vdda : {3.0, 2.2, 3.5}) {
    sim::Scenario s;
    s.vdda = vdda;
    setScenario(s);
    takeOutput();
    calibrateVRef();
    const std::string out = takeOutput();
    int reading = 0, hex = 0, mv = 0;
    ASSERT_EQ(
        std::sscanf(out.c_str(), "VRef Calibration, read %d (0x%X) VDDA estimated at (%d) mV", &reading, &hex, &mv), 3)
        << out;
    EXPECT_EQ(reading, hex);
    const float expect = static_cast<float>(HAL_ADCEx_GetVrefintCal()) * 3.0f / static_cast<float>(reading);
    EXPECT_FLOAT_EQ(gstate().adc.VRef, expect);
    EXPECT_EQ(mv, static_cast<int>(expect * 1000.0f));
    if (reading == HAL_ADCEx_GetVrefintCal()) {
      EXPECT_FLOAT_EQ(gstate().adc.VRef, 3.0f);
    }
  }
}

TEST(Supply, ZeroReferenceReadingKeepsThePreviousSupply) {
  // A reading of 0 (no reference on the converter) would make the supply infinite: the value from
  // the last good calibration stays, and the line shows the reading that was refused.
  bringUpMeasurementBoard();
  setScenario(scenarioFrom("vdda=3.3"));
  calibrateVRef();
  const float before = gstate().adc.VRef;
  ASSERT_NEAR(before, 3.3f, 0.01f);
  sim::Scenario dead;
  dead.vdda = 1e6;  // beyond any battery: the reference reads below half a count
  setScenario(dead);
  takeOutput();
  calibrateVRef();
  EXPECT_EQ(gstate().adc.VRef, before);
  char expect[96];
  std::snprintf(expect, sizeof expect, "VRef Calibration, read 0 (0x0000) VDDA estimated at (%d) mV",
                static_cast<int>(before * 1000.0f));
  const std::string out = takeOutput();
  EXPECT_NE(out.find(expect), std::string::npos) << expect << "\n" << out;
}

TEST(Supply, TemperatureFromTheSensorReading) {
  bringUpMeasurementBoard();
  setGstate().adc.VRef = 3.0f;
  // The calibration reading at 3.0 V is 30 degrees; each 2.5 mV is one degree.
  const uint16_t cal = HAL_ADCEx_GetTsCal1();
  EXPECT_NEAR(convertToTemperature(cal), 30.0f, 1e-3f);
  EXPECT_NEAR(convertToTemperature(static_cast<uint16_t>(cal + 10)), 30.0f + 10 * 3000.0f / 4096 / 2.5f, 1e-3f);
  // The line shows the integer part and three fraction digits, cut, with the value's sign also
  // when the integer part is 0.
  const struct {
    double temperature;
    float low, high;
  } cases[] = {{-0.6, -1.0f, 0.0f}, {24.6, 24.0f, 25.0f}, {-12.3, -13.0f, -12.0f}};
  for (const auto& c : cases) {
    sim::Scenario s;
    s.temperature = c.temperature;
    setScenario(s);
    calibrateVRef();
    takeOutput();
    const float t = getTemperature();
    ASSERT_GT(t, c.low);
    ASSERT_LT(t, c.high);
    const float magnitude = std::fabs(t);
    char expect[48];
    std::snprintf(expect, sizeof expect, "Temperature: %s%d.%03d\n", t < 0 ? "-" : "", static_cast<int>(magnitude),
                  static_cast<int>(magnitude * 1000.0f) % 1000);
    EXPECT_NE(takeOutput().find(expect), std::string::npos) << expect;
  }
}

TEST(Supply, StateOfChargeExamples) {
  const struct {
    float v, t, soc, tol;
  } cases[] = {
      {3.26f, 25, 0.5f, 1e-5f}, {3.26f, 15, 0.6667f, 1e-3f},  // 15 degrees reads as 3.29 V
      {2.5f, 25, 0.0f, 0},      {3.6f, 25, 1.0f, 0},
      {3.33f, 35, 0.7f, 1e-4f},                                // 35 degrees lowers the voltage by 0.03 V
      {3.3f, 25, 0.7f, 1e-5f},  {2.9f, -100, 0.6167f, 1e-3f},  // cold lifts a low reading: 3.275 V
  };
  for (const auto& c : cases) EXPECT_NEAR(getStateOfCharge(c.v, c.t), c.soc, c.tol) << c.v << " V " << c.t << " C";
}

TEST(Supply, MilliUnitsIn16Bits) {
  EXPECT_EQ(tou16(3.3f), 3300);
  EXPECT_EQ(tou16(70.0f), 4464);  // 70000 wraps
  EXPECT_EQ(tou16(0.0f), 0);
  EXPECT_EQ(tou16(-1.5f), 0);
  EXPECT_EQ(tou16(NAN), 0);
  EXPECT_EQ(tou16(1e12f), static_cast<uint16_t>(static_cast<uint64_t>(1e15f) % 4294967296ull));
}

TEST(Supply, ChipIdComesFromTheCommandLine) {
  sim::Options o;
  o.console = sim::ConsoleMode::capture;
  o.stateDir.clear();
  o.chipId = "0123456789ABCDEF00112233";
  sim::Board::create(o);
  const auto id = readChipID();
  EXPECT_EQ(id[0], 0x00112233u);
  EXPECT_EQ(id[1], 0x89ABCDEFu);
  EXPECT_EQ(id[2], 0x01234567u);
}

}  // namespace
