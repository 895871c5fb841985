// Pin objects of the board record, observed on the simulated pads.
#include <gtest/gtest.h>

#include "MCUState.h"
#include "gpio_model.h"
#include "test_board.h"

namespace {

struct Pad {
  int port;
  int index;
};

sim::PinState pad(Pad p) { return sim::board().gpio().pin(p.port, p.index); }

class Pins : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::freshBoard(); }
  const MCUState::Pin& pins() { return mcustate().pin; }
};

constexpr Pad kPA8{0, 8}, kPB5{1, 5}, kPB11{1, 11}, kPC6{2, 6}, kPC7{2, 7}, kPD0{3, 0};

TEST_F(Pins, OutputOnAndOffReconfigureWithPulls) {
  pins().dbg._1.setOn();
  EXPECT_EQ(pad(kPD0).mode, sim::PinMode::output);
  EXPECT_EQ(pad(kPD0).pull, sim::PinPull::up);
  EXPECT_TRUE(pad(kPD0).outLevel);
  EXPECT_TRUE(pins().dbg._1.read());
  pins().dbg._1.setOff();
  EXPECT_EQ(pad(kPD0).pull, sim::PinPull::down);
  EXPECT_FALSE(pad(kPD0).outLevel);
  EXPECT_FALSE(pins().dbg._1.read());
}

TEST_F(Pins, InputPinIgnoresOnAndOff) {
  pins().lora.busy.init();
  const sim::PinState before = pad(kPB11);
  pins().lora.busy.setOn();
  pins().lora.busy.setOff();
  EXPECT_EQ(pad(kPB11).mode, before.mode);
  EXPECT_EQ(pad(kPB11).outLevel, before.outLevel);
  sim::board().gpio().drive(kPB11.port, kPB11.index, true);
  EXPECT_TRUE(pins().lora.busy.read());
}

TEST_F(Pins, NullPortIsANoOp) {
  const DPinH absent{};
  absent.setOn();
  absent.setOff();
  absent.init();
  EXPECT_FALSE(absent.read());
}

TEST_F(Pins, Stage1PowersFrontEndWithGainLinesLow) {
  pins().switch_.stage1.pga.s0.setOn();  // a stale gain selection must not survive
  pins().switch_.stage1.setOn();
  EXPECT_TRUE(pad(kPB5).outLevel);
  EXPECT_FALSE(pad(kPC7).outLevel);
  EXPECT_FALSE(pad(kPC6).outLevel);
  pins().switch_.stage1.setOff();
  EXPECT_FALSE(pad(kPB5).outLevel);
}

TEST_F(Pins, RadioSupplySwitch) {
  pins().switch_.lora.setOff();
  EXPECT_FALSE(pad(kPA8).outLevel);
  (void)pins().switch_.lora.setOn();
  EXPECT_TRUE(pad(kPA8).outLevel);
}

}  // namespace
