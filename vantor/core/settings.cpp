// Remote settings: from the CLI's words to packet 14's opcode and arguments.
#include "settings.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "uplink_decode.h"

namespace vantor {

namespace {

using LoRaRXPacket14::Op;

bool parseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && errno == 0 && std::isfinite(out);
}

bool parseInteger(const std::string& text, long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  out = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0' && errno == 0;
}

uint32_t floatBits(float v) { return std::bit_cast<uint32_t>(v); }

}  // namespace

const char* settingsHelp() {
  return "settings: phase <rad> | debug-rate <0..65535> | sleep <1..86400 s> [force-rx] | tx-power <0..14 dBm> | dbg1";
}

std::optional<QueueOutcome> checkQueueRequest(const QueueRequest& r) {
  const auto bad = [](std::string message, bool aboutSetting = false) {
    QueueOutcome out;
    out.status = QueueOutcome::Status::badRequest;
    out.message = std::move(message);
    out.aboutSetting = aboutSetting;
    return out;
  };
  if (r.maxAttempts < 1) return bad("max-attempts takes 1 or more");
  if (!(r.ttlS > 0)) return bad("ttl takes seconds above 0");
  if (!parseUid(r.node)) return bad("bad node '" + r.node + "': an identity in hex, 0x000001 to 0xFFFFFF");
  Setting s;
  std::string error;
  if (!parseSetting(r.words, s, error)) return bad(error, true);
  return std::nullopt;
}

QueueOutcome queueSetting(Store& store, const QueueRequest& r, const Outputs* outputs) {
  if (std::optional<QueueOutcome> bad = checkQueueRequest(r)) return *bad;
  Store::Transaction tx(store);
  const uint64_t now = store.nowUs();
  QueueOutcome out = addSetting(store, r, now);
  if (out.status != QueueOutcome::Status::queued) return out;
  Stored stored;
  stored.nowUs = now;
  stored.items.push_back(out.item);
  if (outputs != nullptr) outputs->staged(stored, store);
  tx.commit();
  if (outputs != nullptr) outputs->committed(stored);
  return out;
}

QueueOutcome addSetting(Store& store, const QueueRequest& r, uint64_t now) {
  if (std::optional<QueueOutcome> bad = checkQueueRequest(r)) return *bad;
  QueueOutcome out;
  const uint32_t uid = *parseUid(r.node);
  Setting s;
  std::string error;
  parseSetting(r.words, s, error);
  if (!store.nodeByUid(uid)) {
    out.status = QueueOutcome::Status::refused;
    out.message = "no node " + uidText(uid) + " in the registry";
    return out;
  }
  // A time to live beyond what the clock can hold means no limit.
  const double ttlUs = r.ttlS * 1e6;
  const uint64_t room = static_cast<uint64_t>(INT64_MAX) - std::min<uint64_t>(now, INT64_MAX);
  out.item =
      queueItem(uid, s, r.maxAttempts, now, ttlUs >= static_cast<double>(room) ? room : static_cast<uint64_t>(ttlUs));
  out.item.id = store.addQueueItem(out.item);
  out.item.state = "pending";
  out.message = queuedMessage(out.item);
  return out;
}

std::string queuedMessage(const QueueItem& q) {
  return "queued #" + std::to_string(q.id) + " for " + uidText(q.uid) + ": " + q.setting +
         (q.value.empty() ? "" : " ") + q.value;
}

QueueItem queueItem(uint32_t uid, const Setting& s, int maxAttempts, uint64_t createdUs, uint64_t ttlUs) {
  QueueItem q;
  q.uid = uid;
  q.setting = s.name;
  q.value = s.value;
  q.op = s.op;
  q.args = s.args;
  q.maxAttempts = maxAttempts;
  q.createdUs = createdUs;
  q.expiresUs = createdUs + ttlUs;
  return q;
}

bool parseSetting(const std::vector<std::string>& words, Setting& out, std::string& error) {
  if (words.empty()) {
    error = "no setting given";
    return false;
  }
  const std::string& name = words[0];
  const size_t values = words.size() - 1;
  Setting s;
  s.name = name;
  s.args.fill(0);
  double number = 0;
  long integer = 0;
  if (name == "phase") {
    // The node keeps what the shell can set: finite and within +-21474.83647 rad.
    if (values != 1 || !parseNumber(words[1], number) ||
        std::fabs(number) > static_cast<double>(LoRaRXPacket14::kPhaseShiftAbsMax)) {
      error = "phase takes one value in radians, -21474.83647..21474.83647";
      return false;
    }
    const float v = static_cast<float>(number);
    s.op = Op::SET_PhaseShift;
    s.args[7] = floatBits(v);  // the phase travels in the last argument
    s.value = floatText(v);
  } else if (name == "debug-rate") {
    if (values != 1 || !parseInteger(words[1], integer) || integer < 0 || integer > 65535) {
      error = "debug-rate takes one whole number, 0..65535 (0: the debug group in every cycle)";
      return false;
    }
    s.op = Op::SET_txDebugPacketRate;
    s.args[0] = static_cast<uint32_t>(integer);
    s.value = std::to_string(integer);
  } else if (name == "sleep") {
    const bool force = values == 2 && words[2] == "force-rx";
    if ((values != 1 && !force) || !parseNumber(words[1], number) || number < LoRaRXPacket14::kSleepMaxSecMin ||
        number > LoRaRXPacket14::kSleepMaxSecMax) {
      error = "sleep takes seconds, 1..86400, optionally followed by force-rx";
      return false;
    }
    const float v = static_cast<float>(number);
    s.op = Op::SET_SleepForceRX;
    s.args[0] = floatBits(v);
    s.args[1] = force ? 1 : 0;
    s.value = floatText(v) + (force ? " force-rx" : "");
  } else if (name == "tx-power") {
    if (values != 1 || !parseInteger(words[1], integer) || integer < LoRaRXPacket14::kTxPowerDbmMin ||
        integer > LoRaRXPacket14::kTxPowerDbmMax) {
      error = "tx-power takes whole dBm, 0..14 (a drop of more than 5 dB is limited to 5 dB by the node)";
      return false;
    }
    s.op = Op::SET_TxPowerDbm;
    s.args[0] = static_cast<uint32_t>(integer) & 0xFFu;
    s.value = std::to_string(integer);
  } else if (name == "dbg1") {
    if (values != 0) {
      error = "dbg1 takes no value";
      return false;
    }
    s.op = Op::DBG1_TOGGLE;
  } else {
    error = "unknown setting '" + name + "'";
    return false;
  }
  out = s;
  return true;
}

}  // namespace vantor
