// The receiving node's handling of a frame, independent of any radio: in one transaction of its
// store it reads what the decision needs, decides (decide.h), writes the outcome and hands it to
// its outputs; then the answer, if any, goes back to the radio port that heard it (radio_port.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "decide.h"
#include "outputs.h"
#include "radio_port.h"
#include "store.h"

namespace vantor {

class Vantor : public RadioCore {
 public:
  static constexpr int kDefaultMaxAttempts = vantor::kDefaultMaxAttempts;
  static constexpr uint64_t kDefaultTtlUs = vantor::kDefaultTtlUs;

  Vantor(Store& store, uint64_t seed) : store_(store), seed_(seed) {}

  // The frame as received. Stores it (unless it is a downlink heard on the air) and returns the
  // answer to send, if any.
  std::optional<Answer> onFrame(const std::vector<uint8_t>& frame, const Reception& rx, const Behaviour& behaviour);

  // RadioCore: onFrame for a port, the answer timed; a database error is reported on standard
  // error and answers nothing.
  std::optional<Answer> heard(const HeardFrame& frame) override;
  void refused(const Answer& answer, const std::string& reason) override;
  // A gateway's record written with what the outputs make of it (MQTT's retained status), in one
  // transaction; a database error is reported on standard error.
  void saveGateway(const GatewayRecord& gateway);
  // All of them in one transaction (see heardRun).
  std::vector<std::optional<Answer>> heardAll(const std::vector<HeardFrame>& frames) override;

  // Frames from `first` on, in one transaction, each decided against what the earlier ones wrote:
  // the same rows, verdicts and answers as one transaction each, for one commit. Stops after the
  // first frame whose answer `stopAfter` picks (work its caller does between frames) and returns
  // the answers of the frames it took, at least one. Should the transaction fail, the same frames
  // go one at a time, so each stores or fails on its own as it would alone.
  using StopAfter = std::function<bool(const Answer&)>;
  std::vector<std::optional<Answer>> heardRun(const std::vector<HeardFrame>& frames, size_t first,
                                              const StopAfter& stopAfter = nullptr);

  NodeKey keyFor(uint32_t uid) const { return freshKey(seed_, uid); }
  Store& store() { return store_; }
  Outputs& outputs() { return outputs_; }

 private:
  // Decides and writes one frame inside the caller's transaction; what it stored, if anything.
  std::optional<Answer> decideAndWrite(const std::vector<uint8_t>& frame, const Reception& rx,
                                       const Behaviour& behaviour, std::optional<Stored>& stored);

  Store& store_;
  uint64_t seed_;
  Outputs outputs_;
};

}  // namespace vantor
