// The Vantor's handling of one received frame: read, decide, write, hand on, answer.
#include "vantor.h"

#include <algorithm>
#include <cstdio>

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

std::optional<Answer> Vantor::heard(const HeardFrame& f) {
  std::optional<Answer> answer;
  try {
    answer = onFrame(f.bytes, f.rx, f.behaviour);
  } catch (const DbError& e) {
    std::fprintf(stderr, "vantor: %s\n", e.what());
    return std::nullopt;
  }
  if (answer) answer->delayUs = std::max(kAnswerDelayUs, f.soonestAnswerUs);
  return answer;
}

void Vantor::refused(const Answer& answer, const std::string& reason) {
  if (!answer.itemId) return;  // a provisioning answer: the node asks again
  try {
    Store::Transaction tx(store_);
    std::optional<QueueItem> item = store_.refuseSend(*answer.itemId, answer.downlinkCounter, reason);
    if (!item) return;  // answered or sent again meanwhile
    const Stored stored{store_.nowUs(), std::nullopt, std::nullopt, {*item}, std::nullopt};
    outputs_.staged(stored, store_);
    tx.commit();
    outputs_.committed(stored);
  } catch (const DbError& e) {
    std::fprintf(stderr, "vantor: %s\n", e.what());
  }
}

void Vantor::saveGateway(const GatewayRecord& gateway) {
  try {
    Store::Transaction tx(store_);
    store_.saveGateway(gateway);
    const Stored stored{store_.nowUs(), std::nullopt, std::nullopt, {}, std::nullopt, {}, gateway};
    outputs_.staged(stored, store_);
    tx.commit();
    outputs_.committed(stored);
  } catch (const DbError& e) {
    std::fprintf(stderr, "vantor: %s\n", e.what());
  }
}

}  // namespace vantor
