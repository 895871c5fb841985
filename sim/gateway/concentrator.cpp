// The concentrator: reception on its channel plan, the counter's stamps, the downlink schedule.
#include "concentrator.h"

#include <algorithm>
#include <cmath>

namespace sim {

const char* txOutcomeName(TxOutcome outcome) {
  switch (outcome) {
    case TxOutcome::none: return "NONE";
    case TxOutcome::tooLate: return "TOO_LATE";
    case TxOutcome::tooEarly: return "TOO_EARLY";
    case TxOutcome::collisionPacket: return "COLLISION_PACKET";
    case TxOutcome::txFreq: return "TX_FREQ";
    case TxOutcome::txPower: return "TX_POWER";
    case TxOutcome::gpsUnlocked: return "GPS_UNLOCKED";
  }
  return "NONE";
}

Concentrator::Concentrator(RadioMedium& medium, ConcentratorCounter counter, uint64_t leadUs)
    : medium_(medium), counter_(counter), leadUs_(leadUs) {
  for (int i = 0; i < kChannels; ++i) {
    channels_.push_back(Channel{static_cast<uint8_t>(i), static_cast<uint8_t>(i < kChannels / 2 ? 0 : 1),
                                kFirstChannelHz + static_cast<uint32_t>(i) * kChannelStepHz});
  }
  medium_.attach(this);
}

Concentrator::~Concentrator() { medium_.detach(this); }

const Concentrator::Channel* Concentrator::channelOf(const AirFrame& frame) const {
  const LoraAirSettings& a = frame.air;
  // Uplinks: LoRa at 125 kHz, SF7 to SF12, explicit header, normal IQ, the private sync word.
  if (!frame.lora || a.bwHz() != 125000 || a.sf < 7 || a.sf > 12 || a.implicitHeader || a.iqInverted ||
      a.syncWord != kSyncWord) {
    return nullptr;
  }
  for (const Channel& c : channels_) {
    const uint32_t diff = a.freqHz > c.freqHz ? a.freqHz - c.freqHz : c.freqHz - a.freqHz;
    if (diff <= kToleranceHz) return &c;
  }
  return nullptr;
}

bool Concentrator::transmittingDuring(uint64_t fromUs, uint64_t toUs) const {
  for (const auto& [start, end] : sent_) {
    if (start < toUs && end > fromUs) return true;
  }
  return false;
}

void Concentrator::frameHeader(const AirFrame& frame, const Reception& rx) {
  if (channelOf(frame) == nullptr || !rx.headerOk || transmittingDuring(frame.startUs, frame.endUs)) return;
  demodulating_.insert(frame.id);
}

void Concentrator::frameEnd(const AirFrame& frame, const Reception& rx) {
  if (demodulating_.erase(frame.id) == 0) return;
  // Half duplex: a transmission of its own that began during the frame ended its reception.
  if (transmittingDuring(frame.startUs, frame.endUs)) return;
  const Channel* c = channelOf(frame);
  GatewayUplink u;
  u.endUs = frame.endUs;
  u.tmst = counter_.at(frame.endUs);
  u.freqHz = c->freqHz;
  u.chan = c->chan;
  u.rfch = c->rfch;
  u.crcOk = rx.payloadOk;
  u.sf = frame.air.sf;
  u.bwHz = frame.air.bwHz();
  u.cr = frame.air.cr;
  u.rssiDbm = static_cast<int>(std::lround(rx.rssiDbm));
  u.snrDb = std::round(rx.snrDb * 10.0) / 10.0;
  u.bytes = frame.bytes;
  ++received_;
  if (u.crcOk) ++receivedOk_;
  if (onUplink_) onUplink_(u);
}

TxOutcome Concentrator::schedule(const GatewayDownlink& d, uint64_t nowUs, uint64_t& atUs) {
  if (d.air.freqHz < kBandLowHz || d.air.freqHz > kBandHighHz) return TxOutcome::txFreq;
  if (d.powerDbm > kMaxPowerDbm) return TxOutcome::txPower;
  // No GPS: a transmission at a GPS time cannot be placed.
  if (d.when == GatewayDownlink::When::gpsTime) return TxOutcome::gpsUnlocked;
  // "At once" still takes the programming lead.
  const int64_t ahead =
      d.when == GatewayDownlink::When::immediately ? static_cast<int64_t>(leadUs_) : counter_.offsetUs(d.tmst, nowUs);
  if (ahead < static_cast<int64_t>(leadUs_)) return TxOutcome::tooLate;
  if (ahead > static_cast<int64_t>(kMaxAheadUs)) return TxOutcome::tooEarly;
  AirFrame f;
  f.sender = sender_;
  f.air = d.air;
  f.powerDbm = d.powerDbm;
  f.bytes = d.bytes;
  f.startUs = nowUs + static_cast<uint64_t>(ahead);
  f.endUs = f.startUs + f.air.timeOnAirUs(f.bytes.size());
  for (const AirFrame& s : scheduled_) {
    if (s.startUs < f.endUs && s.endUs > f.startUs) return TxOutcome::collisionPacket;
  }
  atUs = f.startUs;
  scheduled_.insert(std::upper_bound(scheduled_.begin(), scheduled_.end(), f,
                                     [](const AirFrame& a, const AirFrame& b) { return a.startUs < b.startUs; }),
                    std::move(f));
  return TxOutcome::none;
}

uint64_t Concentrator::nextEventUs() const { return scheduled_.empty() ? kNever : scheduled_.front().startUs; }

void Concentrator::fire(uint64_t nowUs) {
  while (!scheduled_.empty() && scheduled_.front().startUs <= nowUs) {
    AirFrame f = std::move(scheduled_.front());
    scheduled_.erase(scheduled_.begin());
    sent_.emplace_back(f.startUs, f.endUs);
    while (sent_.size() > 16) sent_.pop_front();
    ++transmitted_;
    if (onTransmit_) onTransmit_(f);
    medium_.transmit(std::move(f), this);
  }
}

}  // namespace sim
