// orvane-sim options of the run's records and limits (--stop-after, --energy-report,
// --battery-mah, --events, --vcd) and of the board's provisioning button (--button-held).
#pragma once

#include <string>

#define SIM_TRACE_USAGE_TEXT                                                                          \
  "  --stop-after SEC   end the run after SEC seconds of virtual time (through standby and resets)\n" \
  "  --energy-report    at the end print the energy account (stderr), its last line\n"                \
  "                     'energy: average <uA> uA, battery <years> years'\n"                           \
  "  --battery-mah MAH  battery of the report, 85 % usable (default 2600)\n"                          \
  "  --events FILE      append every board event to FILE, one JSON line each\n"                       \
  "  --vcd FILE         write pin levels and power states as a VCD trace (PulseView, GTKWave)\n"      \
  "  --button-held      the provisioning button (PD3) is held at this start (released on restart)\n"

namespace sim {

struct TraceOptions {
  double stopAfterS = -1;  // < 0: no limit
  bool energyReport = false;
  double batteryMah = 2600;
  std::string eventsPath;
  std::string vcdPath;
  bool buttonHeld = false;
};

// Takes argv[i] (and its value) when it is one of these options: returns true when it was, with
// `message` set on a bad value; false when the option is not one of them.
bool parseTraceOption(int argc, char** argv, int& i, TraceOptions& out, std::string& message);

}  // namespace sim
