// Whether a node is heard as often as it should be: active, quiet or inactive, from when it was
// last heard, its expected interval and the Vantor's clock.
#pragma once

#include <cstdint>

#include "store.h"

namespace vantor {

struct Activity {
  const char* name;  // active, quiet, inactive
  bool active;
};

// Active: heard within one and a half of the intervals at which it is expected. Quiet: not heard
// since, but within the sign-of-life interval of a field node whose load is steady (it sends a
// packet 3 at least that often) and that margin again.
Activity activityOf(const NodeRecord& node, uint64_t nowUs);
// The field build's sign-of-life interval, seconds.
uint32_t signOfLifeS();

}  // namespace vantor
