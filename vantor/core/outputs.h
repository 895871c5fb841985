// Outputs that follow what the Vantor stores (MQTT, a dashboard's live events): each transaction
// that stores an uplink, changes a node, queues a setting or writes a gateway's record hands them
// what it stored.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "store.h"

namespace vantor {

// What one transaction stored.
struct Stored {
  uint64_t nowUs = 0;  // the Vantor's clock after it
  std::optional<UplinkRecord> uplink;
  std::optional<NodeRecord> node;               // a node as it is after it changed
  std::vector<QueueItem> items;                 // settings queued or changed, as they are after it
  std::optional<QueueItem> answered;            // the setting an accepted packet 17 closed
  std::vector<CalibrationRecord> calibrations;  // calibrations started, moved or ended, as they are after it
  std::optional<GatewayRecord> gateway;         // a gateway's record as it is after it changed
};

class Outputs {
 public:
  // Called inside the transaction that stores it, with that store: an output that keeps records of
  // its own in the database (an outbox) writes them there, so both commit or neither does.
  using Staged = std::function<void(const Stored&, Store&)>;
  // Called once the transaction has committed.
  using Committed = std::function<void(const Stored&)>;

  void onStaged(Staged f) { staged_.push_back(std::move(f)); }
  void onCommitted(Committed f) { committed_.push_back(std::move(f)); }

  void staged(const Stored& s, Store& store) const {
    for (const Staged& f : staged_) f(s, store);
  }
  void committed(const Stored& s) const {
    for (const Committed& f : committed_) f(s);
  }

 private:
  std::vector<Staged> staged_;
  std::vector<Committed> committed_;
};

}  // namespace vantor
