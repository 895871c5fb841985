// A participant's side of orvane-air (sim/AIR.md): it joins the air, sends the frames and cuts of
// its medium's radios there, and while one of its radios hears it keeps the participant's clock
// from passing the time the air has granted, putting the others' frames into its medium with each
// grant. The program it serves (a simulated board, the Vantor, the emulator) says through AirHost
// when it could next act; the link knows nothing else of it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "air_protocol.h"
#include "radio_medium.h"
#include "scheduler.h"

namespace sim {

class AirHost {
 public:
  virtual ~AirHost() = default;
  // What to tell the air when the participant must wait at nowUs: fills targetUs, earliestUs,
  // reactUs and partial (sim/AIR.md). `transmitting`: a frame of its own is still on the air.
  virtual void plan(uint64_t nowUs, bool transmitting, air::Wait& wait) const = 0;
  // The air ended the run (its --stop-after, or no node left).
  virtual void airEnded() = 0;
};

class AirLink final : public Device, public AirRemote {
 public:
  // An armed receiver this short is a channel-sensing round, not a receive window.
  static constexpr uint64_t kSampleWindowUs = 10'000;

  // Connects to `address` (unix:PATH), introduces the participant and makes `medium` its mirror.
  // Null with a message when the air cannot be reached or refuses.
  static std::unique_ptr<AirLink> join(const std::string& address, const air::Hello& hello, RadioMedium& medium,
                                       AirHost& host, std::string& error);
  ~AirLink() override;

  // Where the participant's clock starts (its own, or for a listener where the air is).
  uint64_t startUs() const { return welcome_.startUs; }
  const air::Welcome& welcome() const { return welcome_; }
  bool ended() const { return ended_; }
  // Channel-sensing rounds that did not end in a transmission (the firmware backed off).
  uint64_t deferrals() const { return deferrals_; }

  // The participant sleeps until wakeUs and is to be started again as `relaunch` says, with this
  // process's standard input, output and error. Its process ends after this.
  void pause(uint64_t wakeUs, const air::Relaunch& relaunch);

  // A listener's whole run: its clock goes from one event of its devices (this link among them) to
  // the next until the air ends the run.
  void runUntilEnded(Scheduler& clock);

  // Device: while a radio hears, the clock may not pass the granted time.
  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override { before(nowUs); }
  bool periodic() const override { return true; }

  // AirRemote.
  void sent(const AirFrame& frame) override;
  void cut(uint64_t id, uint64_t atUs) override;
  void before(uint64_t nowUs) override;
  void armed(uint64_t atUs, uint64_t windowUs) override;

 private:
  AirLink(int fd, RadioMedium& medium, AirHost& host, uint64_t joinUs);
  void send(const std::vector<uint8_t>& bytes);
  void take(const air::Grant& grant);
  [[noreturn]] void lost();

  int fd_;
  RadioMedium& medium_;
  AirHost& host_;
  air::Welcome welcome_;
  uint64_t joinUs_;
  uint64_t knownUntilUs_;  // every frame of the others that starts before this is in the medium
  uint64_t lastOwnEndUs_ = 0;
  uint64_t armedAtUs_ = 0;
  bool everArmed_ = false;
  bool roundOpen_ = false;
  uint64_t deferrals_ = 0;
  bool ended_ = false;
  std::map<std::pair<uint32_t, uint64_t>, uint64_t> remoteIds_;  // (origin, their number) -> id here
};

}  // namespace sim
