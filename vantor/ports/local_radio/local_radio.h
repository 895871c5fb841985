// The Vantor's own LLCC68 (or SX1262) on a Linux board as a radio port: the node's command layer
// over the board's bus (radio_bus.h), continuous receive with the node's radio settings, each frame
// to the core, each answer sent at the uplink's end plus the answer's delay, after sensing the
// channel as the node does. One thread; the chip's IRQ flags are polled (or DIO1 read when wired).
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "channel_sensing.h"
#include "radio_bus.h"
#include "radio_port.h"

namespace vantor {

class LocalRadio {
 public:
  // The node's radio: 868 MHz, SF7, 125 kHz, CR 4/5, explicit header, CRC on, normal IQ, sync word
  // 0x12, 8 preamble symbols; answers at 14 dBm, the node's own power for frames that need a reply.
  static constexpr uint32_t kFreqHz = 868'000'000;
  static constexpr int8_t kTxPowerDbm = 14;
  static constexpr uint16_t kPreambleSymbols = 8;
  // How often the chip is asked for news: the node's own receive poll period; with DIO1 wired the
  // line is read every millisecond and the chip asked only when it is high.
  static constexpr uint64_t kPollUs = 5'000;
  static constexpr uint64_t kDio1PollUs = 1'000;
  // A frame not confirmed sent within its time on air and this much is given up.
  static constexpr uint64_t kTxSlackUs = 100'000;
  // Polls that fail in a row before the chip is reset and configured again; a chip that does not
  // come back is tried again this often, and nothing is received meanwhile.
  static constexpr unsigned kFailuresBeforeReset = 3;
  static constexpr uint64_t kRetryUs = 1'000'000;
  // How often the chip is asked whether it still receives (a reset by a supply dip leaves it in
  // standby with its defaults, answering every poll with no news).
  static constexpr uint64_t kCheckUs = 10'000'000;

  struct Counts {
    uint64_t heard = 0;     // frames that passed the radio's CRC, handed to the core
    uint64_t dropped = 0;   // frames with a header or CRC error
    uint64_t answered = 0;  // answers on the air
    uint64_t failed = 0;    // answers the radio did not send
    uint64_t resets = 0;    // the chip reset and configured again after it stopped answering
  };

  // `log` takes the port's lines (errors, resets); the core's outputs report the frames.
  LocalRadio(RadioBus& bus, RadioCore& core, std::ostream& log);

  // Resets and configures the chip and starts receiving; false with a message.
  bool start(std::string& error);
  // Receives and answers until `stop` says so.
  void run(const std::function<bool()>& stop);
  const Counts& counts() const { return counts_; }

 private:
  struct Pending {
    Answer answer;
    uint64_t atUs = 0;  // monotonic: the next channel sample, or the transmission
    ChannelSensing sensing;
  };

  const void* ctx() const { return bus_.context(); }
  bool configure(std::string& error);
  bool receive();
  void poll();
  void take(uint64_t endUs);
  void step(Pending& p, uint64_t nowUs);
  bool transmit(const std::vector<uint8_t>& frame);
  void check();
  void lost(const std::string& why);
  void recover();
  void keepInTimeOrder();

  RadioBus& bus_;
  RadioCore& core_;
  std::ostream& log_;
  RadioSystem& sys_;
  std::vector<Pending> pending_;  // in time order
  unsigned failures_ = 0;
  bool down_ = false;  // the chip did not come back from a reset
  uint64_t retryAtUs_ = 0;
  Counts counts_;
};

}  // namespace vantor
