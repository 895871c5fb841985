// The core as the ports of `vantor listen` share it: one port at a time in the core (the gateways
// are served by a thread of their own), and the site's profile of settings queued
// for every node the Vantor gives an identity or confirms.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "radio_port.h"
#include "vantor.h"

namespace vantor {

class SiteCore : public RadioCore {
 public:
  // `settings`: the words of each `--setting`, checked already.
  SiteCore(Vantor& vantor, std::vector<std::vector<std::string>> settings)
      : vantor_(vantor), settings_(std::move(settings)) {}

  std::optional<Answer> heard(const HeardFrame& frame) override;
  // In as few transactions as the profile allows: a run ends at an answer that queues it, so the
  // frames after see it queued as they would one at a time.
  std::vector<std::optional<Answer>> heardAll(const std::vector<HeardFrame>& frames) override;
  void refused(const Answer& answer, const std::string& reason) override;

  // A gateway's record to the store and the outputs, one at a time with the ports' frames.
  void saveGateway(const GatewayRecord& gateway) {
    std::lock_guard<std::mutex> lock(mutex_);
    vantor_.saveGateway(gateway);
  }

 private:
  bool queuesProfile(const Answer& answer) const;
  void queueProfile(const Answer& answer);

  Vantor& vantor_;
  std::vector<std::vector<std::string>> settings_;
  std::mutex mutex_;
};

}  // namespace vantor
