// The Vantor's pictures of a node, from its registry: the last reassembled capture with the fitted
// 50 Hz fundamental over each channel, and the telemetry over time.
#pragma once

#include <cstdint>
#include <string>

#include "svg_chart.h"

namespace vantor {

class Store;

// Fill `out` and return true, or return false with the reason in `why` (nothing to draw yet).
bool captureChart(Store& registry, uint32_t uid, Chart& out, std::string& why);
bool telemetryChart(Store& registry, uint32_t uid, Chart& out, std::string& why);

}  // namespace vantor
