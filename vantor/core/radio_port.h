// The core as every radio port sees it: a port hands over each frame it received, with how it was
// received, and gets back the answer as "these bytes, this long after the uplink's end"; it turns
// that into its own timing (virtual time on a simulated medium, a concentrator's counter on a
// gateway, a timer on the board's own radio) and reports back when a send was refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decide.h"

namespace vantor {

// The node switches to receive within a few milliseconds of its frame's end: the soonest an answer
// may start after that end, whatever the port.
inline constexpr uint64_t kAnswerDelayUs = 50'000;

// A frame a port received.
struct HeardFrame {
  std::vector<uint8_t> bytes;
  // Start of the frame on the Vantor's clock, RSSI, SNR; which port and which of its receivers
  // heard it; a gateway's counter and time of reception.
  Reception rx;
  // The soonest after the frame's end this port can put an answer on the air (a gateway's
  // forwarder needs its programming lead and the network's time).
  uint64_t soonestAnswerUs = 0;
  Behaviour behaviour;  // faults of the test harness that hold now
};

class RadioCore {
 public:
  virtual ~RadioCore() = default;
  // Stores the frame (unless it is a downlink heard on the air) and returns the answer to send, if
  // any, with its delay after the frame's end. A database error is reported and nothing is answered.
  virtual std::optional<Answer> heard(const HeardFrame& frame) = 0;
  // The frames a port had waiting, in the order received: the same stored rows and answers as
  // heard() on each in turn (a core may store them in fewer transactions). One answer a frame.
  virtual std::vector<std::optional<Answer>> heardAll(const std::vector<HeardFrame>& frames) {
    std::vector<std::optional<Answer>> answers;
    for (const HeardFrame& f : frames) answers.push_back(heard(f));
    return answers;
  }
  // The port could not send the answer (a gateway refused it or never acknowledged it): the
  // setting it carried was not sent and goes at the node's next window; the reason is kept.
  virtual void refused(const Answer& answer, const std::string& reason) = 0;
};

}  // namespace vantor
