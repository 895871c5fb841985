// The records as JSON objects, for the CLI's --json lines and the dashboard's API.
#include "json_records.h"

#include <climits>

#include "activity.h"
#include "uplink_decode.h"

namespace vantor {

using nlohmann::json;

double secondsOf(uint64_t us) { return static_cast<double>(us) / 1e6; }

json nodeJson(const NodeRecord& n, uint64_t nowUs, const std::optional<UplinkRecord>& t) {
  const Activity a = activityOf(n, nowUs);
  json j;
  j["uid"] = uidText(n.uid);
  j["chip_id"] = n.chipId;
  j["state"] = n.state;
  j["last_counter"] = n.lastCounter ? json(*n.lastCounter) : json(nullptr);
  j["last_seen_s"] = n.lastSeenUs ? json(secondsOf(*n.lastSeenUs)) : json(nullptr);
  j["active"] = a.active;
  j["activity"] = a.name;
  j["expected_interval_s"] = n.expectedIntervalS;
  j["sign_of_life_s"] = signOfLifeS();
  j["last_telemetry"] = t ? t->fields : json(nullptr);
  j["calibration"] = nodeCalibrationJson(n.calibration);
  return j;
}

json nodeJson(Store& store, const NodeRecord& n, uint64_t nowUs) {
  return nodeJson(n, nowUs, store.lastTelemetry(n.uid));
}

json uplinkJson(const UplinkRecord& u) {
  json j;
  j["id"] = u.id;
  j["t_s"] = secondsOf(u.tUs);
  j["uid"] = uidText(u.uid);
  j["code"] = u.code;
  j["counter"] = u.counter ? json(*u.counter) : json(nullptr);
  j["len"] = u.len;
  j["rssi_dbm"] = u.rssiDbm ? json(*u.rssiDbm) : json(nullptr);
  j["snr_db"] = u.snrDb ? json(*u.snrDb) : json(nullptr);
  j["tag_ok"] = u.tagOk;
  j["verdict"] = u.verdict;
  // Where a port says which of its receivers heard it (a gateway: its EUI, counter and time).
  if (!u.port.empty()) j["port"] = u.port;
  if (!u.receiver.empty()) j["receiver"] = u.receiver;
  if (u.tmst) j["tmst"] = *u.tmst;
  if (u.rxTime) j["rx_time"] = *u.rxTime;
  for (auto it = u.fields.begin(); it != u.fields.end(); ++it) j[it.key()] = it.value();
  return j;
}

json gatewayJson(const GatewayRecord& g) {
  json j;
  j["eui"] = g.eui.empty() ? json(nullptr) : json(g.eui);
  j["address"] = g.address.empty() ? json(nullptr) : json(g.address);
  j["last_seen_s"] = g.lastSeenUs ? json(secondsOf(*g.lastSeenUs)) : json(nullptr);
  j["latitude"] = g.latitude ? json(*g.latitude) : json(nullptr);
  j["longitude"] = g.longitude ? json(*g.longitude) : json(nullptr);
  j["altitude"] = g.altitude ? json(*g.altitude) : json(nullptr);
  j["heard"] = g.counters.value("heard", 0);
  j["forwarded"] = g.counters.value("forwarded", 0);
  j["dropped"] = g.counters.value("dropped", json::object());
  j["sent"] = g.counters.value("sent", 0);
  j["refused"] = g.counters.value("refused", json::object());
  j["last_error"] = g.lastError.empty() ? json(nullptr) : json(g.lastError);
  j["stat"] = g.stat;
  return j;
}

json captureRowJson(const CaptureRecord& cap, const CaptureSample& s) {
  json j;
  j["uid"] = uidText(cap.uid);
  j["code"] = cap.code;
  j["counter"] = cap.counter;
  j["row"] = s.row;
  j["b_field"] = s.bField;
  j["e_field_ind"] = s.eFieldInd;
  j["e_field_cap"] = s.eFieldCap ? json(*s.eFieldCap) : json(nullptr);
  return j;
}

json queueItemJson(const QueueItem& q) {
  json j;
  j["id"] = q.id;
  j["uid"] = uidText(q.uid);
  j["setting"] = q.setting;
  j["value"] = q.value;
  j["state"] = q.state;
  j["reason"] = q.reason.empty() ? json(nullptr) : json(q.reason);
  j["attempts"] = q.attempts;
  j["max_attempts"] = q.maxAttempts;
  if (!q.lastError.empty()) j["last_error"] = q.lastError;  // why its last send was refused
  return j;
}

json nodeCalibrationJson(const std::optional<NodeCalibration>& c) {
  if (!c) return nullptr;
  json j;
  j["at_s"] = secondsOf(c->atUs);
  j["known_pf"] = c->knownPf;
  j["leading"] = c->leading;
  j["correction_rad"] = c->correctionRad;
  j["spread_rad"] = c->spreadRad;
  j["readings"] = c->readings;
  return j;
}

std::optional<CalibrationRequest> calibrationRequestOf(const std::string& node, const json& j, std::string& error) {
  if (!j.is_object()) {
    error = "a calibration takes a JSON object: {\"known_pf\": 0.8, \"leading\": false, \"readings\": 16}";
    return std::nullopt;
  }
  CalibrationRequest r;
  r.node = node;
  if (!j.contains("known_pf")) {
    error = "known_pf is required: the load's power factor (1: purely resistive)";
    return std::nullopt;
  }
  for (auto it = j.begin(); it != j.end(); ++it) {
    const json& v = it.value();
    if (it.key() == "known_pf" && v.is_number()) {
      r.knownPf = v.get<double>();
    } else if (it.key() == "leading" && v.is_boolean()) {
      r.leading = v.get<bool>();
    } else if (it.key() == "readings" && v.is_number_integer() && v.get<int64_t>() >= INT_MIN &&
               v.get<int64_t>() <= INT_MAX) {
      r.readings = static_cast<int>(v.get<int64_t>());
    } else {
      error = it.key() == "known_pf"   ? "known_pf takes the load's power factor, above 0 and at most 1"
              : it.key() == "leading"  ? "leading takes true or false"
              : it.key() == "readings" ? "readings takes a whole number"
                                       : "unknown field '" + it.key() + "': known_pf, leading, readings";
      return std::nullopt;
    }
  }
  return r;
}

json calibrationJson(const CalibrationRecord& c) {
  const auto opt = [](const std::optional<double>& v) { return v ? json(*v) : json(nullptr); };
  json j;
  j["id"] = c.id;
  j["uid"] = uidText(c.uid);
  j["known_pf"] = c.knownPf;
  j["leading"] = c.leading;
  j["readings"] = c.readings;
  j["state"] = c.state;
  j["open"] = c.open();
  j["message"] = c.message;
  j["start_rad"] = floatValue(c.startRad);
  j["previous_rad"] = floatValue(c.previousRad);
  j["restore_debug_rate"] = c.restoreRate;
  j["shifts_rad"] = c.shifts;
  j["mean_shift_rad"] = opt(c.meanShiftRad);
  j["spread_rad"] = opt(c.spreadRad);
  j["correction_rad"] = opt(c.correctionRad);
  j["checks_pf"] = c.checks;
  j["items"] = c.items;
  j["started_s"] = secondsOf(c.startedUs);
  j["updated_s"] = secondsOf(c.updatedUs);
  return j;
}

}  // namespace vantor
