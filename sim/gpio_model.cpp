// GPIO pads of the simulated board.
#include "gpio_model.h"

namespace sim {

void Gpio::configure(int port, int index, PinMode mode, PinPull pull) {
  PinState& p = pins_[port][index];
  p.mode = mode;
  p.pull = pull;
  notify(port, index);
}

void Gpio::write(int port, int index, bool level) {
  pins_[port][index].outLevel = level;
  notify(port, index);
}

void Gpio::drive(int port, int index, bool level) {
  PinState& p = pins_[port][index];
  p.driven = true;
  p.driveLevel = level;
  notify(port, index);
}

size_t Gpio::watch(int port, int index, std::function<void(bool)> onChange) {
  watches_.push_back({port, index, std::move(onChange)});
  return watches_.size() - 1;
}

void Gpio::notify(int port, int index) {
  ++changes_;
  const bool lvl = level(port, index);
  for (auto& w : watches_) {
    if (w.port == port && w.index == index && w.fn) w.fn(lvl);
  }
}

}  // namespace sim
