// A node's activity from its last frame.
#include "activity.h"

#include <algorithm>
#include <cmath>

#include "field_node.h"

namespace vantor {

uint32_t signOfLifeS() { return FieldNode::kSignOfLifeSec; }

Activity activityOf(const NodeRecord& n, uint64_t now) {
  const double silentS = n.lastSeenUs ? static_cast<double>(now - std::min(now, *n.lastSeenUs)) / 1e6 : INFINITY;
  const bool active = silentS <= 1.5 * n.expectedIntervalS;
  const bool quiet = !active && silentS <= FieldNode::kSignOfLifeSec + 1.5 * n.expectedIntervalS;
  return Activity{active ? "active" : quiet ? "quiet" : "inactive", active};
}

}  // namespace vantor
