// `vantor listen --air unix:PATH`: the Vantor as a participant of orvane-air (sim/AIR.md), answering
// any number of nodes with the same decisions, registry and radio timing as inside orvane-sim.
#pragma once

#include <ostream>

#include "cli.h"

namespace vantor {

// Runs until the air ends the run. Exit status as the CLI's: 0 done, 1 refused (no air, no
// database), 2 usage (a bad fault).
int listenOnAir(const ListenOptions& options, std::ostream& err);

}  // namespace vantor
