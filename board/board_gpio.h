// The wiring's ports and channels as the hardware layer names them.
#pragma once

#include "stm32g0xx_hal.h"
#include "wiring.h"

[[gnu::always_inline]] inline GPIO_TypeDef* gpioPort(Wiring::Port port) {
  switch (port) {
    case Wiring::Port::A: return GPIOA;
    case Wiring::Port::B: return GPIOB;
    case Wiring::Port::C: return GPIOC;
    case Wiring::Port::D: return GPIOD;
    case Wiring::Port::F: return GPIOF;
  }
  return nullptr;
}

// ADC_CHANNEL_x of a wiring line (0, no channel, for a line the firmware does not convert).
consteval uint32_t adcChannel(const Wiring::Line& line) {
  return line.adcChannel < 0 ? 0u : ADC_CHANNEL_SEL(static_cast<uint32_t>(line.adcChannel));
}
