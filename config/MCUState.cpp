// The board record, its pin map and the pin operations.
#include "MCUState.h"

#include "sleep.h"

namespace {

MCUState MCUState_;

DPinH output(GPIO_TypeDef* port, uint16_t pin) {
  return DPinH{PinH{port, pin}, DPinCfg{DPinDir::Output, DPinPull::Down, GPIO_PIN_RESET}};
}
DPinH input(GPIO_TypeDef* port, uint16_t pin) {
  return DPinH{PinH{port, pin}, DPinCfg{DPinDir::Input, DPinPull::None, GPIO_PIN_RESET}};
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
    const uint32_t pull = cfg.pull == DPinPull::Down ? GPIO_PULLDOWN : cfg.pull == DPinPull::Up ? GPIO_PULLUP : GPIO_NOPULL;
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

detail::PinR10::PinR10() {
  adc = Adc{ADC_CHANNEL_0, ADC_CHANNEL_1, ADC_CHANNEL_2, ADC_CHANNEL_4, 0, 0, ADC_CHANNEL_9, ADC_CHANNEL_9, ADC_CHANNEL_9};
  dbg = Debug{output(GPIOD, GPIO_PIN_0), output(GPIOB, GPIO_PIN_13), output(GPIOB, GPIO_PIN_14),
              output(GPIOB, GPIO_PIN_15)};
  lora = Lora{output(GPIOB, GPIO_PIN_12), output(GPIOB, GPIO_PIN_0), input(GPIOB, GPIO_PIN_11),
              output(GPIOB, GPIO_PIN_10), output(GPIOB, GPIO_PIN_2), input(GPIOA, GPIO_PIN_11),
              input(GPIOA, GPIO_PIN_12), input(GPIOA, GPIO_PIN_15)};
  switch_ = Switch{Stage1{Stage1::PGA{output(GPIOC, GPIO_PIN_7), output(GPIOC, GPIO_PIN_6)}, output(GPIOB, GPIO_PIN_5)},
                   output(GPIOB, GPIO_PIN_6), output(GPIOB, GPIO_PIN_7), LoraSupplyPin{output(GPIOA, GPIO_PIN_8)}};
  button = Button{input(GPIOD, GPIO_PIN_3)};
}

// Revision 6.1 boards are not built by this firmware; every pin is absent (null port).
detail::PinR61::PinR61() : PinLayout{} {}
