// Reading logic: threshold bands, the receive-window rule, and the stable run kept in the RTC
// registers across readings, on the simulated board.
#include "logic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "MCUState.h"
#include "RTCMem.h"
#include "adc.h"
#include "adc_model.h"
#include "gpio_model.h"
#include "gstate.h"
#include "measure_bench.h"
#include "test_board.h"

using namespace testing_support;

namespace {

TEST(ThresholdBand, Examples) {
  GState::make();
  const struct {
    float soc;
    uint8_t stable;
    float baseline, min, max, ths;
  } cases[] = {
      {1.0f, 0, 1.0f, 0.4f, 1.6f, 0.6f},                  // a = 6, b = 0.01, c = 10
      {0.5f, 0, 0.0f, 0.0f, 0.0f, 0.0f},                  // cold start: only exactly 0 A is stable
      {0.0f, 0, 60.0f, 0.0f, 100.0f, 3000.0f},            // capped at both ends
      {0.5f, 1, 5.0f, 0.0f, 15.0f, 10.0f},                // a = 1, b = 2, c = 1
      {0.85f, 5, 10.0f, 8.5f, 11.5f, 1.5f},               // a = 1, b = 0.5, c = 0.3
      {0.5f, 255, 10.0f, 9.40436f, 10.59564f, 0.59564f},  // c = 0.05 + (0.0001 - 0.05) x 235 / 580
  };
  for (const auto& c : cases) {
    const THS t = sendThs(c.soc, c.stable, c.baseline);
    EXPECT_NEAR(t.ths, c.ths, 1e-4f + c.ths * 1e-5f) << c.baseline << " A, " << int(c.stable);
    EXPECT_NEAR(t.min, c.min, 1e-4f + c.min * 1e-5f) << c.baseline << " A, " << int(c.stable);
    EXPECT_NEAR(t.max, c.max, 1e-4f + c.max * 1e-5f) << c.baseline << " A, " << int(c.stable);
  }
  setGstate().config.forceLoraRX = true;
  const THS forced = sendThs(1.0f, 3, 2.0f);
  EXPECT_EQ(forced.min, 99999.0f);
  EXPECT_EQ(forced.max, 0.0f);
  EXPECT_EQ(forced.ths, 0.0f);
  // Forced listening belongs to the node's own band only; the form with its own tables still
  // computes (a = 2, b = 0.5, c = 3: ths = 2 x 0.5 x 3 x 2 = 6).
  const TablePoint flatA[] = {{0.0f, 2.0f}};
  const TablePoint flatB[] = {{0.0f, 0.5f}};
  const TablePoint flatC[] = {{0.0f, 3.0f}};
  const THS own = sendThs(1.0f, 3, 2.0f, flatA, 1, flatB, 1, flatC, 1);
  EXPECT_FLOAT_EQ(own.ths, 6.0f);
  EXPECT_FLOAT_EQ(own.min, 0.0f);
  EXPECT_FLOAT_EQ(own.max, 8.0f);
  setGstate().config.forceLoraRX = false;
}

TEST(ReceiveWindowRule, StrictlyBeyondTheDelayOfTheStateOfCharge) {
  EXPECT_FALSE(enableLoraRX(0, 1.0f));  // threshold 0, strict comparison
  EXPECT_TRUE(enableLoraRX(1, 1.0f));
  EXPECT_TRUE(enableLoraRX(301, 0.5f));
  EXPECT_FALSE(enableLoraRX(300, 0.5f));
  EXPECT_FALSE(enableLoraRX(3600, 0.0f));
  EXPECT_TRUE(enableLoraRX(65535, -1.0f));
  const TablePoint always[] = {{0.0f, -1.0f}};
  EXPECT_TRUE(enableLoraRX(0, 0.3f, always, 1));
}

class ReadingLogic : public ::testing::Test {
 protected:
  void SetUp() override {
    bringUpMeasurementBoard();
    setScenario(scenarioFrom("current=3"));
    setMCUGstate().SoC = 1.0f;
  }
  static RTCMem& rtc() { return rtcMem(); }
};

TEST_F(ReadingLogic, ForcedReadingAlwaysTakesTheFullReadingAndRestartsTheRun) {
  rtc().stableReadCounter.set(7);
  rtc().firstStableRawCoarseRMSCurrent.set(1234);
  takeOutput();
  EXPECT_TRUE(powerReadingLogic(true));
  EXPECT_EQ(rtc().stableReadCounter.get(), 0);
  EXPECT_EQ(rtc().firstStableRawCoarseRMSCurrent.get(), 0);  // no quick read was taken
  EXPECT_NE(takeOutput().find("high power read "), std::string::npos);
  EXPECT_EQ(gstate().adc.buf.size2use, 231);
  EXPECT_NEAR(gstate().currCorrected, 3.0f, 0.1f);
  EXPECT_FALSE(sim::board().gpio().level(1, 5));  // front end off afterwards
}

TEST_F(ReadingLogic, QuickReadsInBandLengthenTheRunAndOutOfBandRestartsIt) {
  // First reading after a cold start: baseline 0, band 0..0, the quick read is outside it.
  EXPECT_TRUE(powerReadingLogic(false));
  const uint16_t first = rtc().firstStableRawCoarseRMSCurrent.get();
  EXPECT_NEAR(first, 3000 / 1.1, 300);  // the uncorrected coarse current, in mA
  EXPECT_EQ(rtc().stableReadCounter.get(), 0);
  // Same current: in band, no full reading, the run grows.
  takeOutput();
  EXPECT_FALSE(powerReadingLogic(false));
  EXPECT_FALSE(powerReadingLogic(false));
  EXPECT_EQ(rtc().stableReadCounter.get(), 2);
  EXPECT_EQ(rtc().firstStableRawCoarseRMSCurrent.get(), first);
  const std::string out = takeOutput();
  EXPECT_NE(out.find("QuickRed Curr: "), std::string::npos);
  EXPECT_EQ(out.find("high power read"), std::string::npos);
  EXPECT_EQ(gstate().adc.buf.size2use, 57);
  // The current changes: outside the narrowed band, a full reading restarts the run around it.
  setScenario(scenarioFrom("current=6"));
  EXPECT_TRUE(powerReadingLogic(false));
  EXPECT_EQ(rtc().stableReadCounter.get(), 0);
  EXPECT_NEAR(rtc().firstStableRawCoarseRMSCurrent.get(), 6000 / 1.15, 300);
}

// A capture whose transfer stalls is taken once more; when that one stalls too there is no reading:
// nothing computed, the stable run left as it was, and the buffer empty for every frame built after.
TEST_F(ReadingLogic, StalledCaptureIsTakenAgainOnceThenGivesNoReading) {
  struct Case {
    const char* name;
    bool force;
    int stalledCaptures;  // the first N captures stall after 25 rows (-1: every one)
    bool fullReading;
    size_t stallLines;
  };
  const Case cases[] = {
      {"forced, first capture stalls", true, 1, true, 1},
      {"forced, every capture stalls", true, -1, false, 2},
      {"quick read stalls once", false, 1, true, 1},
      {"quick read stalls twice", false, 2, false, 2},
      {"quick read whole, full reading stalls twice", false, -2, false, 2},
  };
  for (const Case& c : cases) {
    SetUp();
    rtc().stableReadCounter.set(7);
    rtc().firstStableRawCoarseRMSCurrent.set(1234);
    setGstate().power.estimatedPower = 0.0f;
    if (c.stalledCaptures == -2) {
      // The quick read (57 rows = 228 results) is whole; the full reading stalls after 100 rows.
      sim::board().adc().setDmaOverrunAfter(400);
    } else {
      sim::board().adc().setDmaOverrunAfter(100, c.stalledCaptures);
    }
    takeOutput();
    EXPECT_EQ(powerReadingLogic(c.force), c.fullReading) << c.name;
    const std::string out = takeOutput();
    size_t stalls = 0;
    for (size_t at = out.find("capture incomplete"); at != std::string::npos;
         at = out.find("capture incomplete", at + 1))
      ++stalls;
    EXPECT_EQ(stalls, c.stallLines) << c.name;
    EXPECT_EQ(captureComplete(), c.fullReading) << c.name;
    if (c.fullReading) {
      EXPECT_NEAR(gstate().currCorrected, 3.0f, 0.1f) << c.name;
    } else {
      EXPECT_EQ(out.find("high power read"), std::string::npos) << c.name;
      EXPECT_EQ(gstate().power.estimatedPower, 0.0f) << c.name << ": nothing computed";
      if (!c.force && c.stalledCaptures != -2) {  // no quick read: the run is left as it was
        EXPECT_EQ(rtc().stableReadCounter.get(), 7) << c.name;
        EXPECT_EQ(rtc().firstStableRawCoarseRMSCurrent.get(), 1234) << c.name;
      }
    }
    EXPECT_FALSE(sim::board().gpio().level(1, 5)) << c.name << ": front end off afterwards";
    sim::board().adc().setDmaOverrunAfter(-1);
  }
}

TEST_F(ReadingLogic, QuickReadLinePrintsTheBandInWholeMilliamperes) {
  // Baseline 10 A, empty battery, no stable run: a = 10 - 8 x 5 / 3, b = 5, c = 10, ths = 666.7 A;
  // the band is 0 to 100 A, whose top is 100000 mA (34464 once cut to 16 bits).
  rtc().firstStableRawCoarseRMSCurrent.set(10000);
  rtc().stableReadCounter.set(0);
  setMCUGstate().SoC = 0.0f;
  takeOutput();
  EXPECT_FALSE(powerReadingLogic(false));
  const std::string out = takeOutput();
  unsigned long current = 0, low = 1, high = 0;
  ASSERT_EQ(std::sscanf(out.c_str(), "QuickRed Curr: %lu  min / max %lu / %lu ", &current, &low, &high), 3) << out;
  EXPECT_EQ(low, 0u);
  EXPECT_EQ(high, 100000u);
  EXPECT_NEAR(current, 3000 / 1.1, 300);
}

TEST_F(ReadingLogic, ForcedListeningMakesEveryReadingFull) {
  setGstate().config.forceLoraRX = true;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(powerReadingLogic(false));
    EXPECT_EQ(rtc().stableReadCounter.get(), 0);
  }
}

TEST_F(ReadingLogic, StableCountWrapsAndTheBandWidensAgain) {
  EXPECT_TRUE(powerReadingLogic(false));
  rtc().stableReadCounter.set(255);
  setMCUGstate().SoC = 0.0f;  // wide band: the reading stays in it
  EXPECT_FALSE(powerReadingLogic(false));
  EXPECT_EQ(rtc().stableReadCounter.get(), 0);
  const float baseline = rtc().firstStableRawCoarseRMSCurrent.get() / 1000.0f;
  EXPECT_NEAR(sendThs(0.0f, 0, baseline).ths,
              baseline * 5 * 10 * interpolateFromTable(currentMultTable.data(), 4, baseline), 1e-3f);
}

}  // namespace
