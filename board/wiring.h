// The wiring of board revision 10, described once: every port pin with what it is wired to, its
// direction, the peripheral and channel it belongs to, and the state the bring-up leaves it in.
// The bring-up's pin table (Core/Src), the board record's pin objects (config/MCUState) and the
// simulated board's devices (sim/) are all made from it, so changing a pin is one edit here.
// Plain constants: no hardware layer, usable by the firmware and by host code alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace Wiring {

// GPIO ports by index (GPIOA = 0 .. GPIOF = 5; the package has no port E).
enum class Port : uint8_t { A = 0, B = 1, C = 2, D = 3, F = 5 };

// What the pin is to the firmware.
enum class Use : uint8_t {
  output,      // a digital line the firmware drives (a pin object of the board record)
  input,       // a digital line the firmware reads
  analog,      // an ADC input (its channel below)
  peripheral,  // a pin of a serial peripheral, on its alternate function
  unused,      // not connected
};

// What the GPIO bring-up leaves the pin as (the pin objects reconfigure outputs each time they
// switch them; the peripherals' low-level set-up takes their own pins).
enum class Boot : uint8_t {
  analog,           // analog mode, input buffer off (the reset state)
  input,            // input without pull
  output,           // push-pull output at its reset level (low)
  outputDrivenLow,  // driven low first, then push-pull output
  byPeripheral,     // left to the peripheral's set-up (ADC, SPI, USART)
};

struct Line {
  Port port;
  uint8_t index;  // 0..15
  Use use;
  Boot boot;
  int8_t adcChannel;  // ADC_INn of the pin, -1 when the firmware does not convert it
  uint8_t alternate;  // alternate function number of a peripheral pin

  constexpr uint16_t mask() const { return static_cast<uint16_t>(1u << index); }
  constexpr bool operator==(const Line&) const = default;
};

constexpr Line line(Port port, uint8_t index, Use use, Boot boot) { return Line{port, index, use, boot, -1, 0}; }
constexpr Line adcInput(Port port, uint8_t index, int8_t channel, Boot boot) {
  return Line{port, index, Use::analog, boot, channel, 0};
}
constexpr Line peripheralPin(Port port, uint8_t index, uint8_t alternate) {
  return Line{port, index, Use::peripheral, Boot::byPeripheral, -1, alternate};
}

// The LLCC68 radio: SPI1, chip select and reset by hand, BUSY, the antenna switch, its supply.
inline constexpr Line radioCs = line(Port::B, 12, Use::output, Boot::analog);
inline constexpr Line radioReset = line(Port::B, 0, Use::output, Boot::outputDrivenLow);
inline constexpr Line radioBusy = line(Port::B, 11, Use::input, Boot::input);
inline constexpr Line radioAntTx = line(Port::B, 10, Use::output, Boot::outputDrivenLow);  // raised to transmit
inline constexpr Line radioAntRx = line(Port::B, 2, Use::output, Boot::outputDrivenLow);   // raised to receive
inline constexpr Line radioDio1 = line(Port::A, 11, Use::input, Boot::analog);
inline constexpr Line radioDio2 = line(Port::A, 12, Use::input, Boot::analog);
inline constexpr Line radioDio3 = line(Port::A, 15, Use::input, Boot::analog);
inline constexpr Line radioSupply = line(Port::A, 8, Use::output, Boot::outputDrivenLow);
inline constexpr Line spiSck = peripheralPin(Port::A, 5, 0);
inline constexpr Line spiMiso = peripheralPin(Port::A, 6, 0);
inline constexpr Line spiMosi = peripheralPin(Port::A, 7, 0);

// The console: USART1.
inline constexpr Line consoleTx = peripheralPin(Port::A, 9, 1);
inline constexpr Line consoleRx = peripheralPin(Port::A, 10, 1);

// The analog front end: its supply, two gain selects, the clamp's range optos, and its ADC inputs.
inline constexpr Line frontEndSupply = line(Port::B, 5, Use::output, Boot::output);
inline constexpr Line gainSelect0 = line(Port::C, 7, Use::output, Boot::analog);
inline constexpr Line gainSelect1 = line(Port::C, 6, Use::output, Boot::analog);
inline constexpr Line rangeHighPower = line(Port::B, 6, Use::output, Boot::outputDrivenLow);  // the 20 ohm burden
inline constexpr Line rangeLowPower = line(Port::B, 7, Use::output, Boot::outputDrivenLow);   // the 270 ohm burden
inline constexpr Line clampHighPower = adcInput(Port::A, 0, 0, Boot::byPeripheral);  // across the 20 ohm burden
inline constexpr Line clampLowPower = adcInput(Port::A, 1, 1, Boot::byPeripheral);   // across the 270 ohm burden
inline constexpr Line clampLowSide = adcInput(Port::A, 2, 2, Boot::byPeripheral);    // the clamp's return, on the bias
inline constexpr Line analogSpare = adcInput(Port::A, 3, -1, Boot::byPeripheral);    // an ADC input not converted
inline constexpr Line eFieldCapacitive = adcInput(Port::A, 4, 4, Boot::byPeripheral);
// The inductive E-field pick-up: the GPIO bring-up drives the pin low, the ADC's set-up makes it an
// analog input again.
inline constexpr Line eFieldInductive = adcInput(Port::B, 1, 9, Boot::outputDrivenLow);

// Debug lines and the provisioning button.
inline constexpr Line debug1 = line(Port::D, 0, Use::output, Boot::analog);
inline constexpr Line debug2 = line(Port::B, 13, Use::output, Boot::analog);
inline constexpr Line debug3 = line(Port::B, 14, Use::output, Boot::analog);
inline constexpr Line debug4 = line(Port::B, 15, Use::output, Boot::analog);
inline constexpr Line provisioningButton = line(Port::D, 3, Use::input, Boot::input);

// Every port pin the bring-up or the firmware touches, the unconnected ones included (the bring-up
// sets them analog). The debug port (PA13, PA14) keeps its reset function.
inline constexpr Line kLines[] = {
    radioCs,
    radioReset,
    radioBusy,
    radioAntTx,
    radioAntRx,
    radioDio1,
    radioDio2,
    radioDio3,
    radioSupply,
    spiSck,
    spiMiso,
    spiMosi,
    consoleTx,
    consoleRx,
    frontEndSupply,
    gainSelect0,
    gainSelect1,
    rangeHighPower,
    rangeLowPower,
    clampHighPower,
    clampLowPower,
    clampLowSide,
    analogSpare,
    eFieldCapacitive,
    eFieldInductive,
    debug1,
    debug2,
    debug3,
    debug4,
    provisioningButton,
    line(Port::B, 3, Use::unused, Boot::analog),
    line(Port::B, 4, Use::unused, Boot::analog),
    line(Port::B, 8, Use::unused, Boot::analog),
    line(Port::B, 9, Use::unused, Boot::analog),
    line(Port::C, 13, Use::unused, Boot::analog),
    line(Port::C, 14, Use::unused, Boot::analog),
    line(Port::C, 15, Use::unused, Boot::analog),
    line(Port::D, 1, Use::unused, Boot::analog),
    line(Port::D, 2, Use::unused, Boot::analog),
    line(Port::F, 0, Use::unused, Boot::analog),
    line(Port::F, 1, Use::unused, Boot::analog),
};

// Pins of `port` that the bring-up leaves as `boot` (compile-time, so no table reaches the image).
consteval uint16_t bootPins(Port port, Boot boot) {
  uint16_t pins = 0;
  for (const Line& l : kLines) {
    if (l.port == port && l.boot == boot) pins = static_cast<uint16_t>(pins | l.mask());
  }
  return pins;
}

// Every output of `port` the bring-up sets up, driven low first or not.
consteval uint16_t outputPins(Port port) {
  return static_cast<uint16_t>(bootPins(port, Boot::output) | bootPins(port, Boot::outputDrivenLow));
}

// The ADC inputs of `port` (the converter's set-up makes them analog).
consteval uint16_t adcPins(Port port) {
  uint16_t pins = 0;
  for (const Line& l : kLines) {
    if (l.port == port && l.use == Use::analog) pins = static_cast<uint16_t>(pins | l.mask());
  }
  return pins;
}

// Pins of the given lines together.
consteval uint16_t pinsOf(std::initializer_list<Line> lines) {
  uint16_t pins = 0;
  for (const Line& l : lines) pins = static_cast<uint16_t>(pins | l.mask());
  return pins;
}

// No pin is described twice.
consteval bool eachPinOnce() {
  for (size_t i = 0; i < sizeof kLines / sizeof kLines[0]; ++i) {
    for (size_t j = i + 1; j < sizeof kLines / sizeof kLines[0]; ++j) {
      if (kLines[i].port == kLines[j].port && kLines[i].index == kLines[j].index) return false;
    }
  }
  return true;
}
static_assert(eachPinOnce(), "a pin of the board is described twice");

}  // namespace Wiring
