// orvane-sim options of the run's records and limits.
#include "trace_options.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
bool number(const char* text, double lo, double hi, double& out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= lo) || !(v <= hi)) return false;
  out = v;
  return true;
}

bool writable(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "a");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}
}  // namespace

bool parseTraceOption(int argc, char** argv, int& i, TraceOptions& out, std::string& message) {
  const std::string arg = argv[i];
  const bool takesValue = arg == "--stop-after" || arg == "--battery-mah" || arg == "--events" || arg == "--vcd";
  if (arg == "--energy-report") {
    out.energyReport = true;
    return true;
  }
  if (arg == "--button-held") {
    out.buttonHeld = true;
    return true;
  }
  if (!takesValue) return false;
  if (i + 1 >= argc) {
    message = "orvane-sim: " + arg + " needs a value\n";
    return true;
  }
  const char* v = argv[++i];
  if (arg == "--stop-after") {
    if (!number(v, 0.0, 1e9, out.stopAfterS)) message = "orvane-sim: --stop-after takes seconds, 0..1e9\n";
  } else if (arg == "--battery-mah") {
    if (!number(v, 1.0, 1e7, out.batteryMah)) message = "orvane-sim: --battery-mah takes 1..1e7 mAh\n";
  } else {
    std::string& path = arg == "--events" ? out.eventsPath : out.vcdPath;
    path = v;
    if (path.empty() || !writable(path))
      message = "orvane-sim: cannot write " + arg.substr(2) + " file '" + path + "'\n";
  }
  return true;
}

}  // namespace sim
