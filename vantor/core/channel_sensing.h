// The node's channel sensing before each frame it sends, as steps a port takes at their own times:
// five samples 1 ms apart, busy above -95 dBm, then a backoff of 119 ms and again; after 50 backoffs
// the frame goes without sensing. Every port that puts the Vantor's answers on the air itself
// (the simulated medium, the board's own radio) senses by this rule.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

namespace vantor {

class ChannelSensing {
 public:
  static constexpr double kBusyDbm = -95.0;
  static constexpr int kSamples = 5;
  static constexpr uint64_t kSampleGapUs = 1'000;
  static constexpr uint64_t kBackoffUs = 119'000;
  static constexpr int kMaxBackoffs = 50;

  // Whether the next step samples the channel; once the backoffs ran out, the frame goes.
  bool sampling() const { return samples_ < kSamples; }
  // One sample (none when the radio could not read one): how long until the next step, kSampleGapUs
  // or kBackoffUs, or 0 when the channel was free and the frame goes now.
  uint64_t sampled(std::optional<double> dbm) {
    if (dbm) peakDbm_ = std::max(peakDbm_, *dbm);
    if (++samples_ < kSamples) return kSampleGapUs;
    if (!(peakDbm_ > kBusyDbm)) return 0;
    ++backoffs_;
    samples_ = backoffs_ > kMaxBackoffs ? kSamples : 0;
    peakDbm_ = kNone;
    return kBackoffUs;
  }

 private:
  static constexpr double kNone = -200.0;
  int samples_ = 0;
  double peakDbm_ = kNone;
  int backoffs_ = 0;
};

}  // namespace vantor
