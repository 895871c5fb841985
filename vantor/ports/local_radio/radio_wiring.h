// Where the Vantor's own LLCC68 (or SX1262) sits on a Linux board: its spidev device and its GPIO
// lines, from `--radio spidev:/dev/spidevB.C` and `--gpio CHIP:busy=N,reset=N[,dio1=N][,rxen=N,txen=N]`.
#pragma once

#include <optional>
#include <string>

namespace vantor {

struct RadioWiring {
  std::string spidev;  // /dev/spidevB.C
  std::string chip;    // gpiochip0, /dev/gpiochip0, a chip's label or number (libgpiod's lookup)
  unsigned busy = 0;
  unsigned reset = 0;
  std::optional<unsigned> dio1;  // the chip's IRQ line: read instead of asking the chip over SPI
  // The module's antenna switch; without them the chip drives it from DIO2.
  std::optional<unsigned> rxen;
  std::optional<unsigned> txen;
};

// False with a message naming what is wrong.
bool parseRadioOption(const std::string& text, RadioWiring& wiring, std::string& error);
bool parseGpioOption(const std::string& text, RadioWiring& wiring, std::string& error);

}  // namespace vantor
