// The JSON form of the Vantor's records, written once for every listing that shows them: the
// `vantor --json` lines and the dashboard's API give the same fields.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>

#include "store.h"

namespace vantor {

// A node as `vantor --json nodes` lists it: identity, chip, state, counter, last seen, activity at
// the Vantor's clock `nowUs`, and the fields of its last telemetry frame (null without one).
nlohmann::json nodeJson(const NodeRecord& node, uint64_t nowUs, const std::optional<UplinkRecord>& lastTelemetry);
// The same, with the node's last telemetry read from the store.
nlohmann::json nodeJson(Store& store, const NodeRecord& node, uint64_t nowUs);
// An uplink: its reception, verdict and decoded fields (at the top level, as `vantor --json uplinks`).
nlohmann::json uplinkJson(const UplinkRecord& uplink);
// A gateway: its way down, last seen, position, counters ("dropped" and "refused" by reason).
nlohmann::json gatewayJson(const GatewayRecord& gateway);
// One scan row of a capture.
nlohmann::json captureRowJson(const CaptureRecord& capture, const CaptureSample& sample);
// A queued setting with its state, the node's answer and the attempts.
nlohmann::json queueItemJson(const QueueItem& item);

// Virtual microseconds as the listings give them: seconds.
double secondsOf(uint64_t us);

}  // namespace vantor
