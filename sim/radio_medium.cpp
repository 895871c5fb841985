// The simulated LoRa medium: delivery, link budget, collisions, interferer and air log.
#include "radio_medium.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

constexpr double kPreambleSyncSymbols = 4.25;
constexpr double kHeaderSymbols = 8.0;

double toMw(double dbm) { return std::pow(10.0, dbm / 10.0); }

bool sameChannel(const LoraAirSettings& a, const LoraAirSettings& b) {
  const uint32_t diff = a.freqHz > b.freqHz ? a.freqHz - b.freqHz : b.freqHz - a.freqHz;
  return diff < std::max(a.bwHz(), b.bwHz()) / 2;
}

const char* crText(uint8_t cr) {
  switch (cr) {
    case 1: return "4/5";
    case 2: return "4/6";
    case 3: return "4/7";
    case 4: return "4/8";
    default: return "?";
  }
}

bool parseMs(const std::string& text, uint64_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  out = std::strtoull(text.c_str(), &end, 10);
  return *end == '\0';
}

}  // namespace

bool parseInterferer(const std::string& text, Interferer& out, std::string& error) {
  error = "--interferer takes DBM or DBM:ON_MS:OFF_MS";
  const size_t c1 = text.find(':');
  const std::string level = text.substr(0, c1);
  char* end = nullptr;
  const double dbm = std::strtod(level.c_str(), &end);
  if (level.empty() || *end != '\0' || dbm < -150 || dbm > 30) return false;
  Interferer i;
  i.dbm = dbm;
  i.active = true;
  if (c1 != std::string::npos) {
    const size_t c2 = text.find(':', c1 + 1);
    if (c2 == std::string::npos) return false;
    uint64_t on = 0, off = 0;
    if (!parseMs(text.substr(c1 + 1, c2 - c1 - 1), on) || !parseMs(text.substr(c2 + 1), off) || on == 0 || off == 0) {
      return false;
    }
    i.onUs = on * 1000;
    i.offUs = off * 1000;
  }
  error.clear();
  out = i;
  return true;
}

double addDbm(double a, double b) { return 10.0 * std::log10(toMw(a) + toMw(b)); }

uint32_t LoraAirSettings::bwHz() const {
  switch (bwCode) {
    case 0: return 7812;
    case 1: return 15625;
    case 2: return 31250;
    case 3: return 62500;
    case 4: return 125000;
    case 5: return 250000;
    case 6: return 500000;
    case 8: return 10417;
    case 9: return 20833;
    case 10: return 41667;
    default: return 125000;
  }
}

double LoraAirSettings::symbolUs() const { return std::ldexp(1.0, sf) * 1e6 / static_cast<double>(bwHz()); }

uint64_t LoraAirSettings::timeOnAirUs(size_t len) const {
  // SF7 and up: preamble (n + 4.25) symbols, payload 8 + max(ceil((8PL - 4SF + 28 + 16CRC - 20IH) /
  // (4(SF - 2DE))) (CR + 4), 0) symbols. SF5 and SF6: preamble (n + 6.25) symbols and 20 instead of 28.
  const int de = ldro ? 1 : 0;
  const int ih = implicitHeader ? 1 : 0;
  const int crc = crcOn ? 1 : 0;
  double payloadSymbols;
  double preambleSymbols = preamble + kPreambleSyncSymbols;
  if (sf >= 7) {
    const double num = 8.0 * static_cast<double>(len) - 4.0 * sf + 28 + 16 * crc - 20 * ih;
    payloadSymbols = 8 + std::max(std::ceil(num / (4.0 * (sf - 2 * de))) * (cr + 4), 0.0);
  } else {
    const double num = 8.0 * static_cast<double>(len) - 4.0 * sf + 20 + 16 * crc - 20 * ih;
    payloadSymbols = 8 + std::max(std::ceil(num / (4.0 * sf)) * (cr + 4), 0.0);
    preambleSymbols += 2.0;
  }
  return static_cast<uint64_t>(std::ceil((preambleSymbols + payloadSymbols) * symbolUs()));
}

uint64_t LoraAirSettings::headerOffsetUs() const {
  const double symbols = preamble + kPreambleSyncSymbols + (implicitHeader ? 0.0 : kHeaderSymbols);
  return static_cast<uint64_t>(std::ceil(symbols * symbolUs()));
}

double RadioMedium::noiseFloorDbm(uint32_t bwHz) {
  return -174.0 + 10.0 * std::log10(static_cast<double>(bwHz)) + kNoiseFigureDb;
}

double RadioMedium::demodulationFloorDb(uint8_t sf) {
  // 2.5 dB lower per spreading factor step: -5 at SF6, -7.5 at SF7 ... -17.5 at SF11.
  return -7.5 - 2.5 * (static_cast<double>(sf) - 7.0);
}

RadioMedium::~RadioMedium() {
  if (airLog_ != nullptr) std::fclose(airLog_);
}

void RadioMedium::attach(RadioEndpoint* endpoint) { endpoints_.push_back({endpoint, nextOrigin_++}); }

void RadioMedium::detach(RadioEndpoint* endpoint) {
  endpoints_.erase(
      std::remove_if(endpoints_.begin(), endpoints_.end(), [&](const Attached& a) { return a.endpoint == endpoint; }),
      endpoints_.end());
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.to == endpoint; }),
                 pending_.end());
}

uint32_t RadioMedium::originOf(const RadioEndpoint* endpoint) const {
  for (const Attached& a : endpoints_) {
    if (a.endpoint == endpoint) return a.origin;
  }
  return 0;
}

bool RadioMedium::anyHearing() const {
  for (const Attached& a : endpoints_) {
    if (a.endpoint->hearing()) return true;
  }
  return false;
}

AirFrame* RadioMedium::frameById(uint64_t id) {
  if (id < firstId_ || id - firstId_ >= history_.size()) return nullptr;
  return &history_[id - firstId_];
}

bool RadioMedium::openAirLog(const std::string& path) {
  if (airLog_ != nullptr) std::fclose(airLog_);
  airLog_ = std::fopen(path.c_str(), "ae");
  return airLog_ != nullptr;
}

uint64_t RadioMedium::transmit(AirFrame frame, const RadioEndpoint* from) {
  if (from != nullptr) {
    frame.origin = originOf(from);
  } else {
    // A frame in the name of an attached radio (a scripted one) is that radio's own.
    for (const Attached& a : endpoints_) {
      if (a.endpoint->endpointName() == frame.sender) {
        frame.origin = a.origin;
        break;
      }
    }
  }
  const uint64_t id = put(std::move(frame));
  const AirFrame& f = *frameById(id);
  logFrame(f);
  if (onTransmit_) onTransmit_(f);
  if (remote_ != nullptr) remote_->sent(f);
  return id;
}

uint64_t RadioMedium::inject(AirFrame frame) { return put(std::move(frame)); }

uint64_t RadioMedium::put(AirFrame frame) {
  frame.id = firstId_ + history_.size();
  if (frame.endUs < frame.startUs) frame.endUs = frame.startUs;
  if (!history_.empty() && frame.startUs < history_.back().startUs) startsInOrder_ = false;
  longestUs_ = std::max(longestUs_, frame.endUs - frame.startUs);
  history_.push_back(std::move(frame));
  const AirFrame& f = history_.back();
  const uint64_t headerAt = std::min(f.startUs + f.air.headerOffsetUs(), f.endUs);
  for (const Attached& a : endpoints_) {
    if (a.origin == f.origin) continue;
    pending_.push_back({f.id, headerAt, true, a.endpoint});
    pending_.push_back({f.id, f.endUs, false, a.endpoint});
  }
  return f.id;
}

void RadioMedium::truncate(uint64_t id, uint64_t atUs) {
  AirFrame* f = frameById(id);
  if (f == nullptr || atUs >= f->endUs) return;
  f->endUs = std::max(atUs, f->startUs);
  f->truncated = true;
  for (Pending& p : pending_) {
    if (p.frameId == id) p.atUs = std::min(p.atUs, f->endUs);
  }
  if (remote_ != nullptr && f->origin != 0 && f->origin < kRemoteOrigin) remote_->cut(id, f->endUs);
}

void RadioMedium::forget(uint64_t beforeUs) {
  while (!history_.empty() && history_.front().endUs < beforeUs) {
    const uint64_t id = history_.front().id;
    bool awaited = false;
    for (const Pending& p : pending_) awaited = awaited || p.frameId == id;
    if (awaited) break;
    history_.pop_front();
    ++firstId_;
  }
}

double RadioMedium::interfererDbmAt(uint64_t fromUs, uint64_t toUs) const {
  // The interferer counts when it is on at any moment of [fromUs, toUs].
  if (!interferer_.active) return -1000.0;
  if (interferer_.onUs == 0 || interferer_.offUs == 0) return interferer_.dbm;
  const uint64_t period = interferer_.onUs + interferer_.offUs;
  if (toUs - fromUs >= interferer_.offUs) return interferer_.dbm;
  const uint64_t a = fromUs % period;
  const uint64_t b = a + (toUs - fromUs);
  const bool on = a < interferer_.onUs || b >= period;
  return on ? interferer_.dbm : -1000.0;
}

size_t RadioMedium::firstOnAirAt(uint64_t atUs) const {
  if (!startsInOrder_) return 0;
  // A frame that started longestUs_ or more before ended by then (truncation only shortens one).
  const auto first = std::partition_point(history_.begin(), history_.end(), [&](const AirFrame& f) {
    return f.startUs + longestUs_ <= atUs;
  });
  return static_cast<size_t>(first - history_.begin());
}

double RadioMedium::channelPowerDbm(const RadioEndpoint* self, const LoraAirSettings& air, uint64_t nowUs) const {
  if (remote_ != nullptr) remote_->before(nowUs);
  const uint32_t selfOrigin = self != nullptr ? originOf(self) : 0;
  double p = addDbm(noiseFloorDbm(air.bwHz()), interfererDbmAt(nowUs, nowUs));
  for (size_t i = firstOnAirAt(nowUs); i < history_.size(); ++i) {
    const AirFrame& f = history_[i];
    if (f.startUs > nowUs || f.endUs <= nowUs) continue;
    if (self != nullptr && f.origin != 0 && f.origin == selfOrigin) continue;
    if (!sameChannel(f.air, air)) continue;
    p = addDbm(p, f.rssiDbm ? *f.rssiDbm : f.powerDbm - linkLossDb_);
  }
  return p;
}

Reception RadioMedium::receive(const AirFrame& frame, const RadioEndpoint* at, bool wholeFrame) const {
  Reception rx;
  rx.signalDbm = frame.rssiDbm ? *frame.rssiDbm : frame.powerDbm - linkLossDb_;
  const uint64_t until = wholeFrame ? frame.endUs : std::min(frame.startUs + frame.air.headerOffsetUs(), frame.endUs);
  const double noise = addDbm(noiseFloorDbm(frame.air.bwHz()), interfererDbmAt(frame.startUs, until));
  // Overlapping frames on the channel: a stronger or comparable one destroys this one.
  bool collided = false;
  double interference = noise;
  const uint32_t atOrigin = originOf(at);
  for (size_t i = firstOnAirAt(frame.startUs); i < history_.size(); ++i) {
    const AirFrame& other = history_[i];
    if (other.id == frame.id || other.startUs >= until || other.endUs <= frame.startUs) continue;
    if ((other.origin != 0 && other.origin == atOrigin) || !sameChannel(other.air, frame.air)) continue;
    const double otherDbm = other.rssiDbm ? *other.rssiDbm : other.powerDbm - linkLossDb_;
    interference = addDbm(interference, otherDbm);
    if (otherDbm > rx.signalDbm - kCaptureDb) collided = true;
  }
  rx.rssiDbm = addDbm(rx.signalDbm, interference);
  rx.snrDb = frame.snrDb ? *frame.snrDb : rx.signalDbm - interference;
  rx.detectable = frame.lora && rx.snrDb >= demodulationFloorDb(frame.air.sf);
  rx.headerOk = rx.detectable && !collided && !frame.headerError;
  rx.payloadOk = rx.headerOk && !frame.crcError && !frame.truncated;
  return rx;
}

void RadioMedium::receiverArmed(const RadioEndpoint* who, uint64_t atUs, uint64_t windowUs) {
  if (remote_ != nullptr) remote_->armed(atUs, windowUs);
  for (auto& fn : armWatchers_) fn(who->endpointName(), atUs, windowUs);
}

void RadioMedium::onReceiverArmed(std::function<void(const std::string&, uint64_t, uint64_t)> fn) {
  armWatchers_.push_back(std::move(fn));
}

uint64_t RadioMedium::nextEventUs() const {
  uint64_t next = kNever;
  for (const Pending& p : pending_) next = std::min(next, p.atUs);
  return next;
}

void RadioMedium::fire(uint64_t nowUs) {
  if (remote_ != nullptr) remote_->before(nowUs);
  // Deliver every event that is due, earliest first (headers before ends at the same time).
  for (;;) {
    auto due = pending_.end();
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->atUs > nowUs) continue;
      if (due == pending_.end() || it->atUs < due->atUs || (it->atUs == due->atUs && it->header && !due->header)) {
        due = it;
      }
    }
    if (due == pending_.end()) return;
    const Pending p = *due;
    pending_.erase(due);
    const AirFrame frame = *frameById(p.frameId);
    const Reception rx = receive(frame, p.to, !p.header);
    if (p.header)
      p.to->frameHeader(frame, rx);
    else
      p.to->frameEnd(frame, rx);
  }
}

void RadioMedium::logFrame(const AirFrame& f) {
  if (airLog_ == nullptr) return;
  std::fputs(airLogLine(f).c_str(), airLog_);
  std::fflush(airLog_);
}

std::string airLogLine(const AirFrame& f) {
  std::string hex;
  static const char* const kDigits = "0123456789ABCDEF";
  for (uint8_t b : f.bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  auto head = [&](char* buf, size_t size) {
    return std::snprintf(
        buf, size,
        "{\"t_us\":%llu,\"sender\":\"%s\"%s%s%s,\"modem\":\"%s\",\"freq_hz\":%u,\"sf\":%u,\"bw_hz\":%u,"
        "\"cr\":\"%s\",\"ldro\":%s,\"sync\":\"0x%02X\",\"iq\":\"%s\",\"preamble\":%u,\"header\":\"%s\","
        "\"crc\":%s,\"power_dbm\":%d,\"len\":%zu,\"toa_us\":%llu,\"hex\":\"",
        static_cast<unsigned long long>(f.startUs), f.sender.c_str(), f.name.empty() ? "" : ",\"name\":\"",
        f.name.c_str(), f.name.empty() ? "" : "\"", f.lora ? "lora" : "gfsk", static_cast<unsigned>(f.air.freqHz),
        static_cast<unsigned>(f.air.sf), static_cast<unsigned>(f.air.bwHz()), crText(f.air.cr),
        f.air.ldro ? "true" : "false", static_cast<unsigned>(f.air.syncWord), f.air.iqInverted ? "inverted" : "normal",
        static_cast<unsigned>(f.air.preamble), f.air.implicitHeader ? "implicit" : "explicit",
        f.air.crcOn ? "true" : "false", f.powerDbm, f.bytes.size(),
        static_cast<unsigned long long>(f.endUs - f.startUs));
  };
  std::string line(static_cast<size_t>(head(nullptr, 0)), '\0');
  head(line.data(), line.size() + 1);
  line += hex + "\"";
  char tail[96];
  if (f.rssiDbm) {
    std::snprintf(tail, sizeof tail, ",\"rssi_dbm\":%.1f", *f.rssiDbm);
    line += tail;
  }
  if (f.snrDb) {
    std::snprintf(tail, sizeof tail, ",\"snr_db\":%.1f", *f.snrDb);
    line += tail;
  }
  if (f.crcError) line += ",\"fault\":\"crc\"";
  if (f.headerError) line += ",\"fault\":\"header\"";
  return line + "}\n";
}

}  // namespace sim
