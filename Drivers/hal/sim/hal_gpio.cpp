// GPIO of the simulated board.
#include "board.h"
#include "gpio_model.h"
#include "stm32g0xx_hal.h"

namespace {
sim::PinMode modeOf(uint32_t mode) {
  switch (mode) {
    case GPIO_MODE_INPUT: return sim::PinMode::input;
    case GPIO_MODE_OUTPUT_PP:
    case GPIO_MODE_OUTPUT_OD: return sim::PinMode::output;
    case GPIO_MODE_AF_PP:
    case GPIO_MODE_AF_OD: return sim::PinMode::alternate;
    default: return sim::PinMode::analog;
  }
}
sim::PinPull pullOf(uint32_t pull) {
  if (pull == GPIO_PULLUP) return sim::PinPull::up;
  if (pull == GPIO_PULLDOWN) return sim::PinPull::down;
  return sim::PinPull::none;
}
}  // namespace

extern "C" {

void HAL_GPIO_Init(GPIO_TypeDef* port, GPIO_InitTypeDef* init) {
  sim::board().halCall();
  if (port == nullptr || init == nullptr) return;
  for (int i = 0; i < 16; ++i) {
    if (init->Pin & (1u << i)) sim::board().gpio().configure(port->index, i, modeOf(init->Mode), pullOf(init->Pull));
  }
}

void HAL_GPIO_DeInit(GPIO_TypeDef* port, uint32_t pins) {
  sim::board().halCall();
  if (port == nullptr) return;
  for (int i = 0; i < 16; ++i) {
    if (pins & (1u << i)) sim::board().gpio().configure(port->index, i, sim::PinMode::analog, sim::PinPull::none);
  }
}

GPIO_PinState HAL_GPIO_ReadPin(GPIO_TypeDef* port, uint16_t pin) {
  sim::Board& board = sim::board();
  board.halPoll();
  if (port == nullptr) return GPIO_PIN_RESET;
  // Only the pins asked for (usually one): a BUSY wait reads its pin 100 000 times.
  for (uint32_t rest = pin; rest != 0; rest &= rest - 1) {
    if (board.pinLevels().read(port->index, __builtin_ctz(rest))) return GPIO_PIN_SET;
  }
  return GPIO_PIN_RESET;
}

void HAL_GPIO_WritePin(GPIO_TypeDef* port, uint16_t pin, GPIO_PinState state) {
  sim::board().halCall();
  if (port == nullptr) return;
  for (int i = 0; i < 16; ++i) {
    if (pin & (1u << i)) sim::board().gpio().write(port->index, i, state == GPIO_PIN_SET);
  }
}

void HAL_GPIO_TogglePin(GPIO_TypeDef* port, uint16_t pin) {
  sim::board().halCall();
  if (port == nullptr) return;
  for (int i = 0; i < 16; ++i) {
    if (pin & (1u << i)) {
      auto& p = sim::board().gpio().pin(port->index, i);
      sim::board().gpio().write(port->index, i, !p.outLevel);
    }
  }
}

}  // extern "C"
