// The uplink packet counter: counted in the RTC domain (it survives standby and resets) and kept
// on the configuration page every so many counts, so that a node whose RTC domain lost its power
// (a battery change) goes on above every counter it sent before instead of starting at 0, which
// the receiving node would refuse as replays.
#pragma once

#include <cstdint>

#include "packet_counter.h"

// Counts between two checkpoints on the page; after a loss of the RTC domain the counter goes on
// from the latest checkpoint plus this.
constexpr uint32_t kUplinkCounterCheckpointStep = 64;

// The next uplink counter (the RTC field advanced by one), with a checkpoint on the page when the
// record is valid and the latest checkpoint lies a step or more behind.
LoRaPacketCounterU24 nextUplinkCounter();

// At start: with a checkpoint on the page (every record this firmware commits has one; a commit cut
// short may leave one without a record), a counter in the RTC domain that is behind the checkpoint
// (damage), or 0 at a power-on (the domain lost its power), goes on from the checkpoint plus the
// step.
void resumeUplinkCounter();
