// General-purpose I/O: pin configuration (mode, output type, speed, pull, alternate function)
// and atomic pin writes through BSRR/BRR.
#include "hal_backend.h"

namespace {
// GPIO_MODE_xxx codes: the MODER value in bits 1:0, open drain in bit 4.
constexpr uint32_t kModeMask = 0x3U;
constexpr uint32_t kOpenDrainBit = 0x10U;
}  // namespace

extern "C" {

void HAL_GPIO_Init(GPIO_TypeDef* port, GPIO_InitTypeDef* init) {
  if (port == nullptr || init == nullptr) return;
  const uint32_t mode = init->Mode & kModeMask;
  for (uint32_t pin = 0; pin < 16U; ++pin) {
    if ((init->Pin & (1U << pin)) == 0U) continue;
    if (mode == GPIO_MODER_MODE_OUTPUT || mode == GPIO_MODER_MODE_ALTERNATE) {
      regModify(port->OSPEEDR, GPIO_OSPEEDR_OSPEED(pin), (init->Speed & 0x3U) << GPIO_OSPEEDR_OSPEED_Pos(pin));
      if ((init->Mode & kOpenDrainBit) != 0U) {
        regSet(port->OTYPER, GPIO_OTYPER_OT(pin));
      } else {
        regClear(port->OTYPER, GPIO_OTYPER_OT(pin));
      }
    }
    regModify(port->PUPDR, GPIO_PUPDR_PUPD(pin), (init->Pull & 0x3U) << GPIO_PUPDR_PUPD_Pos(pin));
    // The function is chosen before the pin switches to it, so no other function shows.
    if (mode == GPIO_MODER_MODE_ALTERNATE) {
      regModify(port->AFR[pin >> 3], GPIO_AFR_AFSEL(pin), (init->Alternate & 0xFU) << GPIO_AFR_AFSEL_Pos(pin));
    }
    regModify(port->MODER, GPIO_MODER_MODE(pin), mode << GPIO_MODER_MODE_Pos(pin));
  }
}

// Back to the reset state: analog, no pull, push-pull, lowest speed, AF0.
void HAL_GPIO_DeInit(GPIO_TypeDef* port, uint32_t pins) {
  if (port == nullptr) return;
  for (uint32_t pin = 0; pin < 16U; ++pin) {
    if ((pins & (1U << pin)) == 0U) continue;
    regSet(port->MODER, GPIO_MODER_MODE(pin));
    regClear(port->AFR[pin >> 3], GPIO_AFR_AFSEL(pin));
    regClear(port->PUPDR, GPIO_PUPDR_PUPD(pin));
    regClear(port->OTYPER, GPIO_OTYPER_OT(pin));
    regClear(port->OSPEEDR, GPIO_OSPEEDR_OSPEED(pin));
  }
}

GPIO_PinState HAL_GPIO_ReadPin(GPIO_TypeDef* port, uint16_t pin) {
  if (port == nullptr) return GPIO_PIN_RESET;
  return (port->IDR & pin) != 0U ? GPIO_PIN_SET : GPIO_PIN_RESET;
}

void HAL_GPIO_WritePin(GPIO_TypeDef* port, uint16_t pin, GPIO_PinState state) {
  if (port == nullptr) return;
  if (state != GPIO_PIN_RESET) {
    port->BSRR = pin;
  } else {
    port->BRR = pin;
  }
}

// One BSRR write sets the pins that are low and resets those that are high.
void HAL_GPIO_TogglePin(GPIO_TypeDef* port, uint16_t pin) {
  if (port == nullptr) return;
  const uint32_t odr = port->ODR;
  port->BSRR = ((odr & pin) << 16U) | (~odr & pin);
}

}  // extern "C"
