// Acquisition on the simulated board: the capture's rows, the channel views, the scan's handling
// of a running transfer, the ADC input pins after bring-up, and the ADC printouts.
#include "adc.h"

#include <gtest/gtest.h>

#include <cmath>

#include "MCUState.h"
#include "adc_model.h"
#include "gpio_model.h"
#include "gstate.h"
#include "main.h"
#include "measure_bench.h"
#include "test_board.h"

using namespace testing_support;

namespace {

class Acquisition : public ::testing::Test {
 protected:
  void SetUp() override {
    bringUpMeasurementBoard();
    setScenario(scenarioFrom("current=10,epick=200,noise=0"));
    mcustate().pin.switch_.stage1.setOn();
  }
  void TearDown() override { mcustate().pin.switch_.stage1.setOff(); }
  static int span(ADCChan id) {
    ADC_Chan view(id);
    int lo = 1 << 20, hi = -(1 << 20);
    for (uint16_t i = 0; i < view.size(); ++i) {
      lo = std::min<int>(lo, view.at(i));
      hi = std::max<int>(hi, view.at(i));
    }
    return hi - lo;
  }
};

TEST_F(Acquisition, QuickReadFills57RowsAndLeavesTheRestZero) {
  ADCRead_HP(false);
  EXPECT_EQ(gstate().adc.buf.size2use, 231);
  EXPECT_NE(gstate().adc.buf[200].bFieldL, 0);
  ADCRead_HP(true);
  const ADCBufT& buf = gstate().adc.buf;
  EXPECT_EQ(buf.size2use, 57);
  EXPECT_EQ(gstate().chanBField.size(), 57);
  for (uint16_t i = 0; i < 57; ++i) EXPECT_GT(buf[i].bFieldL, 1000) << i;  // the bias, about mid-rail
  for (uint16_t i = 57; i < 231; ++i) {
    const ADCStruct& r = buf[i];
    EXPECT_TRUE(r.bFieldH == 0 && r.bFieldL == 0 && r.eFieldCap == 0 && r.eFieldInd == 0) << i;
  }
}

// An overrun stops the converter's DMA requests: the completion interrupt never comes. The capture
// wait ends on its own after twice the capture's length plus 10 ms, says so, and the next read works.
// The rows before the stall would read as a far smaller signal: the capture counts as empty.
TEST_F(Acquisition, StalledTransferEndsTheWaitLeavesNoCaptureAndTheNextReadWorks) {
  sim::board().adc().setDmaOverrunAfter(100);
  takeOutput();
  const uint64_t t0 = sim::board().nowUs();
  EXPECT_FALSE(ADCRead_HP(false));
  const uint64_t waited = sim::board().nowUs() - t0;
  EXPECT_EQ(takeOutput(), "ADC scan: no end of capture (DMA stalled), capture incomplete\r\n");
  EXPECT_GE(waited, 2 * 79926u + 10000u);           // 231 rows of 346 us, twice, and the margin
  EXPECT_LT(waited, 2 * 79926u + 10000u + 10000u);  // the range settle time and the tick's step
  EXPECT_FALSE(sim::board().adc().running());
  EXPECT_EQ(gstate().adc.buf.size2use, 0);
  EXPECT_EQ(gstate().chanBField.size(), 0);
  EXPECT_FALSE(captureComplete());

  sim::board().adc().setDmaOverrunAfter(-1);
  EXPECT_TRUE(ADCRead_HP(false));
  EXPECT_EQ(takeOutput(), "");
  EXPECT_TRUE(captureComplete());
  EXPECT_NE(gstate().adc.buf[230].bFieldL, 0);
}

// A transfer that cannot start is not waited for (its end would never come) and leaves no capture;
// a scan of no rows starts no transfer at all.
TEST_F(Acquisition, ScansThatStartNoTransfer) {
  takeOutput();
  const uint8_t channel = DMA1_Channel1->index;
  DMA1_Channel1->index = 0;  // no such DMA channel: HAL_ADC_Start_DMA refuses
  const uint64_t t0 = sim::board().nowUs();
  EXPECT_FALSE(ADCRead_HP(false));
  DMA1_Channel1->index = channel;
  EXPECT_LT(sim::board().nowUs() - t0, 20000u) << "no wait for the capture's end";
  EXPECT_EQ(takeOutput(), "ADC scan: start failed, capture left empty\r\n");
  EXPECT_FALSE(captureComplete());

  EXPECT_TRUE(ADCScan(ADC_CHANNEL_0, ADC_CHANNEL_2, ADC_CHANNEL_4, ADC_CHANNEL_9, 0));
  EXPECT_EQ(takeOutput(), "");
  EXPECT_FALSE(sim::board().adc().running());
  EXPECT_EQ(HAL_ADC_GetState(&hadc1), HAL_ADC_STATE_READY);
}

TEST_F(Acquisition, ReadsSetTheBurdenAndSwitchTheirRangeOnlyWhileReading) {
  ADCRead_HP(false);
  EXPECT_EQ(gstate().chanBField.burdenResistor, 20);
  EXPECT_GT(span(ADCChan::Bfield), 400);          // 10 A: about 0.17 V RMS across 20 ohm
  EXPECT_FALSE(sim::board().gpio().level(1, 6));  // opto off again
  ADCRead_LP(false);
  EXPECT_EQ(gstate().chanBField.burdenResistor, 270);
  EXPECT_FALSE(sim::board().gpio().level(1, 7));
}

TEST_F(Acquisition, InductivePickUpReachesChannel9AfterBringUp) {
  // The GPIO bring-up leaves PB1 a driven-low output; the ADC's pin set-up makes it an input.
  ADCRead_HP(false);
  EXPECT_GT(span(ADCChan::EfieldInd), 600);  // 200 mV RMS pick-up
  EXPECT_GT(gstate().adc.buf[5].eFieldInd, 1000);
}

TEST_F(Acquisition, FrontEndReadsDeadWithoutItsSupply) {
  mcustate().pin.switch_.stage1.setOff();
  ADCRead_HP(false);
  EXPECT_LE(span(ADCChan::Bfield), 6);  // converter noise only
  EXPECT_LE(span(ADCChan::EfieldInd), 6);
  EXPECT_NEAR(gstate().adc.buf[100].bFieldH, 2048, 4);
}

TEST_F(Acquisition, ConversionsFollowTheScanTiming) {
  // A capture covers 231 x 4 x 173 ADC clocks at 2 MHz: 79.9 ms.
  const uint64_t before = sim::board().nowUs();
  ADCScan(ADC_CHANNEL_0, ADC_CHANNEL_2, ADC_CHANNEL_4, ADC_CHANNEL_9, 231);
  const uint64_t took = sim::board().nowUs() - before;
  EXPECT_GE(took, 79926u);
  EXPECT_LT(took, 79926u + 1000u);
}

TEST_F(Acquisition, ScanStopsARunningTransferFirst) {
  // A transfer left running (as after an interrupted acquisition).
  static uint16_t scratch[8];
  ASSERT_EQ(HAL_ADC_Start_DMA(&hadc1, reinterpret_cast<uint32_t*>(scratch), 8), HAL_OK);
  ASSERT_NE(HAL_ADC_GetState(&hadc1), HAL_ADC_STATE_READY);
  setGstate().adc.buf.size2use = 231;
  ADCScan(ADC_CHANNEL_0, ADC_CHANNEL_2, ADC_CHANNEL_4, ADC_CHANNEL_9, 231);
  EXPECT_EQ(HAL_ADC_GetState(&hadc1), HAL_ADC_STATE_READY);
  EXPECT_GT(gstate().adc.buf[230].bFieldL, 1000);
}

TEST_F(Acquisition, CaptureDmaEventsReachTheHandleAndTheCallback) {
  // A capture hangs its events on the converter's DMA channel (the hardware layer's common part):
  // a transfer error marks the handle, the end of transfer ends the conversions and tells the
  // firmware (adcReady).
  static uint16_t scratch[8];
  ASSERT_EQ(HAL_ADC_Start_DMA(&hadc1, reinterpret_cast<uint32_t*>(scratch), 8), HAL_OK);
  DMA_HandleTypeDef* hdma = hadc1.DMA_Handle;
  ASSERT_NE(hdma, nullptr);
  EXPECT_EQ(hdma->Parent, &hadc1);
  EXPECT_EQ(hdma->XferHalfCpltCallback, nullptr);
  ASSERT_NE(hdma->XferErrorCallback, nullptr);
  ASSERT_NE(hdma->XferCpltCallback, nullptr);
  hdma->XferErrorCallback(hdma);
  EXPECT_NE(HAL_ADC_GetState(&hadc1) & HAL_ADC_STATE_ERROR_DMA, 0u);
  setMCUGstate().adcReady = false;
  hdma->XferCpltCallback(hdma);
  EXPECT_NE(HAL_ADC_GetState(&hadc1) & HAL_ADC_STATE_REG_EOC, 0u);
  EXPECT_TRUE(mcustate().adcReady);
  EXPECT_EQ(HAL_ADC_Stop_DMA(&hadc1), HAL_OK);
}

TEST(CaptureRow, ClampValueIsTheDifference) {
  EXPECT_EQ((ADCStruct{100, 4000, 0, 0}.getBFieldV()), -3900);
  EXPECT_EQ((ADCStruct{4000, 100, 0, 0}.getBFieldV()), 3900);
  EXPECT_EQ((ADCStruct{-30000, 30000, 0, 0}.getBFieldV()), 5536);  // truncated to 16 bits
}

TEST(AdcPrintouts, InfoLines) {
  freshBoard();
  takeOutput();
  printADCInfo();
  const std::string out = takeOutput();
  EXPECT_NE(out.find("ADC Info:"), std::string::npos);
  EXPECT_NE(out.find("  ADC_NUM_CHANNELS        :            4"), std::string::npos) << out;
  EXPECT_NE(out.find("  ADC_CLOCK_HZ            :      2000000"), std::string::npos);
  EXPECT_NE(out.find("  CYCLES_PER_CHANNEL      :          173.000"), std::string::npos);
  EXPECT_NE(out.find("  ADC_EFF_FREQ_HZ         :         2890.17"), std::string::npos);
  EXPECT_NE(out.find("  SAMPLES_PER_AC_CYCLE    :           57.803"), std::string::npos);
  EXPECT_NE(out.find("  ADC_Tot_Time            :            0.079"), std::string::npos);
}

TEST(AdcPrintouts, RawBufferRows) {
  freshBoard();
  setGstate().adc.VRef = 3.3f;
  setGstate().adc.buf.size2use = 2;
  setGstate().adc.buf[0] = ADCStruct{3000, 2048, 100, 2500};
  setGstate().adc.buf[1] = ADCStruct{100, 4000, 7, 8};
  takeOutput();
  debugADCBuffer();
  const std::string out = takeOutput();
  EXPECT_NE(out.find("=== ADC Raw Values ===\r\n"), std::string::npos);
  EXPECT_NE(out.find("   0    3000 ( 2416)    2048 ( 1650)      952 (  766)    2500 ( 2014)     100 (   80)\r\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("   1     100 (   80)    4000 ( 3222)    -3900 (-3142)       8 (    6)       7 (    5)\r\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("=== END ADC Raw Values ===\r\n"), std::string::npos);
  EXPECT_EQ(out.find("   2 "), std::string::npos);
}

}  // namespace
