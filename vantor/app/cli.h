// The vantor command: the registry, uplinks, captures and settings queue of a Vantor database,
// as text tables or one JSON object per line. Exit codes: 0 done, 1 refused, 2 usage.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "output_options.h"

namespace vantor {

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

// The database of orvane-sim's default state folder.
constexpr const char* kDefaultDatabase = ".orvane-sim/vantor.sqlite";

// `vantor listen`: the Vantor as a participant of orvane-air and/or the server of LoRa gateways
// (vantor/app/air_listen.h).
struct ListenOptions {
  std::string air;      // unix:PATH
  std::string gateway;  // udp://ADDR[:PORT]
  int gatewayPowerDbm = 14;
  int gatewayAnswerDelayMs = 300;
  std::string dbPath;
  std::string name = "vantor";
  uint64_t seed = 1;
  bool atSet = false;
  double atX = 0;
  double atY = 0;
  std::vector<std::string> faults;
  std::vector<std::string> settings;  // queued for every node it confirms, e.g. "sleep 600 force-rx"
  OutputOptions outputs;              // MQTT, the dashboard
};
using ListenCommand = int (*)(const ListenOptions& options, std::ostream& err);

// `listen` is offered when the program hands in its radio (the vantor program does; the registry's
// own tests need none).
int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, ListenCommand listen = nullptr);

}  // namespace vantor
