// GPIO ports of the emulated STM32G070.
#include "gpio_front.h"

#include <cstddef>

#include "board.h"
#include "chip.h"
#include "gpio_model.h"
#include "reg_gpio.h"

namespace emu {

namespace {

constexpr uint32_t kMODER = offsetof(GPIO_TypeDef, MODER);
constexpr uint32_t kPUPDR = offsetof(GPIO_TypeDef, PUPDR);
constexpr uint32_t kIDR = offsetof(GPIO_TypeDef, IDR);
constexpr uint32_t kODR = offsetof(GPIO_TypeDef, ODR);
constexpr uint32_t kBSRR = offsetof(GPIO_TypeDef, BSRR);
constexpr uint32_t kBRR = offsetof(GPIO_TypeDef, BRR);
constexpr uint32_t kOSPEEDR = offsetof(GPIO_TypeDef, OSPEEDR);

sim::PinMode modeOf(uint32_t bits) {
  switch (bits) {
    case GPIO_MODER_MODE_INPUT: return sim::PinMode::input;
    case GPIO_MODER_MODE_OUTPUT: return sim::PinMode::output;
    case GPIO_MODER_MODE_ALTERNATE: return sim::PinMode::alternate;
    default: return sim::PinMode::analog;
  }
}

sim::PinPull pullOf(uint32_t bits) {
  if (bits == GPIO_PUPDR_PUPD_PULLUP) return sim::PinPull::up;
  if (bits == GPIO_PUPDR_PUPD_PULLDOWN) return sim::PinPull::down;
  return sim::PinPull::none;
}

}  // namespace

GpioFront::GpioFront(Chip& chip, int port) : chip_(chip), port_(port) { reset(); }

void GpioFront::reset() {
  regs_.fill(0);
  // Every pin analog, but port A's serial-wire debug pins: PA13 (SWDIO) pulled up at very high
  // speed, PA14 (SWCLK) pulled down, both on their alternate function.
  regs_[kMODER / 4] = port_ == 0 ? 0xEBFFFFFFu : 0xFFFFFFFFu;
  if (port_ == 0) {
    regs_[kOSPEEDR / 4] = 0x0C000000u;
    regs_[kPUPDR / 4] = 0x24000000u;
  }
  for (int pin = 0; pin < 16; ++pin) {
    chip_.board().gpio().write(port_, pin, false);
    applyPin(pin);
  }
}

void GpioFront::applyPin(int pin) {
  const uint32_t mode = (regs_[kMODER / 4] >> GPIO_MODER_MODE_Pos(pin)) & 3u;
  const uint32_t pull = (regs_[kPUPDR / 4] >> GPIO_PUPDR_PUPD_Pos(pin)) & 3u;
  chip_.board().gpio().configure(port_, pin, modeOf(mode), pullOf(pull));
}

void GpioFront::setOutput(uint32_t odr) {
  const uint32_t changed = (regs_[kODR / 4] ^ odr) & 0xFFFFu;
  regs_[kODR / 4] = odr & 0xFFFFu;
  for (int pin = 0; pin < 16; ++pin) {
    if (changed & (1u << pin)) chip_.board().gpio().write(port_, pin, (odr >> pin) & 1u);
  }
}

uint32_t GpioFront::peek(uint32_t offset) { return offset / 4 < regs_.size() ? regs_[offset / 4] : 0; }

uint32_t GpioFront::read(uint32_t offset) {
  if (offset == kIDR) {
    // The input buffer is off in analog mode: such a pin reads 0.
    uint32_t idr = 0;
    const sim::Gpio& pins = chip_.board().pinLevels();
    for (int pin = 0; pin < 16; ++pin) {
      if (pins.read(port_, pin)) idr |= GPIO_IDR_ID(pin);
    }
    return idr;
  }
  if (offset == kBSRR || offset == kBRR) return 0;  // write-only
  return peek(offset);
}

void GpioFront::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kIDR: return;  // read-only
    case kODR: setOutput(value); return;
    case kBSRR: {
      // Where both a set and a reset bit are written, the set wins.
      const uint32_t set = value & 0xFFFFu;
      const uint32_t clear = (value >> 16) & ~set;
      setOutput((regs_[kODR / 4] & ~clear) | set);
      return;
    }
    case kBRR: setOutput(regs_[kODR / 4] & ~(value & 0xFFFFu)); return;
    default: break;
  }
  if (offset / 4 >= regs_.size()) return;
  const uint32_t before = regs_[offset / 4];
  regs_[offset / 4] = value;
  if (offset == kMODER || offset == kPUPDR) {
    for (int pin = 0; pin < 16; ++pin) {
      if (((before ^ value) >> (2 * pin)) & 3u) applyPin(pin);
    }
  }
}

}  // namespace emu
