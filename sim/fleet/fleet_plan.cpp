// The site of orvane-fleet, drawn from its seed.
#include "fleet_plan.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "air_server.h"
#include "analog_frontend.h"

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A uniform draw in [0, 1) from 53 bits of the generator (the generator's sequence is fixed by the
// standard; the library's distributions are not).
double unit(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) / 9007199254740992.0; }

}  // namespace

bool readLoadMix(const std::string& path, std::vector<std::string>& loads, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read the load mix " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;
    unsigned weight = 1;
    std::string items = line;
    const size_t star = first.find('*');
    if (star != std::string::npos && star + 1 == first.size()) {
      char* end = nullptr;
      const unsigned long w = std::strtoul(first.c_str(), &end, 10);
      if (end != first.c_str() + star || w == 0 || w > 100000) {
        error = path + ":" + std::to_string(number) + ": a weight is N* with N from 1 to 100000";
        return false;
      }
      weight = static_cast<unsigned>(w);
      items = line.substr(line.find('*') + 1);
    }
    Scenario check;
    std::string why;
    if (!parseScenario(items, check, why)) {
      error = path + ":" + std::to_string(number) + ": " + why;
      return false;
    }
    // One line of items for orvane-sim's --load (blanks become commas).
    std::istringstream parts(items);
    std::string load;
    for (std::string w; parts >> w;) load += (load.empty() ? "" : ",") + w;
    if (load.empty()) {
      error = path + ":" + std::to_string(number) + ": a weight needs a load after it";
      return false;
    }
    for (unsigned i = 0; i < weight; ++i) loads.push_back(load);
  }
  if (loads.empty()) {
    error = "the load mix " + path + " holds no load";
    return false;
  }
  return true;
}

std::vector<air::Position> receiverPositions(const FleetOptions& o) {
  if (o.gateways <= 1) return {air::Position{0, 0}};
  std::vector<air::Position> at;
  for (unsigned i = 0; i < o.gateways; ++i) {
    const double angle = 2 * kPi * i / o.gateways;
    at.push_back(air::Position{std::round(o.radiusM / 2 * std::cos(angle) * 100) / 100,
                               std::round(o.radiusM / 2 * std::sin(angle) * 100) / 100});
  }
  return at;
}

uint64_t gatewayEui(unsigned n) { return 0x4F5256FFFE000000ull + n; }

std::vector<NodePlan> planFleet(const FleetOptions& o, const std::vector<std::string>& loads) {
  std::mt19937_64 rng(o.seed);
  const size_t width = std::max<size_t>(4, std::to_string(o.nodes).size());
  const std::vector<air::Position> receivers = receiverPositions(o);
  std::vector<NodePlan> plan;
  for (unsigned i = 0; i < o.nodes; ++i) {
    NodePlan n;
    const std::string number = std::to_string(i + 1);
    n.name = "n" + std::string(width - number.size(), '0') + number;
    // Evenly over the disc's area, none closer than the minimum.
    const double r2min = kMinDistanceM * kMinDistanceM;
    const double r = std::sqrt(r2min + unit(rng) * (o.radiusM * o.radiusM - r2min));
    const double angle = 2 * kPi * unit(rng);
    n.at = air::Position{std::round(r * std::cos(angle) * 100) / 100, std::round(r * std::sin(angle) * 100) / 100};
    n.distanceM = INFINITY;
    for (const air::Position& r : receivers) {
      const double d = std::hypot(n.at.x - r.x, n.at.y - r.y);
      if (d < n.distanceM) {
        n.distanceM = d;
        n.lossDb = AirServer::pathLossDb(o.pathLossExponent, n.at, r);
      }
    }
    n.lsiHz = kLsiMinHz + static_cast<uint32_t>(std::floor(unit(rng) * (kLsiMaxHz - kLsiMinHz + 1)));
    n.powerOnUs = o.spread ? static_cast<uint64_t>(unit(rng) * static_cast<double>(kSpreadUs)) : 0;
    n.seed = rng();
    char chip[32];
    std::snprintf(chip, sizeof chip, "%016llX%08X", static_cast<unsigned long long>(rng()), i + 1);
    n.chipId = chip;
    n.load = loads.empty() ? kDefaultLoad : loads[i % loads.size()];
    plan.push_back(n);
  }
  return plan;
}

}  // namespace sim
