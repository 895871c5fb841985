// The Vantor's radio on the simulated medium: reception, answer timing, channel sensing, faults.
#include "sim_endpoint.h"

#include <algorithm>
#include <cmath>

namespace vantor {

namespace {
double tenths(double v) { return std::round(v * 10.0) / 10.0; }
}  // namespace

void SimEndpoint::keepInTimeOrder() {
  std::stable_sort(outgoing_.begin(), outgoing_.end(),
                   [](const Outgoing& a, const Outgoing& b) { return a.atUs < b.atUs; });
}

SimEndpoint::SimEndpoint(sim::RadioMedium& medium, std::function<uint64_t()> nowUs, RadioCore& core, FaultPlan faults,
                         uint64_t seed)
    : medium_(medium), nowUs_(std::move(nowUs)), core_(core), faults_(std::move(faults)), rng_(seed ^ 0x56414E54ull) {
  medium_.attach(this);
}

SimEndpoint::~SimEndpoint() { medium_.detach(this); }

uint64_t SimEndpoint::nextEventUs() const { return outgoing_.empty() ? sim::kNever : outgoing_.front().atUs; }

void SimEndpoint::fire(uint64_t nowUs) {
  while (!outgoing_.empty() && outgoing_.front().atUs <= nowUs) step(outgoing_.front(), nowUs);
}

void SimEndpoint::step(Outgoing& out, uint64_t nowUs) {
  if (out.samplesTaken < kSamples) {
    out.peakDbm = std::max(out.peakDbm, medium_.channelPowerDbm(this, air_, nowUs));
    if (++out.samplesTaken < kSamples) {
      out.atUs = nowUs + kSampleGapUs;
      return;
    }
    if (out.peakDbm > kChannelBusyDbm) {
      // Busy: back off and sense again; after the last backoff the frame goes without sensing.
      ++out.backoffs;
      out.atUs = nowUs + kBackoffUs;
      out.samplesTaken = out.backoffs > kMaxBackoffs ? kSamples : 0;
      out.peakDbm = -200.0;
      keepInTimeOrder();
      return;
    }
  }
  sim::AirFrame f;
  f.sender = name_;
  f.air = air_;
  f.powerDbm = kTxPowerDbm;
  f.bytes = out.frame;
  f.startUs = std::max(nowUs, txEndUs_);
  f.endUs = f.startUs + air_.timeOnAirUs(f.bytes.size());
  txEndUs_ = f.endUs;
  outgoing_.pop_front();
  medium_.transmit(std::move(f), this);
}

bool SimEndpoint::hears(const sim::AirFrame& frame) const {
  if (!frame.lora || lockedFrame_ != 0 || frame.startUs < txEndUs_) return false;  // half duplex
  const sim::LoraAirSettings& a = frame.air;
  return a.freqHz == air_.freqHz && a.sf == air_.sf && a.bwCode == air_.bwCode && a.syncWord == air_.syncWord &&
         a.iqInverted == air_.iqInverted && a.implicitHeader == air_.implicitHeader;
}

void SimEndpoint::frameHeader(const sim::AirFrame& frame, const sim::Reception& rx) {
  if (!hears(frame) || !rx.headerOk) return;
  lockedFrame_ = frame.id;
}

void SimEndpoint::frameEnd(const sim::AirFrame& frame, const sim::Reception& rx) {
  if (lockedFrame_ != frame.id) return;
  lockedFrame_ = 0;
  if (!rx.payloadOk) return;  // the radio's CRC refused it: nothing reaches the Vantor
  const uint64_t now = nowUs_();
  HeardFrame heard;
  heard.bytes = frame.bytes;
  heard.rx = Reception{frame.startUs, tenths(rx.rssiDbm), tenths(rx.snrDb)};
  heard.behaviour = Behaviour{faults_.active(FaultKind::silent, now), faults_.active(FaultKind::replay, now)};
  std::optional<Answer> answer = core_.heard(heard);
  if (!answer) return;
  Outgoing out;
  out.frame = std::move(answer->frame);
  if (faults_.active(FaultKind::corrupt, now) && !out.frame.empty()) {
    const uint64_t bit = rng_() % (out.frame.size() * 8);
    out.frame[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
  }
  out.atUs =
      now + (faults_.active(FaultKind::late, now) ? static_cast<uint64_t>(answer->windowMs) * 1000 + kLateAfterWindowUs
                                                  : answer->delayUs);
  outgoing_.push_back(std::move(out));
  keepInTimeOrder();
}

}  // namespace vantor
