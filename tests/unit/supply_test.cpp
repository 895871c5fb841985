// Supply reference, temperature, state of charge, milli-unit encoding and chip identity.
#include <gtest/gtest.h>

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

TEST(Supply, TemperatureFromTheSensorReading) {
  bringUpMeasurementBoard();
  setGstate().adc.VRef = 3.0f;
  // The calibration reading at 3.0 V is 30 degrees; each 2.5 mV is one degree.
  const uint16_t cal = HAL_ADCEx_GetTsCal1();
  EXPECT_NEAR(convertToTemperature(cal), 30.0f, 1e-3f);
  EXPECT_NEAR(convertToTemperature(static_cast<uint16_t>(cal + 10)), 30.0f + 10 * 3000.0f / 4096 / 2.5f, 1e-3f);
  sim::Scenario s;
  s.temperature = -0.4;
  setScenario(s);
  calibrateVRef();
  takeOutput();
  const float t = getTemperature();
  EXPECT_NEAR(t, -0.4f, 1.0f);
  // The line shows the integer part and three fraction digits of the value.
  char expect[48];
  const SplitFloat sf = splitFloat6(t, 3);
  std::snprintf(expect, sizeof expect, "Temperature: %d.%03d", static_cast<int>(sf.integer),
                static_cast<int>(sf.decimal));
  EXPECT_NE(takeOutput().find(expect), std::string::npos);
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
