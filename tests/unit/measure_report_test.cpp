// Report lines of the measurements: readable lines and the CSV lines a bench script parses.
#include "measure_report.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "DemoShell.h"
#include "DemoShellRender.h"
#include "gstate.h"
#include "test_board.h"

namespace {

using testing_support::freshBoard;
using testing_support::takeOutput;

using testing_support::lines;

// The line starting with `prefix`, split at commas (the prefix is field 0).
std::vector<std::string> csvFields(const std::string& out, const std::string& prefix) {
  for (const std::string& line : lines(out)) {
    if (line.rfind(prefix + ",", 0) != 0) continue;
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string f;
    while (std::getline(in, f, ',')) fields.push_back(f);
    return fields;
  }
  return {};
}

class MeasureReport : public ::testing::Test {
 protected:
  void SetUp() override {
    freshBoard();
    takeOutput();
  }
};

TEST_F(MeasureReport, NegativePowerAndPhaseKeepTheirSign) {
  GState& g = setGstate();
  g.power.estimatedPower = -12.05f;
  g.power.powerFactor = -0.25f;
  g.bField.phaseRad = -0.5f;
  g.bField.phaseOk = true;
  g.currOriginal = 0.0f;  // no clamp shift: the corrected phase is the phase itself
  g.config.inductive50HzPhaseCorrection = -0.5f;
  printDebugPower(gstate());
  const std::string out = takeOutput();
  const std::vector<std::string> f = csvFields(out, "POWER_CSV");
  ASSERT_EQ(f.size(), 25u) << out;  // the prefix and 24 fields
  EXPECT_EQ(f[1], "4");
  EXPECT_EQ(f[5], "-0");  // bField.phaseRad
  EXPECT_EQ(f[6], "5000");
  EXPECT_EQ(f[19], "-0");  // power factor
  EXPECT_EQ(f[20], "2500");
  EXPECT_EQ(f[21], "-12");  // power
  EXPECT_EQ(f[22], "5");
  EXPECT_EQ(f[23], "-0");  // configured correction
  EXPECT_EQ(f[24], "5000");
  for (int reserved : {4, 9, 10, 15, 16, 17, 18}) EXPECT_EQ(f[reserved], "0") << reserved;
  EXPECT_NE(out.find("PhaseCorr: phaseOk B=1 Eind=0 phaseCorrectionRad=-0.5000\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  phaseRad B=-0.5000 Eind="), std::string::npos) << out;
  EXPECT_NE(out.find("  power_2: PF=-0.2500 P=-12.05 W (vi time average) \r\n"), std::string::npos) << out;
}

TEST_F(MeasureReport, HighPowerReadIsCutToThreeDecimalsWithItsSign) {
  const struct {
    float watts;
    const char* line;
  } cases[] = {
      {-0.246f, "high power read -0.246 W\n\r"},     {-0.0004f, "high power read 0.000 W\n\r"},
      {0.5f, "high power read 0.500 W\n\r"},         {-12.0599f, "high power read -12.059 W\n\r"},
      {70000.5f, "high power read 70000.500 W\n\r"},  // not cut to 16 bits
  };
  for (const auto& c : cases) {
    printHighPowerRead(c.watts);
    EXPECT_EQ(takeOutput(), c.line) << c.watts;
  }
}

TEST_F(MeasureReport, MeasureLineAndFields) {
  GState& g = setGstate();
  g.adc.buf.size2use = 231;
  g.chanBField.burdenResistor = 20;
  Measure& m = g.bField;
  m.average = -3;
  m.rmsRaw = 108.5904f;
  m.rmsV = 0.0875f;
  m.phaseOk = true;
  m.phaseRad = -0.5f;
  m.magnitude = 40000.5f;  // beyond 16 bits: printed as it is, not wrapped
  printDebug(gstate().bField);
  const std::string out = takeOutput();
  const std::vector<std::string> f = csvFields(out, "MEASURE_CSV");
  const std::vector<std::string> expected = {"MEASURE_CSV", "3",  "0", "231", "-3",   "108",   "5904", "0",
                                             "875",         "20", "1", "-0",  "5000", "40000", "5000"};
  EXPECT_EQ(f, expected) << out;
  EXPECT_NE(out.find("Measure Bfield: N=231 avg=-3 rmsRaw=108.5904 rmsV=0.0875 burden=20\r\n"
                     "  phaseOk=1 phaseRad=-0.5000 rad magnitude=40000.5000\r\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.substr(out.size() - 2 * 2), "\r\n\r\n") << "closing empty line";
}

TEST_F(MeasureReport, MeasureWithoutChannel) {
  Measure m(nullptr);
  printDebug(m);
  EXPECT_EQ(takeOutput(), "Measure: chan=null\r\n");
}

TEST_F(MeasureReport, EmptyCaptureTables) {
  setGstate().adc.buf.size2use = 0;
  ShellFmt::adcStats(gstate());
  EXPECT_EQ(takeOutput(),
            "  adc channel              |     min / max |     pp / mean\r\n"
            "  -------------------------+---------------+--------------\r\n"
            "  Bfield                   |         empty |         empty\r\n"
            "  EfieldInd                |         empty |         empty\r\n"
            "  EFieldCap                |         empty |         empty\r\n"
            "  samples per channel      |             0\r\n");
}

TEST_F(MeasureReport, AdcStatsOfACapture) {
  GState& g = setGstate();
  g.adc.buf.size2use = 3;
  g.adc.eFieldSlopeCorrection = 0.0f;
  const int16_t h[] = {10, -20, 40};
  for (uint16_t i = 0; i < 3; ++i) g.adc.buf[i] = ADCStruct{h[i], 0, static_cast<int16_t>(100 + i), -7};
  ShellFmt::adcStats(gstate());
  const std::vector<std::string> out = lines(takeOutput());
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out[2], "  Bfield                   |      -20 / 40 |       60 / 10");
  EXPECT_EQ(out[3], "  EfieldInd                |       -7 / -7 |        0 / -7");
  EXPECT_EQ(out[4], "  EFieldCap                |     100 / 102 |       2 / 101");
  EXPECT_EQ(out[5], "  samples per channel      |             3");
}

TEST_F(MeasureReport, PowerTableShowsTheCorrection) {
  GState& g = setGstate();
  g.power.estimatedPower = -12.05f;
  g.power.powerFactor = 0.8f;
  g.config.inductive50HzPhaseCorrection = 0.01f;  // automatic
  ShellFmt::power(gstate());
  std::string out = takeOutput();
  EXPECT_EQ(out.rfind("\n\r  metric", 0), 0u) << "an empty line first";
  EXPECT_NE(out.find("  active power (W @ 230V)  |       -12.050\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  phase corr (rad)         |          AUTO\r\n"), std::string::npos) << out;
  g.config.inductive50HzPhaseCorrection = -0.0101f;
  ShellFmt::power(gstate());
  out = takeOutput();
  EXPECT_NE(out.find("  phase corr (rad)         |       -0.0101\r\n"), std::string::npos) << out;
}

TEST_F(MeasureReport, MeasuresTableLabels) {
  Measure none(nullptr);
  ShellFmt::measures(gstate().bField, none);
  const std::vector<std::string> out = lines(takeOutput());
  ASSERT_EQ(out.size(), 11u);
  EXPECT_EQ(out[0], "  measure                  |        Bfield |          null");
  EXPECT_EQ(out[2], "  samples (both)           |             0 |             \"");
  EXPECT_EQ(out[4], "  burden (ohm)             |             0 |             -");
  EXPECT_EQ(out[7], "  phaseOk                  |            NO |            NO");
}

}  // namespace
