// The radio side of a simulated LoRa gateway: a concentrator on the medium that demodulates every
// frame on its channels at any spreading factor at once (as SX1301/SX1302 chips do), stamps each
// with its free-running counter, and transmits the downlinks it is given at their counter time,
// after the checks a packet forwarder makes (too late, too early, overlapping, out of band).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "concentrator_counter.h"
#include "radio_medium.h"
#include "scheduler.h"

namespace sim {

// A frame the concentrator demodulated.
struct GatewayUplink {
  uint64_t endUs = 0;
  uint32_t tmst = 0;  // the counter at the frame's end
  uint32_t freqHz = 0;
  uint8_t chan = 0;
  uint8_t rfch = 0;
  bool crcOk = false;
  uint8_t sf = 7;
  uint32_t bwHz = 125000;
  uint8_t cr = 1;  // coding rate 4/(4 + cr)
  int rssiDbm = 0;
  double snrDb = 0;  // one decimal
  std::vector<uint8_t> bytes;
};

// A transmission asked of the concentrator (a txpk).
struct GatewayDownlink {
  enum class When { counter, immediately, gpsTime };
  When when = When::counter;
  uint32_t tmst = 0;
  LoraAirSettings air;
  int powerDbm = 14;
  std::vector<uint8_t> bytes;
};

// The answers a forwarder gives in its TX_ACK.
enum class TxOutcome { none, tooLate, tooEarly, collisionPacket, txFreq, txPower, gpsUnlocked };
const char* txOutcomeName(TxOutcome outcome);

class Concentrator final : public Device, public RadioEndpoint {
 public:
  // The site's channel plan: eight 125 kHz channels from 867.4 MHz in 200 kHz steps (868.0 MHz,
  // the nodes' channel, is channel 3); channels 0-3 on radio 0, 4-7 on radio 1.
  static constexpr uint32_t kFirstChannelHz = 867'400'000;
  static constexpr uint32_t kChannelStepHz = 200'000;
  static constexpr int kChannels = 8;
  // A demodulator follows a frame this far from its channel's centre.
  static constexpr uint32_t kToleranceHz = 31'250;
  // Further ahead than this, a transmission is refused (TOO_EARLY).
  static constexpr uint64_t kMaxAheadUs = 3'000'000;
  // The transmit band (EU 863-870 MHz) and the highest power of the concentrator's table.
  static constexpr uint32_t kBandLowHz = 863'000'000;
  static constexpr uint32_t kBandHighHz = 870'000'000;
  static constexpr int kMaxPowerDbm = 27;
  // The concentrator and its downlinks speak the nodes' "private" sync word (lorawan_public false).
  static constexpr uint8_t kSyncWord = 0x12;

  // `leadUs`: the forwarder's programming lead; a downlink due sooner than that is too late.
  Concentrator(RadioMedium& medium, ConcentratorCounter counter, uint64_t leadUs);
  ~Concentrator() override;

  void onUplink(std::function<void(const GatewayUplink&)> fn) { onUplink_ = std::move(fn); }
  void onTransmit(std::function<void(const AirFrame&)> fn) { onTransmit_ = std::move(fn); }

  // Schedules a downlink asked for at nowUs; anything but `none` leaves the schedule as it was.
  // `atUs` gets the virtual time it will start at.
  TxOutcome schedule(const GatewayDownlink& d, uint64_t nowUs, uint64_t& atUs);
  const ConcentratorCounter& counter() const { return counter_; }
  uint64_t leadUs() const { return leadUs_; }
  // The start of the next transmission scheduled, or kNever.
  uint64_t nextTransmitUs() const { return nextEventUs(); }

  // Counters for the forwarder's status: packets received, with a good CRC, transmitted.
  uint64_t received() const { return received_; }
  uint64_t receivedOk() const { return receivedOk_; }
  uint64_t transmitted() const { return transmitted_; }

  // Device: the scheduled transmissions.
  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;
  bool periodic() const override { return true; }

  // RadioEndpoint.
  const std::string& endpointName() const override { return sender_; }
  void frameHeader(const AirFrame& frame, const Reception& rx) override;
  void frameEnd(const AirFrame& frame, const Reception& rx) override;

 private:
  struct Channel {
    uint8_t chan;
    uint8_t rfch;
    uint32_t freqHz;
  };
  const Channel* channelOf(const AirFrame& frame) const;
  // Whether one of its own transmissions overlaps [fromUs, toUs): it cannot receive then.
  bool transmittingDuring(uint64_t fromUs, uint64_t toUs) const;

  RadioMedium& medium_;
  std::string sender_ = "gateway";
  ConcentratorCounter counter_;
  uint64_t leadUs_;
  std::vector<Channel> channels_;
  std::set<uint64_t> demodulating_;                 // frames whose header was heard
  std::vector<AirFrame> scheduled_;                 // by start
  std::deque<std::pair<uint64_t, uint64_t>> sent_;  // recent own transmissions: start, end
  uint64_t received_ = 0;
  uint64_t receivedOk_ = 0;
  uint64_t transmitted_ = 0;
  std::function<void(const GatewayUplink&)> onUplink_;
  std::function<void(const AirFrame&)> onTransmit_;
};

}  // namespace sim
