// The dashboard's API calls, each one read (or one queue transaction) on the store.
#include "http_api.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "calibrate.h"
#include "json_records.h"
#include "plots.h"
#include "settings.h"
#include "uplink_decode.h"

namespace vantor {

namespace {

using nlohmann::json;

ApiResponse ok(const json& j, int status = 200) { return ApiResponse{status, jsonText(j)}; }

// The node a path names: the record, or the answer to give instead (400 bad text, 404 unknown).
std::optional<ApiResponse> findNode(Store& store, const std::string& text, NodeRecord& out) {
  const std::optional<uint32_t> uid = parseUid(text);
  if (!uid) return apiError(400, "bad node '" + text + "': an identity in hex, 0x000001 to 0xFFFFFF");
  std::optional<NodeRecord> n = store.nodeByUid(*uid);
  if (!n) return apiError(404, "no node " + uidText(*uid) + " in the registry");
  out = *n;
  return std::nullopt;
}

// A setting's value as `vantor queue add` takes it: text as it is, a number in JSON's own form.
bool valueWord(const json& v, std::string& out) {
  if (v.is_string()) {
    out = v.get<std::string>();
    return true;
  }
  if (v.is_number()) {
    out = v.dump();
    return true;
  }
  return false;
}

}  // namespace

std::string jsonText(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

ApiResponse apiError(int status, const std::string& message) { return ok(json{{"error", message}}, status); }

ApiResponse apiNodes(Store& store) {
  const uint64_t now = store.nowUs();
  json list = json::array();
  const std::map<uint32_t, UplinkRecord> latest = store.lastTelemetryOfEach();
  for (const NodeRecord& n : store.nodes()) {
    const auto t = latest.find(n.uid);
    list.push_back(nodeJson(n, now, t == latest.end() ? std::nullopt : std::optional<UplinkRecord>(t->second)));
  }
  return ok(json{{"now_s", secondsOf(now)}, {"nodes", std::move(list)}});
}

ApiResponse apiNode(Store& store, const std::string& node) {
  NodeRecord n;
  if (std::optional<ApiResponse> no = findNode(store, node, n)) return *no;
  const uint64_t now = store.nowUs();
  json j = nodeJson(store, n, now);
  j["now_s"] = secondsOf(now);
  const std::optional<UplinkRecord> config = store.lastAccepted(n.uid, {8});
  j["configuration"] = config ? uplinkJson(*config) : json(nullptr);
  return ok(j);
}

ApiResponse apiUplinks(Store& store, const std::string& node, const std::optional<std::string>& limitText) {
  NodeRecord n;
  if (std::optional<ApiResponse> no = findNode(store, node, n)) return *no;
  int limit = 50;
  if (limitText) {
    const std::string& t = *limitText;
    const bool digits = !t.empty() && t.size() <= 6 && t.find_first_not_of("0123456789") == std::string::npos;
    limit = digits ? std::stoi(t) : 0;
    if (limit < 1 || limit > kMaxUplinkLimit) {
      return apiError(400, "limit takes a number of frames, 1 to " + std::to_string(kMaxUplinkLimit));
    }
  }
  json list = json::array();
  for (const UplinkRecord& u : store.uplinks(n.uid, limit)) list.push_back(uplinkJson(u));
  return ok(list);
}

ApiResponse apiCapture(Store& store, const std::string& node) {
  NodeRecord n;
  if (std::optional<ApiResponse> no = findNode(store, node, n)) return *no;
  const std::optional<CaptureRecord> cap = store.lastCompleteCapture(n.uid);
  if (!cap) return apiError(404, "no complete capture from " + uidText(n.uid) + " yet");
  json rows = json::array();
  for (const CaptureSample& s : store.captureRows(cap->id)) rows.push_back(captureRowJson(*cap, s));
  return ok(json{{"uid", uidText(n.uid)},
                 {"code", cap->code},
                 {"counter", cap->counter},
                 {"t_s", secondsOf(cap->lastUs)},
                 {"rows", std::move(rows)}});
}

ApiResponse apiQueue(Store& store, const std::string& node) {
  NodeRecord n;
  if (std::optional<ApiResponse> no = findNode(store, node, n)) return *no;
  json list = json::array();
  for (const QueueItem& q : store.queue(n.uid)) list.push_back(queueItemJson(q));
  return ok(list);
}

ApiResponse apiQueueAdd(Store& store, const std::string& node, const std::string& body, const Outputs* outputs) {
  const json j = json::parse(body, nullptr, false);
  if (j.is_discarded()) return apiError(400, "the body is not JSON");
  if (!j.is_object()) return apiError(400, "the body takes a JSON object: {\"setting\": ..., \"value\": ...}");
  QueueRequest request;
  request.node = node;
  std::string value;
  bool forceRx = false;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const json& v = it.value();
    if (it.key() == "setting") {
      if (!v.is_string()) return apiError(400, "setting takes a name: " + std::string(settingsHelp()));
      request.words.insert(request.words.begin(), v.get<std::string>());
    } else if (it.key() == "value") {
      if (!valueWord(v, value)) return apiError(400, "value takes a number or its text");
    } else if (it.key() == "force_rx") {
      if (!v.is_boolean()) return apiError(400, "force_rx takes true or false");
      forceRx = v.get<bool>();
    } else if (it.key() == "max_attempts") {
      if (!v.is_number_integer() || v.get<int64_t>() < INT_MIN || v.get<int64_t>() > INT_MAX) {
        return apiError(400, "max_attempts takes a whole number, 1 or more");
      }
      request.maxAttempts = static_cast<int>(v.get<int64_t>());
    } else if (it.key() == "ttl_s") {
      if (!v.is_number()) return apiError(400, "ttl_s takes seconds above 0");
      request.ttlS = v.get<double>();
    } else {
      return apiError(400, "unknown field '" + it.key() + "': setting, value, force_rx, max_attempts, ttl_s");
    }
  }
  if (request.words.empty()) return apiError(400, std::string("no setting given; ") + settingsHelp());
  if (j.contains("value")) request.words.push_back(value);
  if (forceRx) request.words.push_back("force-rx");
  const QueueOutcome o = queueSetting(store, request, outputs);
  switch (o.status) {
    case QueueOutcome::Status::queued: return ok(json{{"message", o.message}, {"item", queueItemJson(o.item)}}, 201);
    case QueueOutcome::Status::badRequest: {
      json e{{"error", o.message}};
      if (o.aboutSetting) e["settings"] = settingsHelp();
      return ok(e, 400);
    }
    case QueueOutcome::Status::refused: break;
  }
  return apiError(404, o.message);
}

ApiResponse apiCalibration(Store& store, const std::string& node) {
  NodeRecord n;
  if (std::optional<ApiResponse> no = findNode(store, node, n)) return *no;
  const std::optional<CalibrationRecord> c = store.latestCalibration(n.uid);
  json items = json::array();
  if (c) {
    for (const QueueItem& q : store.queue(n.uid)) {
      if (std::find(c->items.begin(), c->items.end(), q.id) != c->items.end()) items.push_back(queueItemJson(q));
    }
  }
  return ok(json{{"uid", uidText(n.uid)},
                 {"calibrated", nodeCalibrationJson(n.calibration)},
                 {"calibration", c ? calibrationJson(*c) : json(nullptr)},
                 {"items", std::move(items)}});
}

namespace {

ApiResponse calibrationAnswer(const CalibrationOutcome& o, int status) {
  switch (o.status) {
    case QueueOutcome::Status::queued:
      return ok(json{{"message", o.message}, {"calibration", calibrationJson(*o.calibration)}}, status);
    case QueueOutcome::Status::badRequest: return apiError(400, o.message);
    case QueueOutcome::Status::refused: break;
  }
  // No such node, or the calibration's state does not allow it.
  return apiError(o.message.starts_with("no node ") ? 404 : 409, o.message);
}

}  // namespace

ApiResponse apiCalibrate(Store& store, const std::string& node, const std::string& body, const Outputs* outputs) {
  const json j = json::parse(body, nullptr, false);
  if (j.is_discarded()) return apiError(400, "the body is not JSON");
  std::string error;
  const std::optional<CalibrationRequest> request = calibrationRequestOf(node, j, error);
  if (!request) return apiError(400, error);
  return calibrationAnswer(startCalibration(store, *request, outputs), 201);
}

ApiResponse apiCalibrationCancel(Store& store, const std::string& node, const Outputs* outputs) {
  return calibrationAnswer(cancelCalibration(store, node, outputs), 200);
}

ApiResponse apiGateways(Store& store) {
  json list = json::array();
  for (const GatewayRecord& g : store.gateways()) list.push_back(gatewayJson(g));
  return ok(list);
}

ApiResponse apiCaptureSvg(Store& store, const std::string& node) {
  NodeRecord n;
  if (std::optional<ApiResponse> no = findNode(store, node, n)) return *no;
  Chart chart;
  std::string why;
  if (!captureChart(store, n.uid, chart, why)) return apiError(404, why);
  return ApiResponse{200, renderSvg(chart), "image/svg+xml"};
}

ApiResponse apiTelemetrySvg(Store& store, const std::string& node, const std::optional<std::string>& span) {
  NodeRecord n;
  if (std::optional<ApiResponse> no = findNode(store, node, n)) return *no;
  TelemetryView view{std::nullopt, store.nowUs(), true, true};
  const std::string s = span.value_or("day");
  const uint64_t dayUs = 86400ull * 1000000;
  if (s == "day") {
    view.spanUs = dayUs;
  } else if (s == "week") {
    view.spanUs = 7 * dayUs;
  } else if (s == "month") {
    view.spanUs = 30 * dayUs;
  } else if (s != "all") {
    return apiError(400, "span takes day, week, month or all");
  }
  Chart chart;
  std::string why;
  if (!telemetryChart(store, n.uid, chart, why, view)) return apiError(404, why);
  return ApiResponse{200, renderSvg(chart, 960, 170), "image/svg+xml"};
}

}  // namespace vantor
