// The accounting of a fleet run, from its air log and the Vantor's registry.
#include "fleet_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "radio_medium.h"
#include "store.h"
#include "uplink_decode.h"

namespace sim {

namespace {

using nlohmann::json;

constexpr uint8_t kProvisionRequest = 10;
constexpr uint8_t kProvisionAnswer = 13;
constexpr size_t kProvisionAnswerLen = 143;
constexpr size_t kPhaseTagOffset = 67;  // packet 13: the phase tag's first copy
constexpr const char* kConfirmTag = "5555";
constexpr uint64_t kHourUs = 3'600'000'000;

bool isReading(const AirLine& l) { return l.sender == "node" && (l.code == 3 || l.code == 5); }
// The site's receivers: the Vantor on the air, or the gateways the Vantor hears through.
bool isReceiver(const AirLine& l) { return l.sender == "vantor" || l.sender == "gateway"; }

// A gateway's rxpk time ("2026-01-01T00:00:00.489468Z", the frame's end) as virtual microseconds.
std::optional<uint64_t> virtualEndUs(const std::string& text) {
  std::tm t{};
  unsigned us = 0;
  char z = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%6u%c", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec, &us, &z) != 8 ||
      z != 'Z') {
    return std::nullopt;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const int64_t s = static_cast<int64_t>(::timegm(&t)) - kGatewayEpochS;
  if (s < 0) return std::nullopt;
  return static_cast<uint64_t>(s) * 1000000 + us;
}

double seconds(uint64_t us) { return static_cast<double>(us) / 1e6; }

// Why a frame the Vantor did not store was lost.
enum class Loss { none, weak, vantorTransmitting, capture, collision, unexplained };

const char* lossName(Loss l) {
  switch (l) {
    case Loss::weak: return "too_weak";
    case Loss::vantorTransmitting: return "vantor_transmitting";
    case Loss::capture: return "capture";
    case Loss::collision: return "collision";
    case Loss::unexplained: return "unexplained";
    case Loss::none: break;
  }
  return "none";
}

struct Tally {
  uint64_t readingsSent = 0;
  uint64_t readingsStored = 0;
  std::map<std::string, uint64_t> lost;
  uint64_t frames = 0;
  uint64_t airtimeUs = 0;

  json toJson(uint64_t spanUs) const {
    json j;
    j["readings_sent"] = readingsSent;
    j["readings_stored"] = readingsStored;
    j["delivery_ratio"] = readingsSent == 0 ? json(nullptr) : json(double(readingsStored) / double(readingsSent));
    j["frames_on_air"] = frames;
    j["airtime_s"] = seconds(airtimeUs);
    // Offered load: airtime per unit of time; pure ALOHA delivers a frame with probability e^(-2G).
    const double g = spanUs == 0 ? 0.0 : double(airtimeUs) / double(spanUs);
    j["offered_load_g"] = g;
    j["aloha_prediction"] = std::exp(-2.0 * g);
    j["lost"] = json::object();
    for (const char* k : {"collision", "capture", "vantor_transmitting", "too_weak", "unexplained"}) {
      auto it = lost.find(k);
      j["lost"][k] = it == lost.end() ? 0 : it->second;
    }
    return j;
  }
};

}  // namespace

bool readAirLog(const std::string& path, std::vector<AirLine>& out, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read the air log " + path;
    return false;
  }
  std::string line;
  size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    try {
      const json j = json::parse(line);
      AirLine l;
      l.tUs = j.at("t_us").get<uint64_t>();
      l.toaUs = j.at("toa_us").get<uint64_t>();
      l.sender = j.at("sender").get<std::string>();
      l.name = j.value("name", l.sender);
      l.powerDbm = j.at("power_dbm").get<int>();
      l.hex = j.at("hex").get<std::string>();
      auto byte = [&](size_t i) {
        return i * 2 + 2 <= l.hex.size() ? static_cast<uint32_t>(std::stoul(l.hex.substr(i * 2, 2), nullptr, 16)) : 0u;
      };
      l.code = static_cast<uint8_t>(byte(0));
      l.uid = byte(1) | (byte(2) << 8) | (byte(3) << 16);
      out.push_back(std::move(l));
    } catch (const std::exception& e) {
      error = path + ":" + std::to_string(number) + ": " + e.what();
      return false;
    }
  }
  return true;
}

json fleetReport(const FleetRun& run, const std::vector<AirLine>& air, vantor::Store& registry) {
  std::map<std::string, const NodePlan*> planOf;
  for (const NodePlan& n : run.plan) planOf[n.name] = &n;
  std::map<std::string, const ParticipantFigures*> figuresOf;
  for (const ParticipantFigures& f : run.figures) figuresOf[f.name] = &f;
  std::map<uint32_t, vantor::NodeRecord> recordOfUid;
  for (const vantor::NodeRecord& r : registry.nodes()) recordOfUid[r.uid] = r;
  // Stored uplinks by the frame's start (heard on the air) or its end (the time of a gateway's rxpk).
  std::set<std::pair<uint64_t, std::string>> stored, storedByEnd;
  for (const vantor::UplinkRecord& u : registry.uplinks(std::nullopt, 1 << 30)) {
    const std::optional<uint64_t> end = u.rxTime ? virtualEndUs(*u.rxTime) : std::nullopt;
    if (end) {
      storedByEnd.insert({*end, u.hex});
    } else {
      stored.insert({u.tUs, u.hex});
    }
  }

  // What reaches the Vantor: each node's frames at its power less its loss; the demodulation floor.
  auto atVantorDbm = [&](const AirLine& l) {
    auto it = planOf.find(l.name);
    return l.powerDbm - (it == planOf.end() ? 80.0 : it->second->lossDb);
  };
  const double floorDbm = RadioMedium::noiseFloorDbm(125000) + RadioMedium::demodulationFloorDb(7);

  // The air log is in the order of the frames' starts.
  std::vector<const AirLine*> frames;
  uint64_t longestUs = 0;
  for (const AirLine& l : air) {
    frames.push_back(&l);
    longestUs = std::max(longestUs, l.toaUs);
  }
  std::stable_sort(frames.begin(), frames.end(), [](const AirLine* a, const AirLine* b) { return a->tUs < b->tUs; });

  auto lossOf = [&](size_t i) {
    const AirLine& f = *frames[i];
    if (atVantorDbm(f) < floorDbm) return Loss::weak;
    Loss why = Loss::unexplained;
    const uint64_t from = f.tUs > longestUs ? f.tUs - longestUs : 0;
    size_t k = i;
    while (k > 0 && frames[k - 1]->tUs >= from) --k;
    for (; k < frames.size() && frames[k]->tUs < f.endUs(); ++k) {
      const AirLine& g = *frames[k];
      if (k == i || g.endUs() <= f.tUs) continue;
      if (isReceiver(g)) return Loss::vantorTransmitting;
      if (atVantorDbm(g) >= atVantorDbm(f) + RadioMedium::kCaptureDb) {
        why = Loss::capture;
      } else if (why != Loss::capture) {
        why = Loss::collision;
      }
    }
    return why;
  };

  // Confirms the Vantor sent, by identity: the node holds its configuration once one arrived, and
  // from then on sends something other than provisioning requests.
  std::map<uint32_t, std::vector<const AirLine*>> confirms;
  for (const AirLine* l : frames) {
    if (isReceiver(*l) && l->code == kProvisionAnswer && l->hex.size() == kProvisionAnswerLen * 2 &&
        l->hex.compare(kPhaseTagOffset * 2, 4, kConfirmTag) == 0) {
      confirms[l->uid].push_back(l);
    }
  }

  struct PerNode {
    uint64_t framesSent = 0, framesStored = 0, framesLostCollision = 0;
    Tally tally;
    std::optional<uint64_t> firstCycleUs;   // first frame that is no provisioning request
    std::optional<uint64_t> firstStoredUs;  // the end of the first such frame the Vantor stored
    uint32_t uid = 0;                       // the identity its frames carry once provisioned
  };
  std::map<std::string, PerNode> nodes;
  Tally fleet, steady;
  std::vector<std::pair<uint64_t, uint64_t>> hours((run.endUs + kHourUs - 1) / kHourUs + 1);
  // The steady part: from one cycle after the last node began its cycles to the end.
  uint64_t lastFirstCycleUs = 0;
  bool everyNodeCycles = true;
  for (const AirLine* l : frames) {
    if (l->sender != "node") continue;
    PerNode& n = nodes[l->name];
    if (l->code != kProvisionRequest) {
      if (!n.firstCycleUs) n.firstCycleUs = l->tUs;
      n.uid = l->uid;
    }
  }
  for (const NodePlan& p : run.plan) {
    auto it = nodes.find(p.name);
    if (it == nodes.end() || !it->second.firstCycleUs) {
      everyNodeCycles = false;
    } else {
      lastFirstCycleUs = std::max(lastFirstCycleUs, *it->second.firstCycleUs);
    }
  }
  const uint64_t steadyFromUs = run.options.measureFromS
                                    ? static_cast<uint64_t>(std::llround(*run.options.measureFromS * 1e6))
                                    : lastFirstCycleUs + kSpreadUs;
  const bool hasSteady = (everyNodeCycles || run.options.measureFromS) && steadyFromUs < run.endUs;

  for (size_t i = 0; i < frames.size(); ++i) {
    const AirLine& l = *frames[i];
    fleet.frames++;
    fleet.airtimeUs += l.toaUs;
    const bool inSteady = hasSteady && l.tUs >= steadyFromUs;
    if (inSteady) {
      steady.frames++;
      steady.airtimeUs += l.toaUs;
    }
    if (l.sender != "node") continue;
    PerNode& n = nodes[l.name];
    n.framesSent++;
    const bool kept = stored.count({l.tUs, l.hex}) != 0 || storedByEnd.count({l.endUs(), l.hex}) != 0;
    const Loss why = kept ? Loss::none : lossOf(i);
    if (kept) n.framesStored++;
    if (kept && l.code != kProvisionRequest && !n.firstStoredUs) n.firstStoredUs = l.endUs();
    if (why == Loss::collision || why == Loss::capture) n.framesLostCollision++;
    if (!isReading(l)) continue;
    for (Tally* t : {&n.tally, &fleet, inSteady ? &steady : nullptr}) {
      if (t == nullptr) continue;
      t->readingsSent++;
      if (kept) {
        t->readingsStored++;
      } else {
        t->lost[lossName(why)]++;
      }
    }
    const size_t hour = std::min(hours.size() - 1, static_cast<size_t>(l.tUs / kHourUs));
    hours[hour].first++;
    if (kept) hours[hour].second++;
  }

  json report;
  json r;
  r["nodes"] = run.options.nodes;
  r["seed"] = run.options.seed;
  r["stop_after_s"] = run.options.stopAfterS;
  r["reached_s"] = seconds(run.endUs);
  r["power_on"] = run.options.spread ? "spread" : "together";
  r["radius_m"] = run.options.radiusM;
  r["gateways"] = run.options.gateways;
  r["path_loss_exponent"] = run.options.pathLossExponent;
  r["outage_at_s"] = run.options.outageAtS ? json(*run.options.outageAtS) : json(nullptr);
  r["settings"] = run.options.settings;
  r["wall_s"] = run.wallS;
  r["peak_rss_mib"] = run.peakRssMib;
  r["air_cpu_s"] = run.airCpuS;
  r["participants_cpu_s"] = run.participantsCpuS;
  uint64_t starts = 0;
  for (const ParticipantFigures& f : run.figures) starts += f.role == air::Role::node ? f.starts : 0;
  r["node_starts"] = starts;
  r["node_seconds_per_wall_second"] = run.wallS > 0 ? double(run.options.nodes) * seconds(run.endUs) / run.wallS : 0.0;
  report["run"] = r;

  json nodeList = json::array();
  uint64_t confirmed = 0;
  uint64_t allConfirmedUs = 0;  // when the last one was confirmed, if every one was
  for (const NodePlan& p : run.plan) {
    const PerNode& n = nodes[p.name];
    json j;
    j["name"] = p.name;
    j["chip_id"] = p.chipId;
    auto rec = n.uid == 0 ? recordOfUid.end() : recordOfUid.find(n.uid);
    j["uid"] = rec == recordOfUid.end() ? json(nullptr) : json(vantor::uidText(rec->second.uid));
    j["state"] = rec == recordOfUid.end() ? json("unknown") : json(rec->second.state);
    j["distance_m"] = std::round(p.distanceM * 100) / 100;
    j["loss_db"] = std::round(p.lossDb * 100) / 100;
    j["lsi_hz"] = p.lsiHz;
    j["load"] = p.load;
    j["power_on_s"] = seconds(p.powerOnUs);
    j["frames_sent"] = n.framesSent;
    j["frames_stored"] = n.framesStored;
    j["frames_lost_collision"] = n.framesLostCollision;
    j["readings_sent"] = n.tally.readingsSent;
    j["readings_stored"] = n.tally.readingsStored;
    auto fig = figuresOf.find(p.name);
    j["deferrals"] = fig == figuresOf.end() ? 0 : fig->second->deferrals;
    j["starts"] = fig == figuresOf.end() ? 0 : fig->second->starts;
    // Confirmed: at the end of the last confirm sent to it before it began its cycles, or (its
    // confirm lost) when the Vantor stored its first frame under the key it was assigned.
    std::optional<uint64_t> at;
    const char* by = nullptr;
    if (rec != recordOfUid.end() && n.firstCycleUs) {
      for (const AirLine* c : confirms[rec->second.uid]) {
        if (c->tUs < *n.firstCycleUs) at = c->endUs();
      }
      by = "handshake";
      if (!at && n.firstStoredUs) {
        at = n.firstStoredUs;
        by = "first tagged frame";
      }
    }
    j["confirmed_at_s"] = at ? json(seconds(*at)) : json(nullptr);
    j["confirmed_by"] = at ? json(by) : json(nullptr);
    if (at) {
      ++confirmed;
      allConfirmedUs = std::max(allConfirmedUs, *at);
    }
    nodeList.push_back(j);
  }

  json f = fleet.toJson(run.endUs);
  f["confirmed"] = confirmed;
  f["all_confirmed_at_s"] =
      confirmed == run.plan.size() && !run.plan.empty() ? json(seconds(allConfirmedUs)) : json(nullptr);
  report["fleet"] = f;
  if (hasSteady) {
    json s = steady.toJson(run.endUs - steadyFromUs);
    s["from_s"] = seconds(steadyFromUs);
    report["steady"] = s;
  } else {
    report["steady"] = nullptr;
  }
  json hourly = json::array();
  for (size_t h = 0; h < hours.size(); ++h) {
    if (h * kHourUs >= run.endUs) break;
    hourly.push_back(
        {{"from_s", double(h) * 3600.0}, {"readings_sent", hours[h].first}, {"readings_stored", hours[h].second}});
  }
  report["hours"] = hourly;
  report["nodes"] = nodeList;
  return report;
}

}  // namespace sim
