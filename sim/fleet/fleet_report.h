// orvane-fleet's report (docs/fleet.md): from the air log and the Vantor's registry alone, what
// each node sent, what was stored, and why each lost frame was lost (an overlap, the capture of
// the receiver by a stronger frame, the Vantor transmitting, too weak a signal); the delivery of
// readings and the pure-ALOHA prediction e^(-2G) from the frames actually sent.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "air_server.h"
#include "fleet_plan.h"

namespace vantor {
class Store;
}

namespace sim {

// One line of the air log.
struct AirLine {
  uint64_t tUs = 0;
  uint64_t toaUs = 0;
  std::string sender;
  std::string name;
  int powerDbm = 0;
  std::string hex;
  uint8_t code = 0;  // the first byte
  uint32_t uid = 0;  // bytes 1 to 3, least significant first
  uint64_t endUs() const { return tUs + toaUs; }
};

bool readAirLog(const std::string& path, std::vector<AirLine>& out, std::string& error);

struct FleetRun {
  FleetOptions options;
  std::vector<NodePlan> plan;
  std::vector<ParticipantFigures> figures;
  uint64_t endUs = 0;
  double wallS = 0;
  double peakRssMib = 0;        // every process of the run at once, sampled each second
  double airCpuS = 0;           // orvane-fleet's own process: the air's server and the report
  double participantsCpuS = 0;  // the nodes' and the Vantor's processes
};

nlohmann::json fleetReport(const FleetRun& run, const std::vector<AirLine>& air, vantor::Store& registry);

}  // namespace sim
