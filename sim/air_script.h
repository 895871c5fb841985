// Scripted test transmitter on the medium: frames with given settings, reception figures and
// corruption, at given virtual times or relative to the node's receive windows. Loaded from an
// --air-script file (one frame per line) or fed by tests.
//
// A line is blank-separated key=value pairs; '#' starts a comment. Exactly one of
//   at_us=N | at_ms=N      absolute virtual time (the clock of the air log)
//   in_rx_ms=N             N ms after the receiver `to` is next armed for a window longer than N ms
//                          (continuous reception is no window)
//   after_ms=N             N ms after the end of the previous scripted frame
// and any of
//   data=HEX (empty: zero-length frame)  freq=HZ  sf=5..11  bw=125|250|500  cr=4/5..4/8  ldro=0|1
//   sync=0x12  iq=normal|inverted  preamble=N  crc=ok|bad|off  header=ok|bad  rssi=DBM  snr=DB
//   power=DBM  sender=NAME (default script)  to=NAME (default node)
#pragma once

#include <deque>
#include <string>

#include "device_host.h"
#include "radio_medium.h"

namespace sim {

struct ScriptedFrame {
  enum class Trigger { atUs, inRxMs, afterPreviousMs };
  Trigger trigger = Trigger::atUs;
  uint64_t value = 0;
  std::string to = "node";
  AirFrame frame;
};

class AirScript : public Device {
 public:
  AirScript(DeviceHost& board, RadioMedium& medium);

  // One line of the script format; false with a message for a malformed one. A blank or comment
  // line gives false with an empty message.
  static bool parseLine(const std::string& line, ScriptedFrame& out, std::string& error);
  bool load(const std::string& path, std::string& error);
  void add(const ScriptedFrame& frame);
  size_t remaining() const { return queue_.size(); }

  uint64_t nextEventUs() const override { return scheduledUs_; }
  void fire(uint64_t nowUs) override;
  bool periodic() const override { return true; }

 private:
  void schedule(uint64_t nowUs);

  DeviceHost& board_;
  RadioMedium& medium_;
  std::deque<ScriptedFrame> queue_;
  uint64_t scheduledUs_ = kNever;  // start of queue_.front(), once known
  uint64_t lastEndUs_ = 0;
};

}  // namespace sim
