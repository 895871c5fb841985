// orvane-sim options of the radio world (--air-log, --air-script, --link-loss, --interferer,
// --radio-fault): their checks and how they set up the medium and the transceiver.
#pragma once

#include <cstdint>
#include <string>

#include "options.h"

// Their lines of the usage text.
#define SIM_RADIO_USAGE_TEXT                                                                             \
  "  --air-log FILE     append every radio transmission to FILE, one JSON line each\n"                   \
  "  --air-script FILE  scripted test transmitter: one frame per line (see sim/RADIO.md)\n"              \
  "  --link-loss DB     path loss between the node and other radios (default 80)\n"                      \
  "  --interferer DBM[:ON_MS:OFF_MS]  a carrier on the channel, always on or pulsed\n"                   \
  "  --radio-fault F    inject a transceiver fault (repeatable):\n"                                      \
  "                     absent | busy-stuck | busy-stuck-after-command | spi-error[=N] | irq-silent |\n" \
  "                     device-errors=0xHHHH | device-errors-persist=0xHHHH, each optionally @MS\n"

namespace sim {

class AirScript;
class Llcc68Model;
class RadioMedium;
struct Interferer;

// "FAULT[@MS]": the fault and the virtual milliseconds after start at which it appears (0: at once).
bool splitRadioFault(const std::string& text, std::string& fault, uint64_t& atMs, std::string& error);
// Checks every radio option (readable script, writable log, known faults).
bool checkRadioOptions(const Options& options, std::string& message);
// Applies the checked options to the board's medium, script and transceiver (faults with a time
// fall due that long after `nowUs`).
void applyRadioOptions(const Options& options, RadioMedium& medium, AirScript& script, Llcc68Model& radio,
                       uint64_t nowUs);

}  // namespace sim
