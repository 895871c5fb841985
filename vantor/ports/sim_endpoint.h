// The Vantor as one more radio on the simulated medium, with the node's radio settings: it hears
// every frame that starts while it is not transmitting, hands it to the Vantor's decisions, and
// sends the answer into the node's receive window after sensing the channel as the node does.
// Faults (late, silent, corrupt, replay) change when and what it sends. It knows of its program
// only the clock and the medium: orvane-sim's board, or vantor listen on orvane-air.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "faults.h"
#include "radio_medium.h"
#include "radio_port.h"
#include "scheduler.h"

namespace vantor {

class SimEndpoint : public sim::Device, public sim::RadioEndpoint {
 public:
  // A late answer starts this long after the node's window has closed.
  static constexpr uint64_t kLateAfterWindowUs = 200'000;
  // Channel sensing as the node does it: five samples 1 ms apart, busy above -95 dBm, a backoff of
  // 119 ms, at most 50 backoffs, then the frame goes regardless.
  static constexpr double kChannelBusyDbm = -95.0;
  static constexpr int kSamples = 5;
  static constexpr uint64_t kSampleGapUs = 1'000;
  static constexpr uint64_t kBackoffUs = 119'000;
  static constexpr int kMaxBackoffs = 50;
  static constexpr int kTxPowerDbm = 14;

  // `nowUs` is the clock of the program it runs in; the program steps it as one of its devices.
  SimEndpoint(sim::RadioMedium& medium, std::function<uint64_t()> nowUs, RadioCore& core, FaultPlan faults,
              uint64_t seed);
  ~SimEndpoint() override;

  // Device.
  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;
  bool periodic() const override { return true; }  // raises no interrupt of the node

  // RadioEndpoint.
  const std::string& endpointName() const override { return name_; }
  void frameHeader(const sim::AirFrame& frame, const sim::Reception& rx) override;
  void frameEnd(const sim::AirFrame& frame, const sim::Reception& rx) override;

 private:
  struct Outgoing {
    std::vector<uint8_t> frame;
    uint64_t atUs;  // next step: a channel sample, or the transmission once the samples are done
    int samplesTaken = 0;
    double peakDbm = -200.0;
    int backoffs = 0;
  };
  // One channel sample, a backoff, or the transmission.
  void step(Outgoing& out, uint64_t nowUs);
  bool hears(const sim::AirFrame& frame) const;
  void keepInTimeOrder();

  sim::RadioMedium& medium_;
  std::function<uint64_t()> nowUs_;
  RadioCore& core_;
  FaultPlan faults_;
  std::mt19937_64 rng_;
  std::string name_ = "vantor";
  sim::LoraAirSettings air_;
  std::deque<Outgoing> outgoing_;
  uint64_t txEndUs_ = 0;
  uint64_t lockedFrame_ = 0;
};

}  // namespace vantor
