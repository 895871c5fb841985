// The Vantor's handling of received frames: read, decide, write, hand on, answer.
#include "vantor.h"

#include <algorithm>
#include <cstdio>

#include "calibrate.h"

namespace vantor {

namespace {

// The answer timed for the port that heard the frame.
std::optional<Answer> timed(std::optional<Answer> answer, const HeardFrame& f) {
  if (answer) answer->delayUs = std::max(kAnswerDelayUs, f.soonestAnswerUs);
  return answer;
}

}  // namespace

std::optional<Answer> Vantor::decideAndWrite(const std::vector<uint8_t>& frame, const Reception& rx,
                                             const Behaviour& behaviour, std::optional<Stored>& stored) {
  if (!isStored(frame)) return std::nullopt;  // not an uplink: nothing to keep
  const FrameFacts facts = store_.factsFor(frameKeys(frame));
  Decision d = decide(frame, rx, behaviour, facts, seed_);
  store_.write(d.writes);
  stored = Stored{d.writes.nowUs, d.writes.uplink, d.writes.node, d.writes.items, d.answered, {}};
  // Calibrations go on with the frame (and may queue settings that this frame's window carries
  // next time), in its transaction.
  followCalibrations(store_, facts.node, *stored);
  outputs_.staged(*stored, store_);
  return std::move(d.answer);
}

std::optional<Answer> Vantor::onFrame(const std::vector<uint8_t>& frame, const Reception& rx,
                                      const Behaviour& behaviour) {
  if (!isStored(frame)) return std::nullopt;
  Store::Transaction tx(store_);
  std::optional<Stored> stored;
  std::optional<Answer> answer = decideAndWrite(frame, rx, behaviour, stored);
  tx.commit();
  if (stored) outputs_.committed(*stored);
  return answer;
}

std::optional<Answer> Vantor::heard(const HeardFrame& f) {
  try {
    return timed(onFrame(f.bytes, f.rx, f.behaviour), f);
  } catch (const DbError& e) {
    std::fprintf(stderr, "vantor: %s\n", e.what());
    return std::nullopt;
  }
}

std::vector<std::optional<Answer>> Vantor::heardRun(const std::vector<HeardFrame>& frames, size_t first,
                                                    const StopAfter& stopAfter) {
  const auto stopsAt = [&](const std::optional<Answer>& a) { return a && stopAfter && stopAfter(*a); };
  std::vector<std::optional<Answer>> answers;
  if (first >= frames.size()) return answers;
  std::vector<Stored> committed;
  try {
    Store::Transaction tx(store_);
    for (size_t i = first; i < frames.size(); ++i) {
      const HeardFrame& f = frames[i];
      std::optional<Stored> stored;
      answers.push_back(timed(decideAndWrite(f.bytes, f.rx, f.behaviour, stored), f));
      if (stored) committed.push_back(std::move(*stored));
      if (stopsAt(answers.back())) break;
    }
    tx.commit();
  } catch (const DbError& e) {
    std::fprintf(stderr, "vantor: %s; the frames go one at a time\n", e.what());
    answers.clear();
    for (size_t i = first; i < frames.size(); ++i) {
      answers.push_back(heard(frames[i]));
      if (stopsAt(answers.back())) break;
    }
    return answers;
  }
  for (const Stored& s : committed) outputs_.committed(s);
  return answers;
}

std::vector<std::optional<Answer>> Vantor::heardAll(const std::vector<HeardFrame>& frames) {
  return heardRun(frames, 0);
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
