// The records as JSON objects, for the CLI's --json lines and the dashboard's API.
#include "json_records.h"

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

}  // namespace vantor
