// The site orvane-fleet simulates (docs/fleet.md): each node's name, chip, seed, LSI, position and
// load, and when it is powered on; all drawn from the fleet's seed, so a run repeats.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "air_protocol.h"

namespace sim {

struct FleetOptions {
  unsigned nodes = 10;
  double stopAfterS = 3600;
  uint64_t seed = 1;
  std::string dir = ".orvane-fleet";
  bool spread = false;  // --power-on spread: over one 600 s cycle, else together at 0
  std::string loadMix;  // file of loads, or empty
  double radiusM = 100;
  double pathLossExponent = 3.0;
  std::optional<double> outageAtS;     // every node's supply cut at this virtual time
  std::optional<double> measureFromS;  // the report's steady part starts here (else one cycle after
                                       // the last node began its cycles)
  std::vector<std::string> settings;   // queued by the Vantor for every node it confirms
  unsigned processes = 0;              // orvane-air's --processes (0: the host's cores)
  unsigned gateways = 0;               // 0: the Vantor on the air; else this many orvane-gateway
  bool quiet = false;
};

struct NodePlan {
  std::string name;
  std::string chipId;  // 24 hex digits
  uint64_t seed = 0;
  uint32_t lsiHz = 32000;
  air::Position at;
  double distanceM = 0;  // to the nearest receiver (the Vantor, or a gateway)
  double lossDb = 0;     // to it
  std::string load;
  uint64_t powerOnUs = 0;
};

// The datasheet's LSI at 3.0 V and 30 degC (STM32G070, DS12766, LSI oscillator characteristics):
// the spread of parts at one site, whose cycles therefore drift apart.
constexpr uint32_t kLsiMinHz = 31040;
constexpr uint32_t kLsiMaxHz = 32960;
// Spread power-on: over one cycle of the field build's default sleep.
constexpr uint64_t kSpreadUs = 600'000'000;
// No node stands closer to the Vantor than this.
constexpr double kMinDistanceM = 2.0;
constexpr const char* kDefaultLoad = "current=5,pf=0.8";
// The gateways' epoch: virtual time 0 is this Unix time in their `time` fields (orvane-gateway --epoch).
constexpr int64_t kGatewayEpochS = 1767225600;  // 2026-01-01T00:00:00Z

// Loads, one per line (the items of orvane-sim's --load), each optionally preceded by a weight
// "N*"; blank lines and # comments are skipped. Node i gets entry i modulo the list. False with a
// message naming the line.
bool readLoadMix(const std::string& path, std::vector<std::string>& loads, std::string& error);

// Where the site's receivers stand: the Vantor at the centre, or the gateways (one at the centre;
// more evenly on a circle of half the site's radius, the first on the x axis).
std::vector<air::Position> receiverPositions(const FleetOptions& options);
// The n-th gateway's EUI (from 1): 4F5256FFFE000000 + n ("ORV" and the FFFE of an EUI-64 made from a
// MAC address).
uint64_t gatewayEui(unsigned n);

std::vector<NodePlan> planFleet(const FleetOptions& options, const std::vector<std::string>& loads);

}  // namespace sim
