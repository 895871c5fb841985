// The Vantor on the board's own radio: the site, the bus, the receive loop, a clean stop.
#include "radio_listen.h"

#include <atomic>
#include <csignal>

#include "listen_site.h"
#include "local_radio.h"

namespace vantor {

namespace {

std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onStopSignal(int) { gStop = true; }

}  // namespace

int listenOnRadio(const ListenOptions& o, std::ostream& err, RadioSystem& system) {
  RadioWiring wiring;
  std::string error;
  if (!parseRadioOption(o.radio, wiring, error) || !parseGpioOption(o.gpio, wiring, error)) {
    err << "vantor: " << error << '\n';
    return kExitUsage;
  }
  if (!o.faults.empty() || o.atSet) {
    err << "vantor: --fault and --at are for the simulated air, not for a radio\n";
    return kExitUsage;
  }
  ListenSite site;
  if (const int status = openListenSite(o, err, site); status != kExitDone) return status;
  std::unique_ptr<RadioBus> bus = RadioBus::open(system, wiring, error);
  if (!bus) {
    err << "vantor: " << error << '\n';
    return kExitRefused;
  }
  LocalRadio radio(*bus, *site.core, err);
  if (!radio.start(error)) {
    err << "vantor: " << error << '\n';
    return kExitRefused;
  }
  err << "vantor: listening on " << wiring.spidev << " (" << wiring.chip
      << "): 868.0 MHz, SF7, 125 kHz, CR 4/5, sync word 0x12" << std::endl;
  gStop = false;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  radio.run([] { return gStop.load(); });
  const LocalRadio::Counts& n = radio.counts();
  err << "vantor: stopped: " << n.heard << " frames heard, " << n.dropped << " dropped by the radio (header or CRC), "
      << n.answered << " answers sent, " << n.failed << " not sent, " << n.resets << " resets of the radio"
      << std::endl;
  return kExitDone;
}

}  // namespace vantor
