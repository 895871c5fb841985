// The Vantor's handling of one received frame: read, decide, write, hand on, answer.
#include "vantor.h"

namespace vantor {

std::optional<Answer> Vantor::onFrame(const std::vector<uint8_t>& frame, const Reception& rx,
                                      const Behaviour& behaviour) {
  if (!isStored(frame)) return std::nullopt;  // not an uplink: nothing to keep
  Store::Transaction tx(store_);
  Decision d = decide(frame, rx, behaviour, store_.factsFor(frameKeys(frame)), seed_);
  store_.write(d.writes);
  const Stored stored{d.writes.nowUs, d.writes.uplink, d.writes.node, d.writes.items, d.answered};
  outputs_.staged(stored, store_);
  tx.commit();
  outputs_.committed(stored);
  return std::move(d.answer);
}

}  // namespace vantor
