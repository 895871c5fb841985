// `vantor listen --radio spidev:/dev/spidevB.C --gpio CHIP:busy=N,reset=N[,dio1=N][,rxen=N,txen=N]`:
// the Vantor on its own LLCC68 (or SX1262) on a Linux board, its options and its run.
#pragma once

#include <functional>
#include <ostream>

#include "cli.h"
#include "radio_port.h"
#include "radio_system.h"
#include "radio_wiring.h"

namespace vantor {

// Checks --radio and --gpio, and what belongs to the simulated air (--fault, --at); false with the
// message on `err`.
bool checkRadioOptions(const ListenOptions& options, RadioWiring& wiring, std::ostream& err);
// Receives and answers until `stop` says so, then says what it heard and sent. Exit status 0, or 1
// when the SPI device, the lines or the chip cannot be used.
int runOnRadio(const RadioWiring& wiring, RadioCore& core, const std::function<bool()>& stop, std::ostream& err,
               RadioSystem& system = linuxSystem());

}  // namespace vantor
