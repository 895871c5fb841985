// The Vantor's pictures of a node, from its registry: the last reassembled capture with the fitted
// 50 Hz fundamental over each channel, and the telemetry over time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "svg_chart.h"

namespace vantor {

class Store;

// What a telemetry picture covers: every frame since the first (the CLI's), or the window of
// `spanUs` before the Vantor's clock `nowUs`, with the supply and with a break wherever the node
// was silent longer than it may be and still not be called inactive (the dashboard's).
struct TelemetryView {
  std::optional<uint64_t> spanUs;
  uint64_t nowUs = 0;
  bool supply = false;
  bool gaps = false;
};

// Fill `out` and return true, or return false with the reason in `why` (nothing to draw yet).
bool captureChart(Store& registry, uint32_t uid, Chart& out, std::string& why);
bool telemetryChart(Store& registry, uint32_t uid, Chart& out, std::string& why, const TelemetryView& view = {});

}  // namespace vantor
