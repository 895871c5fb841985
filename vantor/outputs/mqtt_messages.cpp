// Topics and JSON texts of the Vantor's MQTT output and commands.
#include "mqtt_messages.h"

#include <unistd.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>

#include "activity.h"
#include "json_records.h"
#include "uplink_decode.h"

namespace vantor {

namespace {

using nlohmann::json;

constexpr const char* kDiscoveryPrefix = "homeassistant";
constexpr double kMainsVolts = 230.0;  // the node's power figure: 230 V x current x power factor

double seconds(uint64_t us) { return rounded(static_cast<double>(us) / 1e6, 6); }

std::string nodeTopic(const MqttSettings& m, uint32_t uid, const char* what) {
  return m.prefix + "/" + uidText(uid) + "/" + what;
}

// A reading's fields at the resolution they were sent with, and the node's power figure.
json readingFields(const json& f) {
  json r;
  const double current = rounded(f.value("current_a", 0.0), 3);
  const double pf = rounded(f.value("power_factor", 0.0), 2);
  r["current_a"] = current;
  r["power_w"] = rounded(kMainsVolts * current * pf, 2);
  r["power_factor"] = pf;
  r["temperature_c"] = rounded(f.value("temperature_c", 0.0), 2);  // steps of 1/3 degC
  r["supply_v"] = rounded(f.value("supply_v", 0.0), 3);            // steps of 5 mV
  r["listen"] = f.value("listen", false);
  return r;
}

bool isReading(const UplinkRecord& u) { return (u.code == 3 || u.code == 5) && u.verdict == "accepted"; }

json itemJson(const QueueItem& q) {
  json j;
  j["id"] = q.id;
  j["setting"] = q.setting;
  j["value"] = q.value;
  j["state"] = q.state;
  j["reason"] = q.reason.empty() ? json(nullptr) : json(q.reason);
  j["attempts"] = q.attempts;
  return j;
}

}  // namespace

double rounded(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

bool parseMqttUrl(const std::string& url, std::string& host, int& port, std::string& error) {
  const std::string scheme = "mqtt://";
  if (url.rfind(scheme, 0) != 0) {
    error = "'" + url + "' is not an mqtt://HOST:PORT URL";
    return false;
  }
  std::string rest = url.substr(scheme.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const size_t colon = rest.rfind(':');
  host = colon == std::string::npos ? rest : rest.substr(0, colon);
  port = 1883;
  if (colon != std::string::npos) {
    const std::string digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(digits) < 1 || std::stoi(digits) > 65535) {
      error = "'" + url + "': the port is a number, 1..65535";
      return false;
    }
    port = std::stoi(digits);
  }
  if (host.empty() || host.find('/') != std::string::npos) {
    error = "'" + url + "' names no host";
    return false;
  }
  return true;
}

bool checkMqttSettings(const MqttSettings& m, std::string& error) {
  std::string host;
  int port = 0;
  if (!parseMqttUrl(m.url, host, port, error)) return false;
  if (m.prefix.empty() || m.prefix.find_first_of("+#") != std::string::npos || m.prefix.front() == '/' ||
      m.prefix.back() == '/') {
    error = "the prefix '" + m.prefix + "' must be a topic without wildcards, with no leading or trailing '/'";
    return false;
  }
  if (m.clientId.find_first_of("+#/") != std::string::npos) {
    error = "the client id '" + m.clientId + "' may not hold '+', '#' or '/'";
    return false;
  }
  return true;
}

std::string mqttClientId(const MqttSettings& m) {
  if (!m.clientId.empty()) return m.clientId;
  char host[64] = "";
  gethostname(host, sizeof host - 1);
  std::string id = "vantor-";
  for (const char* c = host; *c != '\0'; ++c) id += (*c == '+' || *c == '#' || *c == '/') ? '_' : *c;
  return id;
}

std::string availabilityTopic(const MqttSettings& m) {
  return m.prefix + "/vantor/" + mqttClientId(m) + "/availability";
}

std::vector<MqttMessage> outcomeMessages(const Stored& s, const std::optional<NodeRecord>& node,
                                         const MqttSettings& m) {
  std::vector<MqttMessage> out;
  if (s.uplink) {
    const UplinkRecord& u = *s.uplink;
    json up;
    up["uid"] = uidText(u.uid);
    up["chip_id"] = node ? json(node->chipId) : json(nullptr);
    up["code"] = u.code;
    up["counter"] = u.counter ? json(*u.counter) : json(nullptr);
    up["t_s"] = seconds(u.tUs);
    up["rssi_dbm"] = u.rssiDbm ? json(rounded(*u.rssiDbm, 1)) : json(nullptr);
    up["snr_db"] = u.snrDb ? json(rounded(*u.snrDb, 1)) : json(nullptr);
    up["verdict"] = u.verdict;
    const json fields = (u.code == 3 || u.code == 5) && u.tagOk ? readingFields(u.fields) : u.fields;
    for (auto it = fields.begin(); it != fields.end(); ++it) up[it.key()] = it.value();
    out.push_back({nodeTopic(m, u.uid, "up"), up.dump(), false});
    if (isReading(u)) {
      json reading = readingFields(u.fields);
      reading["uid"] = uidText(u.uid);
      reading["counter"] = up["counter"];
      reading["t_s"] = up["t_s"];
      out.push_back({nodeTopic(m, u.uid, "reading"), reading.dump(), false});
    }
    if (u.code == 17 && u.verdict == "accepted") {
      json ack;
      ack["uid"] = uidText(u.uid);
      ack["counter"] = up["counter"];
      ack["t_s"] = up["t_s"];
      ack["ok"] = u.fields.value("ok", false);
      ack["reason"] = u.fields.value("reason", "");
      ack["setting"] = s.answered ? itemJson(*s.answered) : json(nullptr);
      out.push_back({nodeTopic(m, u.uid, "ack"), ack.dump(), false});
    }
  }
  if (s.node) out.push_back(statusMessage(*s.node, s.nowUs, m));
  for (const CalibrationRecord& c : s.calibrations) {
    out.push_back({nodeTopic(m, c.uid, "calibration"), calibrationJson(c).dump(), true});
  }
  if (s.gateway) {
    if (std::optional<MqttMessage> g = gatewayStatusMessage(*s.gateway, m)) out.push_back(std::move(*g));
  }
  return out;
}

bool changesDiscovery(const Stored& s) {
  if (s.uplink && s.uplink->verdict == "accepted" && s.uplink->code == 8) return true;
  // An identity assigned (the confirm that follows changes nothing the configs say).
  if (s.uplink && s.uplink->verdict == "accepted" && s.uplink->code == 10 && s.node && s.node->state == "assigned") {
    return true;
  }
  return s.answered && s.answered->state == "done" && s.answered->setting == "sleep";
}

MqttMessage statusMessage(const NodeRecord& n, uint64_t nowUs, const MqttSettings& m) {
  const Activity a = activityOf(n, nowUs);
  json j;
  j["uid"] = uidText(n.uid);
  j["chip_id"] = n.chipId;
  j["state"] = n.state;
  j["activity"] = a.name;
  j["active"] = a.active;
  j["last_counter"] = n.lastCounter ? json(*n.lastCounter) : json(nullptr);
  j["last_seen_s"] = n.lastSeenUs ? json(seconds(*n.lastSeenUs)) : json(nullptr);
  j["expected_interval_s"] = n.expectedIntervalS;
  j["t_s"] = seconds(nowUs);
  return {nodeTopic(m, n.uid, "status"), j.dump(), true};
}

std::optional<MqttMessage> gatewayStatusMessage(const GatewayRecord& g, const MqttSettings& m) {
  if (g.eui.empty()) return std::nullopt;
  return MqttMessage{m.prefix + "/gateway/" + g.eui + "/status", gatewayJson(g).dump(), true};
}

std::vector<MqttMessage> discoveryMessages(const NodeRecord& n, const std::optional<UplinkRecord>& packet8,
                                           const MqttSettings& m) {
  struct Sensor {
    const char* field;  // of the topic and the unique id
    const char* name;
    const char* key;  // in the reading
    const char* deviceClass;
    const char* unit;  // none for a ratio
  } sensors[] = {
      {"current", "Current", "current_a", "current", "A"},
      {"power", "Power", "power_w", "power", "W"},
      {"power_factor", "Power factor", "power_factor", "power_factor", nullptr},
      {"temperature", "Temperature", "temperature_c", "temperature", "\u00B0C"},
      {"supply_voltage", "Supply voltage", "supply_v", "voltage", "V"},
  };
  json device;
  device["identifiers"] = json::array({"orvane_" + n.chipId});
  device["name"] = "Orvane " + uidText(n.uid);
  device["model"] = "Orvane clamp node";
  device["manufacturer"] = "Orvane";
  if (packet8) {
    device["sw_version"] = packet8->fields.value("git_revision", "");
    if (packet8->fields.contains("hw_revision")) device["hw_version"] = packet8->fields["hw_revision"].dump();
  }
  std::vector<MqttMessage> out;
  const std::string object = "orvane_" + uidText(n.uid);
  for (const Sensor& s : sensors) {
    json c;
    c["name"] = s.name;
    c["unique_id"] = object + "_" + s.field;
    c["state_topic"] = nodeTopic(m, n.uid, "reading");
    c["value_template"] = std::string("{{ value_json.") + s.key + " }}";
    c["device_class"] = s.deviceClass;
    if (s.unit != nullptr) c["unit_of_measurement"] = s.unit;
    c["state_class"] = "measurement";
    c["expire_after"] = static_cast<int64_t>(std::ceil(3 * n.expectedIntervalS));
    c["availability_topic"] = availabilityTopic(m);
    c["payload_available"] = "online";
    c["payload_not_available"] = "offline";
    c["device"] = device;
    out.push_back({std::string(kDiscoveryPrefix) + "/sensor/" + object + "_" + s.field + "/config", c.dump(), true});
  }
  return out;
}

std::string commandTopic(const MqttSettings& m) { return m.prefix + "/+/command/set"; }
std::string calibrateTopic(const MqttSettings& m) { return m.prefix + "/+/command/calibrate"; }

namespace {
constexpr std::string_view kCalibrateTail = "/command/calibrate";
}

bool isCalibrateCommand(const std::string& topic) { return topic.ends_with(kCalibrateTail); }

std::optional<std::string> commandNode(const std::string& topic, const MqttSettings& m) {
  const std::string head = m.prefix + "/";
  const std::string tail = isCalibrateCommand(topic) ? std::string(kCalibrateTail) : "/command/set";
  if (topic.size() <= head.size() + tail.size() || topic.rfind(head, 0) != 0 || !topic.ends_with(tail)) {
    return std::nullopt;
  }
  return topic.substr(head.size(), topic.size() - head.size() - tail.size());
}

std::optional<CalibrateCommand> calibrateCommand(const std::string& node, const std::string& payload,
                                                 std::string& error) {
  json j = json::parse(payload, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    error = "the command is not a JSON object, e.g. {\"known_pf\": 0.8} or {\"cancel\": true}";
    return std::nullopt;
  }
  CalibrateCommand c;
  if (j.contains("cancel")) {
    if (j.size() != 1 || j["cancel"] != true) {
      error = "a cancel takes {\"cancel\": true} alone";
      return std::nullopt;
    }
    c.cancel = true;
    c.request.node = node;
    return c;
  }
  std::optional<CalibrationRequest> r = calibrationRequestOf(node, j, error);
  if (!r) return std::nullopt;
  c.request = *r;
  return c;
}

MqttMessage calibrationResult(const std::string& node, const CalibrationOutcome& o, const MqttSettings& m) {
  if (o.status != QueueOutcome::Status::queued) return commandRefused(node, o.message, m);
  json j;
  j["ok"] = true;
  j["message"] = o.message;
  j["calibration"] = calibrationJson(*o.calibration);
  return {m.prefix + "/" + node + "/command/result", j.dump(), false};
}

std::optional<QueueRequest> commandRequest(const std::string& node, const std::string& payload, std::string& error) {
  const json j = json::parse(payload, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    error = "the command is not a JSON object, e.g. {\"setting\": \"phase\", \"value\": 0.12}";
    return std::nullopt;
  }
  QueueRequest r;
  r.node = node;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string& key = it.key();
    const json& v = it.value();
    if (key == "setting") {
      if (!v.is_string()) {
        error = "setting takes a name: phase, debug-rate, sleep, tx-power or dbg1";
        return std::nullopt;
      }
    } else if (key == "value") {
      if (!v.is_number() && !v.is_string()) {
        error = "value takes a number (or text, as the CLI takes it)";
        return std::nullopt;
      }
    } else if (key == "force_rx") {
      if (!v.is_boolean()) {
        error = "force_rx takes true or false";
        return std::nullopt;
      }
    } else if (key == "max_attempts") {
      if (!v.is_number_integer()) {
        error = "max-attempts takes 1 or more";
        return std::nullopt;
      }
      r.maxAttempts = v.get<int64_t>() < 1 ? 0 : static_cast<int>(std::min<int64_t>(v.get<int64_t>(), 1000000));
    } else if (key == "ttl") {
      if (!v.is_number()) {
        error = "ttl takes seconds above 0";
        return std::nullopt;
      }
      r.ttlS = v.get<double>();
    } else {
      error = "unknown field '" + key + "' (setting, value, force_rx, max_attempts, ttl)";
      return std::nullopt;
    }
  }
  if (!j.contains("setting")) return r;  // queueSetting says what is missing
  r.words.push_back(j["setting"].get<std::string>());
  if (j.contains("value")) {
    const json& v = j["value"];
    if (v.is_string()) {
      std::istringstream words(v.get<std::string>());
      for (std::string w; words >> w;) r.words.push_back(w);
    } else {
      r.words.push_back(v.dump());
    }
  }
  if (j.value("force_rx", false)) r.words.push_back("force-rx");
  return r;
}

MqttMessage commandResult(const std::string& node, const QueueOutcome& o, const MqttSettings& m) {
  if (o.status != QueueOutcome::Status::queued) return commandRefused(node, o.message, m);
  json j;
  j["ok"] = true;
  j["id"] = o.item.id;
  j["uid"] = uidText(o.item.uid);
  j["setting"] = o.item.setting;
  j["value"] = o.item.value;
  j["message"] = o.message;
  return {m.prefix + "/" + node + "/command/result", j.dump(), false};
}

MqttMessage commandRefused(const std::string& node, const std::string& reason, const MqttSettings& m) {
  json j;
  j["ok"] = false;
  j["reason"] = reason;
  return {m.prefix + "/" + node + "/command/result", j.dump(), false};
}

}  // namespace vantor
