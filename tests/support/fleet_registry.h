// A generated registry the size of a fleet: `count` confirmed nodes, each with its own key and a few
// telemetry frames stored through the Vantor, as a fleet's Vantor holds them after a while. For the
// dashboard's benchmarks.
#pragma once

#include <cstdio>
#include <string>

#include "node_frames.h"
#include "vantor.h"

namespace testing_support {

inline void fillFleetRegistry(vantor::Store& store, int count, int framesEach, uint64_t seed = 7) {
  {
    vantor::Store::Transaction tx(store);
    for (int uid = 1; uid <= count; ++uid) {
      char chip[32];
      std::snprintf(chip, sizeof chip, "%024X", uid);
      store.importNode(static_cast<uint32_t>(uid), chip, vantor::freshKey(seed, static_cast<uint32_t>(uid)),
                       "confirmed");
    }
    tx.commit();
  }
  vantor::Vantor v(store, seed);
  uint64_t tUs = 1'000'000;
  for (int k = 1; k <= framesEach; ++k) {
    for (int uid = 1; uid <= count; ++uid) {
      const auto u = static_cast<uint32_t>(uid);
      const HMAC::Key key = vantor::tagKey(vantor::freshKey(seed, u));
      // Loads of every size across the fleet, each a little different from one frame to the next.
      const float current = 0.5f + static_cast<float>((uid * 37 + k * 3) % 400) / 10.0f;
      const float pf = 0.5f + static_cast<float>((uid * 13) % 50) / 100.0f;
      v.onFrame(packet3(u, static_cast<uint32_t>(k), key, false, 18.0f + static_cast<float>(uid % 10), 3.3f, pf, current),
                {tUs, -60.0 - uid % 40, 9.0}, {});
      tUs += 600'000;
    }
  }
}

}  // namespace testing_support
