// The Vantor's handling of one received frame: read, decide, write, hand on, answer.
#include "vantor.h"

#include "calibrate.h"

namespace vantor {

std::optional<Answer> Vantor::onFrame(const std::vector<uint8_t>& frame, const Reception& rx,
                                      const Behaviour& behaviour) {
  if (!isStored(frame)) return std::nullopt;  // not an uplink: nothing to keep
  Store::Transaction tx(store_);
  const FrameFacts facts = store_.factsFor(frameKeys(frame));
  Decision d = decide(frame, rx, behaviour, facts, seed_);
  store_.write(d.writes);
  Stored stored{d.writes.nowUs, d.writes.uplink, d.writes.node, d.writes.items, d.answered, {}};
  // Calibrations go on with the frame (and may queue settings that this frame's window carries
  // next time), in its transaction.
  followCalibrations(store_, facts.node, stored);
  outputs_.staged(stored, store_);
  tx.commit();
  outputs_.committed(stored);
  return std::move(d.answer);
}

}  // namespace vantor
