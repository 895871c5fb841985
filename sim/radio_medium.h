// The simulated LoRa medium: carries frames between the radios attached to it (the node's
// transceiver, the receiving node, the scripted test transmitter), with a link budget, collisions,
// an optional interferer on the channel and the air log. In a participant of orvane-air the same
// medium is a mirror: its own frames go to the shared air, the others' come from it (sim/AIR.md).
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scheduler.h"

namespace sim {

// LoRa settings of a transmission or of a receiver (bandwidth in the LLCC68's code).
struct LoraAirSettings {
  uint32_t freqHz = 868000000;
  uint8_t sf = 7;
  uint8_t bwCode = 4;  // 4 = 125 kHz, 5 = 250 kHz, 6 = 500 kHz
  uint8_t cr = 1;      // coding rate 4/(4 + cr)
  bool ldro = false;
  uint8_t syncWord = 0x12;
  bool iqInverted = false;
  uint16_t preamble = 8;
  bool implicitHeader = false;
  bool crcOn = true;

  uint32_t bwHz() const;
  // Time of one symbol and of the whole frame for `len` payload bytes (the chip maker's formula).
  double symbolUs() const;
  uint64_t timeOnAirUs(size_t len) const;
  // Offset from the frame's start at which a receiver has seen preamble, sync word and header.
  uint64_t headerOffsetUs() const;
};

struct AirFrame {
  uint64_t id = 0;  // assigned by the medium
  std::string sender;
  // The radio that sent it, in the medium's numbering (0: none attached to this medium). A radio
  // never hears its own frames, nor counts them as interference.
  uint32_t origin = 0;
  std::string name;  // the participant of orvane-air that sent it (empty in a medium of its own)
  bool lora = true;  // false: a GFSK transmission, which no LoRa receiver demodulates
  LoraAirSettings air;
  int powerDbm = 0;
  std::vector<uint8_t> bytes;
  uint64_t startUs = 0;
  uint64_t endUs = 0;
  bool truncated = false;  // cut short by the transmitter (its TX timeout)
  // Fixed reception figures (test frames; a frame of another participant of orvane-air carries the
  // power it arrives with here) and deliberate corruption.
  std::optional<double> rssiDbm;
  std::optional<double> snrDb;
  bool crcError = false;
  bool headerError = false;
};

// What one receiver's antenna made of a frame.
struct Reception {
  double signalDbm = 0;  // the frame's own power
  double rssiDbm = 0;    // signal plus noise and interference
  double snrDb = 0;
  bool detectable = false;  // strong enough for the spreading factor's demodulation floor
  bool headerOk = false;
  bool payloadOk = false;
};

class RadioEndpoint {
 public:
  virtual ~RadioEndpoint() = default;
  virtual const std::string& endpointName() const = 0;
  // Preamble, sync word and header of `frame` have passed (frame.startUs + headerOffsetUs()).
  virtual void frameHeader(const AirFrame& frame, const Reception& rx) = 0;
  // The frame has ended.
  virtual void frameEnd(const AirFrame& frame, const Reception& rx) = 0;
  // Whether it could take a frame or sample the channel now: a participant of orvane-air whose
  // radios hear nothing needs nothing of the others.
  virtual bool hearing() const { return true; }
};

// What the medium of a participant of orvane-air asks of the shared air (sim/air_link.h).
class AirRemote {
 public:
  virtual ~AirRemote() = default;
  // A frame of one of our radios went on the air; its id here is frame.id.
  virtual void sent(const AirFrame& frame) = 0;
  // Our frame `id` was cut short at `atUs`.
  virtual void cut(uint64_t id, uint64_t atUs) = 0;
  // The medium is about to answer for `nowUs`: every frame of the others that starts by then must
  // be here.
  virtual void before(uint64_t nowUs) = 0;
  // One of our receivers was armed (RadioMedium::receiverArmed).
  virtual void armed(uint64_t atUs, uint64_t windowUs) = 0;
};

struct Interferer {
  double dbm = 0;     // power at every receiver while on
  uint64_t onUs = 0;  // 0: always on
  uint64_t offUs = 0;
  bool active = false;
};

class RadioMedium : public Device {
 public:
  // Origins from here up are the participants of orvane-air seen by a mirror (kRemoteOrigin + the
  // air's number of the participant); below are this medium's own radios.
  static constexpr uint32_t kRemoteOrigin = 0x80000000u;
  static constexpr double kNoiseFigureDb = 6.0;
  static constexpr double kCaptureDb = 6.0;  // a frame survives a weaker overlapping one by this much

  RadioMedium() = default;
  ~RadioMedium() override;

  void attach(RadioEndpoint* endpoint);
  void detach(RadioEndpoint* endpoint);
  // Every frame put on the air by this medium's transmitters (the board's records).
  void onTransmit(std::function<void(const AirFrame&)> fn) { onTransmit_ = std::move(fn); }
  // Joins this medium to orvane-air (nullptr: a medium of its own).
  void setRemote(AirRemote* remote) { remote_ = remote; }

  // Puts a frame on the air (startUs may lie slightly ahead: the transmitter's ramp-up), sent by
  // `from` (or, without it, by the attached radio named as its sender, if any). Returns its id.
  uint64_t transmit(AirFrame frame, const RadioEndpoint* from = nullptr);
  // The transmitter stopped early at `atUs`.
  void truncate(uint64_t id, uint64_t atUs);
  // A frame of another participant of orvane-air (origin set by the air, rssiDbm its power here).
  // Returns its id here.
  uint64_t inject(AirFrame frame);
  // Frames that ended before `beforeUs` can no longer matter: drop them (orvane-air's mirrors).
  void forget(uint64_t beforeUs);
  // Whether any attached radio hears the channel now.
  bool anyHearing() const;

  // Power a receiver tuned to `air` sees on the channel now, transmissions of `self` excepted.
  double channelPowerDbm(const RadioEndpoint* self, const LoraAirSettings& air, uint64_t nowUs) const;
  static double noiseFloorDbm(uint32_t bwHz);
  // Signal-to-noise floor below which a spreading factor cannot demodulate.
  static double demodulationFloorDb(uint8_t sf);

  void setInterferer(const Interferer& interferer) { interferer_ = interferer; }
  const Interferer& interferer() const { return interferer_; }
  void setLinkLossDb(double db) { linkLossDb_ = db; }
  double linkLossDb() const { return linkLossDb_; }
  // Every transmission as one JSON line (appended).
  bool openAirLog(const std::string& path);

  // A receiver was armed at `atUs` for `windowUs` (kNever: no timeout); the scripted transmitter
  // places its frames relative to this.
  void receiverArmed(const RadioEndpoint* who, uint64_t atUs, uint64_t windowUs);
  void onReceiverArmed(std::function<void(const std::string&, uint64_t, uint64_t)> fn);

  // Every frame put on the air since start (since the last forget), for tests.
  const std::deque<AirFrame>& history() const { return history_; }

  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;
  // The medium raises no interrupt: its events never end a core sleep by themselves.
  bool periodic() const override { return true; }

 private:
  struct Pending {
    uint64_t frameId;
    uint64_t atUs;
    bool header;  // else end
    RadioEndpoint* to;
  };
  struct Attached {
    RadioEndpoint* endpoint;
    uint32_t origin;
  };
  Reception receive(const AirFrame& frame, const RadioEndpoint* at, bool wholeFrame) const;
  double interfererDbmAt(uint64_t fromUs, uint64_t toUs) const;
  void logFrame(const AirFrame& frame);
  uint32_t originOf(const RadioEndpoint* endpoint) const;
  AirFrame* frameById(uint64_t id);
  // Adds the frame to the history and its header and end to every other radio's deliveries.
  uint64_t put(AirFrame frame);
  // The first frame of the history that may still be on the air at `atUs`: those before it ended
  // earlier. (A long run, a fuzz target above all, sends millions of frames: looking at each of
  // them for every channel sample made each input slower than the one before.)
  size_t firstOnAirAt(uint64_t atUs) const;

  std::vector<Attached> endpoints_;
  uint32_t nextOrigin_ = 1;
  std::deque<AirFrame> history_;
  uint64_t firstId_ = 1;       // id of history_.front()
  uint64_t longestUs_ = 0;     // the longest frame so far
  bool startsInOrder_ = true;  // every frame starts no earlier than the one before
  std::vector<Pending> pending_;
  std::function<void(const AirFrame&)> onTransmit_;
  AirRemote* remote_ = nullptr;
  Interferer interferer_;
  double linkLossDb_ = 80.0;
  std::FILE* airLog_ = nullptr;
  std::vector<std::function<void(const std::string&, uint64_t, uint64_t)>> armWatchers_;
};

// "DBM[:ON_MS:OFF_MS]": a carrier of DBM at the receivers, always on or pulsed (--interferer).
bool parseInterferer(const std::string& text, Interferer& out, std::string& error);

// Power sum of two levels in dBm.
double addDbm(double a, double b);
// The frame as one line of the air log (sim/RADIO.md), newline included.
std::string airLogLine(const AirFrame& frame);

}  // namespace sim
