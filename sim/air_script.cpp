// Scripted test transmitter: parsing of the script and placing its frames on the medium.
#include "air_script.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

bool parseNumber(const std::string& text, double& out) {
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return !text.empty() && end != nullptr && *end == '\0';
}

bool parseUnsigned(const std::string& text, uint64_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  out = std::strtoull(text.c_str(), &end, 0);
  return end != nullptr && *end == '\0';
}

bool parseHex(std::string text, std::vector<uint8_t>& out) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text = text.substr(2);
  if (text.size() % 2 != 0 || text.size() > 512) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const unsigned long v = std::strtoul(pair.c_str(), &end, 16);
    if (*end != '\0' || pair.find_first_of("+- ") != std::string::npos) return false;
    out.push_back(static_cast<uint8_t>(v));
  }
  return out.size() <= 255;
}

}  // namespace

AirScript::AirScript(DeviceHost& board, RadioMedium& medium) : board_(board), medium_(medium) {
  medium_.onReceiverArmed([this](const std::string& who, uint64_t atUs, uint64_t windowUs) {
    if (queue_.empty() || scheduledUs_ != kNever) return;
    const ScriptedFrame& next = queue_.front();
    if (next.trigger != ScriptedFrame::Trigger::inRxMs || who != next.to) return;
    const uint64_t offsetUs = next.value * 1000;
    // Continuous reception (the radio's chip report reads the channel's RSSI that way) is no window.
    if (windowUs == kNever || windowUs <= offsetUs) return;
    scheduledUs_ = atUs + offsetUs;
  });
}

bool AirScript::parseLine(const std::string& rawLine, ScriptedFrame& out, std::string& error) {
  error.clear();
  const std::string line = rawLine.substr(0, rawLine.find('#'));
  std::istringstream words(line);
  std::string word;
  ScriptedFrame f;
  f.frame.sender = "script";
  f.frame.powerDbm = 14;
  int triggers = 0;
  bool any = false;
  while (words >> word) {
    any = true;
    const size_t eq = word.find('=');
    if (eq == std::string::npos) {
      error = "expected key=value, got '" + word + "'";
      return false;
    }
    const std::string key = word.substr(0, eq);
    const std::string value = word.substr(eq + 1);
    uint64_t u = 0;
    double d = 0;
    bool ok = true;
    LoraAirSettings& air = f.frame.air;
    if (key == "at_us" || key == "at_ms" || key == "in_rx_ms" || key == "after_ms") {
      ok = parseUnsigned(value, u);
      ++triggers;
      if (key == "at_us") {
        f.trigger = ScriptedFrame::Trigger::atUs;
        f.value = u;
      } else if (key == "at_ms") {
        f.trigger = ScriptedFrame::Trigger::atUs;
        f.value = u * 1000;
      } else if (key == "in_rx_ms") {
        f.trigger = ScriptedFrame::Trigger::inRxMs;
        f.value = u;
      } else {
        f.trigger = ScriptedFrame::Trigger::afterPreviousMs;
        f.value = u;
      }
    } else if (key == "data") {
      ok = value.empty() || parseHex(value, f.frame.bytes);
    } else if (key == "freq") {
      ok = parseUnsigned(value, u) && u >= 150000000 && u <= 960000000;
      air.freqHz = static_cast<uint32_t>(u);
    } else if (key == "sf") {
      ok = parseUnsigned(value, u) && u >= 5 && u <= 12;
      air.sf = static_cast<uint8_t>(u);
    } else if (key == "bw") {
      ok = value == "125" || value == "250" || value == "500";
      air.bwCode = value == "125" ? 4 : value == "250" ? 5 : 6;
    } else if (key == "cr") {
      ok = value.size() == 3 && value.compare(0, 2, "4/") == 0 && value[2] >= '5' && value[2] <= '8';
      if (ok) air.cr = static_cast<uint8_t>(value[2] - '4');
    } else if (key == "ldro") {
      ok = value == "0" || value == "1";
      air.ldro = value == "1";
    } else if (key == "sync") {
      ok = parseUnsigned(value, u) && u <= 0xFF;
      air.syncWord = static_cast<uint8_t>(u);
    } else if (key == "iq") {
      ok = value == "normal" || value == "inverted";
      air.iqInverted = value == "inverted";
    } else if (key == "preamble") {
      ok = parseUnsigned(value, u) && u >= 1 && u <= 0xFFFF;
      air.preamble = static_cast<uint16_t>(u);
    } else if (key == "crc") {
      ok = value == "ok" || value == "bad" || value == "off";
      f.frame.crcError = value == "bad";
      air.crcOn = value != "off";
    } else if (key == "header") {
      ok = value == "ok" || value == "bad";
      f.frame.headerError = value == "bad";
    } else if (key == "rssi") {
      ok = parseNumber(value, d) && d < 0 && d > -150;
      f.frame.rssiDbm = d;
    } else if (key == "snr") {
      ok = parseNumber(value, d) && d > -40 && d < 40;
      f.frame.snrDb = d;
    } else if (key == "power") {
      ok = parseNumber(value, d) && d >= -30 && d <= 30;
      f.frame.powerDbm = static_cast<int>(d);
    } else if (key == "sender") {
      ok = !value.empty();
      f.frame.sender = value;
    } else if (key == "to") {
      ok = !value.empty();
      f.to = value;
    } else {
      error = "unknown key '" + key + "'";
      return false;
    }
    if (!ok) {
      error = "bad value in '" + word + "'";
      return false;
    }
  }
  if (!any) return false;
  if (triggers != 1) {
    error = "needs exactly one of at_us, at_ms, in_rx_ms, after_ms";
    return false;
  }
  out = f;
  return true;
}

bool AirScript::load(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    ScriptedFrame f;
    std::string message;
    if (parseLine(line, f, message)) {
      add(f);
    } else if (!message.empty()) {
      error = path + ":" + std::to_string(number) + ": " + message;
      return false;
    }
  }
  return true;
}

void AirScript::add(const ScriptedFrame& frame) {
  queue_.push_back(frame);
  if (queue_.size() == 1) schedule(board_.nowUs());
}

void AirScript::schedule(uint64_t nowUs) {
  scheduledUs_ = kNever;
  if (queue_.empty()) return;
  const ScriptedFrame& next = queue_.front();
  switch (next.trigger) {
    case ScriptedFrame::Trigger::atUs: scheduledUs_ = std::max(next.value, nowUs); break;
    case ScriptedFrame::Trigger::afterPreviousMs: scheduledUs_ = std::max(lastEndUs_, nowUs) + next.value * 1000; break;
    case ScriptedFrame::Trigger::inRxMs: break;  // placed when the receiver is armed
  }
}

void AirScript::fire(uint64_t nowUs) {
  if (queue_.empty() || scheduledUs_ == kNever || scheduledUs_ > nowUs) return;
  AirFrame frame = queue_.front().frame;
  queue_.pop_front();
  frame.startUs = scheduledUs_;
  frame.endUs = frame.startUs + frame.air.timeOnAirUs(frame.bytes.size());
  lastEndUs_ = frame.endUs;
  medium_.transmit(frame);
  schedule(nowUs);
}

}  // namespace sim
