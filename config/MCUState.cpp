// The board record, its pin map and the pin operations.
#include "MCUState.h"

#include "board_gpio.h"
#include "sleep.h"

namespace {

MCUState MCUState_;

DPinH output(GPIO_TypeDef* port, uint16_t pin) {
  return DPinH{PinH{port, pin}, DPinCfg{DPinDir::Output, DPinPull::Down, GPIO_PIN_RESET}};
}
DPinH input(GPIO_TypeDef* port, uint16_t pin) {
  return DPinH{PinH{port, pin}, DPinCfg{DPinDir::Input, DPinPull::None, GPIO_PIN_RESET}};
}
// The pin object of a wiring line: an output (push-pull, default low, pull-down) or an input.
// Folded at compile time into one of the two calls above.
[[gnu::always_inline]] inline DPinH pinOf(const Wiring::Line& line) {
  return line.use == Wiring::Use::output ? output(gpioPort(line.port), line.mask())
                                         : input(gpioPort(line.port), line.mask());
}

void configure(const PinH& h, uint32_t mode, uint32_t pull) {
  GPIO_InitTypeDef init{};
  init.Pin = h.pinN;
  init.Mode = mode;
  init.Pull = pull;
  init.Speed = GPIO_SPEED_FREQ_LOW;
  HAL_GPIO_Init(h.bus, &init);
}

}  // namespace

const MCUState& mcustate() { return MCUState_; }
MCUState& setMCUGstate() { return MCUState_; }
void MCUState::make() { MCUState_ = MCUState(); }

void DPinH::init() const {
  if (h.bus == nullptr) return;
  if (cfg.dir == DPinDir::Input) {
    const uint32_t pull = cfg.pull == DPinPull::Down ? GPIO_PULLDOWN
                          : cfg.pull == DPinPull::Up ? GPIO_PULLUP
                                                     : GPIO_NOPULL;
    configure(h, GPIO_MODE_INPUT, pull);
    return;
  }
  HAL_GPIO_WritePin(h.bus, h.pinN, cfg.defaultLevel);
  configure(h, GPIO_MODE_OUTPUT_PP, GPIO_NOPULL);
}

void DPinH::setOn() const {
  if (h.bus == nullptr || cfg.dir == DPinDir::Input) return;
  configure(h, GPIO_MODE_OUTPUT_PP, GPIO_PULLUP);
  HAL_GPIO_WritePin(h.bus, h.pinN, GPIO_PIN_SET);
}

void DPinH::setOff() const {
  if (h.bus == nullptr || cfg.dir == DPinDir::Input) return;
  configure(h, GPIO_MODE_OUTPUT_PP, GPIO_PULLDOWN);
  HAL_GPIO_WritePin(h.bus, h.pinN, GPIO_PIN_RESET);
}

bool DPinH::read() const { return h.bus != nullptr && HAL_GPIO_ReadPin(h.bus, h.pinN) == GPIO_PIN_SET; }

void Stage1::setOn() const {
  psu.setOn();
  pga.s0.setOff();
  pga.s1.setOff();
}

void Stage1::setOff() const {
  pga.s0.setOff();
  pga.s1.setOff();
  psu.setOff();
}

bool LoraSupplyPin::setOn() const {
  pin_.setOn();
  delayMsLowPower(2);
  return loraSupplyBringUpRadio();
}

void LoraSupplyPin::setOff() const {
  pin_.setOff();
  loraSupplyMarkRadioDown();
}

void detail::PinLayout::Lora::initGpioInputs() const {
  busy.init();
  dio1.init();
  dio2.init();
  dio3.init();
}

// Every member from the board's wiring (board/wiring.h). The record's names for the E-field inputs
// are older than the wiring's: eField is the capacitive pick-up; eCap and the fourth scan channel of
// both ranges are the inductive pick-up.
detail::PinR10::PinR10() {
  namespace W = Wiring;
  adc = Adc{adcChannel(W::clampHighPower),
            adcChannel(W::clampLowPower),
            adcChannel(W::clampLowSide),
            adcChannel(W::eFieldCapacitive),
            0,
            0,
            adcChannel(W::eFieldInductive),
            adcChannel(W::eFieldInductive),
            adcChannel(W::eFieldInductive)};
  dbg = Debug{pinOf(W::debug1), pinOf(W::debug2), pinOf(W::debug3), pinOf(W::debug4)};
  lora = Lora{pinOf(W::radioCs),    pinOf(W::radioReset), pinOf(W::radioBusy), pinOf(W::radioAntTx),
              pinOf(W::radioAntRx), pinOf(W::radioDio1),  pinOf(W::radioDio2), pinOf(W::radioDio3)};
  switch_ = Switch{Stage1{Stage1::PGA{pinOf(W::gainSelect0), pinOf(W::gainSelect1)}, pinOf(W::frontEndSupply)},
                   pinOf(W::rangeHighPower), pinOf(W::rangeLowPower), LoraSupplyPin{pinOf(W::radioSupply)}};
  button = Button{pinOf(W::provisioningButton)};
}

// Revision 6.1 boards are not built by this firmware; every pin is absent (null port).
detail::PinR61::PinR61() : PinLayout{} {}
