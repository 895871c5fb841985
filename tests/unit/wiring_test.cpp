// The board's wiring (board/wiring.h) against the three things made from it: the bring-up leaves
// every pin as described, the board record's pin objects sit on the described pins, and the
// simulated board's devices answer on those pins. A pin moved in one place only fails here.
#include <gtest/gtest.h>

#include <cmath>

#include "MCUState.h"
#include "adc_model.h"
#include "board_gpio.h"
#include "gpio_model.h"
#include "llcc68_model.h"
#include "test_board.h"

namespace {

namespace W = Wiring;

const sim::PinState& pad(const W::Line& l) { return sim::board().gpio().pin(l); }

// What the bring-up leaves a pin as, on the simulated pads.
sim::PinMode modeAfterBringUp(const W::Line& l) {
  if (l.use == W::Use::analog) return sim::PinMode::analog;  // the ADC's set-up takes its inputs back
  if (l.use == W::Use::peripheral) return sim::PinMode::alternate;
  if (l.use == W::Use::input) return sim::PinMode::input;  // the pin objects make their inputs
  switch (l.boot) {
    case W::Boot::input: return sim::PinMode::input;
    case W::Boot::output:
    case W::Boot::outputDrivenLow: return sim::PinMode::output;
    case W::Boot::analog:
    case W::Boot::byPeripheral: break;
  }
  return sim::PinMode::analog;
}

int channelNumber(uint32_t adcChannel) { return static_cast<int>(adcChannel >> 26); }

class WiringAgrees : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::freshBoard(); }
  const MCUState::Pin& pins() { return mcustate().pin; }
};

// The test board is brought up as every start is (bringUpBoard).
TEST_F(WiringAgrees, BringUpLeavesEveryPinAsDescribed) {
  for (const W::Line& l : W::kLines) {
    SCOPED_TRACE(testing::Message() << "P" << static_cast<char>('A' + static_cast<int>(l.port)) << int(l.index));
    EXPECT_EQ(pad(l).mode, modeAfterBringUp(l));
    if (pad(l).mode == sim::PinMode::output) {
      EXPECT_FALSE(pad(l).outLevel);
    }
  }
}

TEST_F(WiringAgrees, RecordPinObjectsSitOnTheirLines) {
  struct Case {
    const char* name;
    const DPinH& pin;
    W::Line line;
  };
  const auto& p = pins();
  const Case cases[] = {
      {"lora.cs", p.lora.cs, W::radioCs},
      {"lora.reset", p.lora.reset, W::radioReset},
      {"lora.busy", p.lora.busy, W::radioBusy},
      {"lora.ant1", p.lora.ant1, W::radioAntTx},
      {"lora.ant2", p.lora.ant2, W::radioAntRx},
      {"lora.dio1", p.lora.dio1, W::radioDio1},
      {"lora.dio2", p.lora.dio2, W::radioDio2},
      {"lora.dio3", p.lora.dio3, W::radioDio3},
      {"switch.lora", p.switch_.lora.pin_, W::radioSupply},
      {"stage1.psu", p.switch_.stage1.psu, W::frontEndSupply},
      {"stage1.s0", p.switch_.stage1.pga.s0, W::gainSelect0},
      {"stage1.s1", p.switch_.stage1.pga.s1, W::gainSelect1},
      {"optoHP", p.switch_.optoHP, W::rangeHighPower},
      {"optoLP", p.switch_.optoLP, W::rangeLowPower},
      {"dbg1", p.dbg._1, W::debug1},
      {"dbg2", p.dbg._2, W::debug2},
      {"dbg3", p.dbg._3, W::debug3},
      {"dbg4", p.dbg._4, W::debug4},
      {"button", p.button.provisioning, W::provisioningButton},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.pin.h.bus, gpioPort(c.line.port));
    EXPECT_EQ(c.pin.h.pinN, c.line.mask());
    // Seen on the simulated pad: an output the object switches, an input the object reads.
    if (c.line.use == W::Use::output) {
      EXPECT_EQ(c.pin.cfg.dir, DPinDir::Output);
      c.pin.setOn();
      EXPECT_TRUE(sim::board().gpio().level(c.line));
      c.pin.setOff();
      EXPECT_FALSE(sim::board().gpio().level(c.line));
    } else {
      EXPECT_EQ(c.pin.cfg.dir, DPinDir::Input);
      c.pin.init();
      sim::board().gpio().drive(c.line, true);
      EXPECT_TRUE(c.pin.read());
      sim::board().gpio().drive(c.line, false);
      EXPECT_FALSE(c.pin.read());
    }
  }
  EXPECT_EQ(channelNumber(p.adc.bFieldHP), W::clampHighPower.adcChannel);
  EXPECT_EQ(channelNumber(p.adc.bFieldLP), W::clampLowPower.adcChannel);
  EXPECT_EQ(channelNumber(p.adc.bFieldLow), W::clampLowSide.adcChannel);
  EXPECT_EQ(channelNumber(p.adc.eField), W::eFieldCapacitive.adcChannel);
  EXPECT_EQ(channelNumber(p.adc.eCap), W::eFieldInductive.adcChannel);
}

// The transceiver model powers up, resets, frames and signals BUSY on the record's pins.
TEST_F(WiringAgrees, RadioModelAnswersOnTheRecordPins) {
  const auto& lora = pins().lora;
  sim::Llcc68Model& radio = sim::board().radio();
  lora.reset.setOn();
  lora.cs.setOn();
  pins().switch_.lora.pin_.setOn();
  EXPECT_TRUE(radio.powered());
  EXPECT_TRUE(lora.busy.read()) << "busy while it boots";
  testing_support::runFor(20000);
  EXPECT_FALSE(lora.busy.read());

  radio.recordTransactions(true);
  lora.cs.setOff();
  (void)radio.spiExchange(0xC0);  // GetStatus
  lora.cs.setOn();
  EXPECT_EQ(radio.transactions().size(), 1u);

  lora.reset.setOff();
  EXPECT_EQ(radio.mode(), sim::Llcc68Model::Mode::reset);
  pins().switch_.lora.pin_.setOff();
  EXPECT_FALSE(radio.powered());
}

// The front end model takes its supply and range switches and feeds its ADC inputs on the
// record's pins and channels.
TEST_F(WiringAgrees, FrontEndModelAnswersOnTheRecordPins) {
  sim::AnalogFrontEnd& fe = sim::board().adc().frontEnd();
  sim::Scenario s;
  s.current = 5;
  s.noiseMv = 0;
  fe.setScenario(s);
  const double mid = s.vdda / 2;
  const auto& adc = pins().adc;
  const sim::Gpio& gpio = sim::board().gpio();
  // Largest excursion from the bias over one mains period.
  auto swing = [&](uint32_t channel) {
    double most = 0;
    for (int i = 0; i < 40; ++i)
      most = std::max(most, std::fabs(fe.channelVoltage(channelNumber(channel), i * 0.0005, gpio) - mid));
    return most;
  };
  const auto& sw = pins().switch_;
  sw.stage1.setOff();
  sw.optoHP.setOn();
  for (uint32_t ch : {adc.bFieldHP, adc.bFieldLP, adc.bFieldLow, adc.eField, adc.eCap}) EXPECT_EQ(swing(ch), 0.0);
  sw.stage1.setOn();
  EXPECT_GT(swing(adc.bFieldHP), 0.01);
  EXPECT_EQ(swing(adc.bFieldLP), 0.0) << "the low-power burden is not switched in";
  EXPECT_EQ(swing(adc.bFieldLow), 0.0);
  EXPECT_NEAR(swing(adc.eField), s.eCapMv * 1e-3 * std::sqrt(2.0), 0.005);
  EXPECT_NEAR(swing(adc.eCap), s.ePickMv * 1e-3 * std::sqrt(2.0), 0.005);
  sw.optoHP.setOff();
  sw.optoLP.setOn();
  EXPECT_EQ(swing(adc.bFieldHP), 0.0);
  EXPECT_GT(swing(adc.bFieldLP), 0.01);
  sw.optoLP.setOff();
  sw.stage1.setOff();
}

}  // namespace
