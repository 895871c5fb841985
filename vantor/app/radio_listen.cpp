// The Vantor on the board's own radio: the options, the bus, the receive loop, what it did.
#include "radio_listen.h"

#include "local_radio.h"

namespace vantor {

bool checkRadioOptions(const ListenOptions& o, RadioWiring& wiring, std::ostream& err) {
  std::string error;
  if (!parseRadioOption(o.radio, wiring, error) || !parseGpioOption(o.gpio, wiring, error)) {
    err << "vantor: " << error << '\n';
    return false;
  }
  if (!o.faults.empty() || o.atSet) {
    err << "vantor: --fault and --at are for the simulated air, not for a radio\n";
    return false;
  }
  return true;
}

int runOnRadio(const RadioWiring& wiring, RadioCore& core, const std::function<bool()>& stop, std::ostream& err,
               RadioSystem& system) {
  std::string error;
  std::unique_ptr<RadioBus> bus = RadioBus::open(system, wiring, error);
  if (!bus) {
    err << "vantor: " << error << '\n';
    return kExitRefused;
  }
  LocalRadio radio(*bus, core, err);
  if (!radio.start(error)) {
    err << "vantor: " << error << '\n';
    return kExitRefused;
  }
  err << "vantor: listening on " << wiring.spidev << " (" << wiring.chip
      << "): 868.0 MHz, SF7, 125 kHz, CR 4/5, sync word 0x12" << std::endl;
  radio.run(stop);
  const LocalRadio::Counts& n = radio.counts();
  err << "vantor: stopped: " << n.heard << " frames heard, " << n.dropped << " dropped by the radio (header or CRC), "
      << n.answered << " answers sent, " << n.failed << " not sent, " << n.resets << " resets of the radio"
      << std::endl;
  return kExitDone;
}

}  // namespace vantor
