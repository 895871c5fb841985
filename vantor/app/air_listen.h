// `vantor listen`: the Vantor as a participant of orvane-air (--air, sim/AIR.md), answering any
// number of nodes with the same decisions, registry and radio timing as inside orvane-sim, and/or
// as the server of LoRa gateways' packet forwarders (--gateway).
#pragma once

#include <ostream>

#include "cli.h"

namespace vantor {

// Runs until the air ends the run (with --air) or until SIGINT/SIGTERM (gateways alone). Exit
// status as the CLI's: 0 done, 1 refused (no air, no database, the gateways' address in use), 2
// usage (a bad fault, address or setting).
int listen(const ListenOptions& options, std::ostream& err);

}  // namespace vantor
