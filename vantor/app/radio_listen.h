// `vantor listen --radio spidev:/dev/spidevB.C --gpio CHIP:busy=N,reset=N[,dio1=N][,rxen=N,txen=N]`:
// the Vantor on its own LLCC68 (or SX1262) on a Linux board, with the registry and outputs of every
// `vantor listen`, until SIGINT or SIGTERM.
#pragma once

#include <ostream>

#include "cli.h"
#include "radio_system.h"

namespace vantor {

// Exit status as the CLI's: 0 stopped by a signal, 1 refused (the database, the SPI device, the
// lines, a radio that does not answer), 2 usage.
int listenOnRadio(const ListenOptions& options, std::ostream& err, RadioSystem& system = linuxSystem());

}  // namespace vantor
