// Pin levels and configuration of ports A to F. Models watch outputs (supply switches, chip
// select) and drive inputs (the radio's BUSY line).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "wiring.h"

namespace sim {

enum class PinMode : uint8_t { analog, input, output, alternate };
enum class PinPull : uint8_t { none, up, down };

struct PinState {
  PinMode mode = PinMode::analog;  // reset state of every pin but the debug port
  PinPull pull = PinPull::none;
  bool outLevel = false;  // output data register
  bool driven = false;    // an outside model drives the pin
  bool driveLevel = false;
  PinPull standbyPull = PinPull::none;  // what holds it in standby (PWR's pulls); none: it floats
};

class Gpio {
 public:
  static constexpr int kPorts = 6;

  PinState& pin(int port, int index) {
    ++changes_;  // (the state may be written through the reference)
    return pins_[port][index];
  }
  void configure(int port, int index, PinMode mode, PinPull pull);
  void write(int port, int index, bool level);
  bool read(int port, int index) const {
    if (pins_[port][index].mode == PinMode::analog) return false;  // the input buffer is off in analog mode
    return level(port, index);
  }
  // Level seen on the pad: what the chip drives, else what an outside model drives, else pulls.
  bool level(int port, int index) const {
    const PinState& p = pins_[port][index];
    if (p.mode == PinMode::output) return p.outLevel;
    if (p.driven) return p.driveLevel;
    return p.pull == PinPull::up;
  }
  void drive(int port, int index, bool level);
  // Called with the new pad level whenever it may have changed; the number ends the watch
  // (unwatch) when its watcher goes before the board does.
  size_t watch(int port, int index, std::function<void(bool)> onChange);
  void unwatch(size_t watch) { watches_.at(watch).fn = nullptr; }
  // In standby the chip lets go of its pins: only PWR's pulls (with PWR_CR3.APC) hold one.
  void setStandbyPull(int port, int index, PinPull pull) { pins_[port][index].standbyPull = pull; }
  PinPull standbyPull(const Wiring::Line& l) const { return pins_[portOf(l)][l.index].standbyPull; }

  // The same by the board's wiring (board/wiring.h).
  PinState& pin(const Wiring::Line& l) { return pin(portOf(l), l.index); }
  bool level(const Wiring::Line& l) const { return level(portOf(l), l.index); }
  void drive(const Wiring::Line& l, bool high) { drive(portOf(l), l.index, high); }
  size_t watch(const Wiring::Line& l, std::function<void(bool)> onChange) {
    return watch(portOf(l), l.index, std::move(onChange));
  }
  static int portOf(const Wiring::Line& l) { return static_cast<int>(l.port); }
  // Counts every change of a pin's state: a reader that saw the same count sees the same levels.
  uint64_t changes() const { return changes_; }

 private:
  void notify(int port, int index);
  std::array<std::array<PinState, 16>, kPorts> pins_{};
  struct Watch {
    int port, index;
    std::function<void(bool)> fn;
  };
  std::vector<Watch> watches_;
  uint64_t changes_ = 0;
};

}  // namespace sim
