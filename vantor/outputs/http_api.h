// The dashboard's JSON API over the Vantor's store, apart from any HTTP library: each call takes
// what the request named (the node as text, a query value, the body) and gives the status and the
// body to answer with. The records have the fields of `vantor --json` (json_records.h); errors are
// {"error": "..."} with the status that says what was wrong: 400 a malformed request or a setting
// the queue function refuses (with its own message), 404 no such node or nothing of it yet.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "outputs.h"
#include "store.h"

namespace vantor {

struct ApiResponse {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
};

// JSON text that never throws: text that is not UTF-8 is replaced, not refused.
std::string jsonText(const nlohmann::json& j);
ApiResponse apiError(int status, const std::string& message);

// GET /api/nodes: {"now_s", "nodes": [every node as `vantor --json nodes` lists it]}.
ApiResponse apiNodes(Store& store);
// GET /api/nodes/<uid>: the node's line, the Vantor's clock (now_s) and its last packet 8
// (configuration: build and calibration, as an uplink; null before one).
ApiResponse apiNode(Store& store, const std::string& node);
// GET /api/nodes/<uid>/uplinks?limit=N: the latest N (default 50, at most 10000), oldest first.
ApiResponse apiUplinks(Store& store, const std::string& node, const std::optional<std::string>& limit);
// GET /api/nodes/<uid>/capture: the last complete capture, {"uid", "code", "counter", "t_s", "rows"}.
ApiResponse apiCapture(Store& store, const std::string& node);
// GET /api/nodes/<uid>/queue: its settings, oldest first.
ApiResponse apiQueue(Store& store, const std::string& node);
// POST /api/nodes/<uid>/queue: {"setting": "phase", "value": 0.5} (value as a number or text;
// "force_rx": true with sleep; optional "max_attempts", "ttl_s"): 201 {"message", "item"}.
ApiResponse apiQueueAdd(Store& store, const std::string& node, const std::string& body, const Outputs* outputs);
// GET /api/nodes/<uid>/calibration: {"uid", "calibrated" (null: uncalibrated), "calibration" (the
// latest, open or ended; null before one), "items" (the settings it queued, as they stand)}.
ApiResponse apiCalibration(Store& store, const std::string& node);
// POST /api/nodes/<uid>/calibration: {"known_pf": 0.8, "leading": false, "readings": 16} (the
// last two optional): 201 {"message", "calibration"}; 409 when one is in progress.
ApiResponse apiCalibrate(Store& store, const std::string& node, const std::string& body, const Outputs* outputs);
// POST /api/nodes/<uid>/calibration/cancel (body {}): 200 {"message", "calibration"}; 409 none open.
ApiResponse apiCalibrationCancel(Store& store, const std::string& node, const Outputs* outputs);
// GET /api/gateways: every gateway as `vantor gateways --json` lists it (the row of bad datagrams
// that name no gateway with eui null), by EUI; [] behind no gateway.
ApiResponse apiGateways(Store& store);
// The pictures as SVG: GET /api/nodes/<uid>/capture.svg, /telemetry.svg?span=day|week|month|all.
ApiResponse apiCaptureSvg(Store& store, const std::string& node);
ApiResponse apiTelemetrySvg(Store& store, const std::string& node, const std::optional<std::string>& span);

constexpr size_t kMaxBodyBytes = 16 * 1024;  // a setting takes a few dozen
constexpr int kMaxUplinkLimit = 10000;

}  // namespace vantor
