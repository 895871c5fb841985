// The gateway port: the forwarder's datagrams in, frames to the core, answers out as PULL_RESP.
#include "gateway_port.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vantor {

namespace {

using gateway::Ident;

uint64_t utcNowUs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
}

// Time on air of our frames (LoRa SF7, 125 kHz, CR 4/5, explicit header, CRC on, preamble 8), from
// the transceiver datasheet's formula: (preamble + 4.25) symbols, then 8 + ceil((8 PL - 4 SF + 28 +
// 16) / (4 SF)) (CR + 4) symbols of 1.024 ms.
uint64_t airtimeUs(size_t len) {
  const int sf = 7;
  const int numerator = 8 * static_cast<int>(len) - 4 * sf + 28 + 16;
  const int payloadSymbols = 8 + std::max((numerator + 4 * sf - 1) / (4 * sf), 0) * 5;
  return static_cast<uint64_t>((12.25 + payloadSymbols) * 1024.0);
}

std::string addressText(const sockaddr_storage& a) {
  char host[INET6_ADDRSTRLEN] = "?";
  uint16_t port = 0;
  if (a.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
    inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
    port = ntohs(v4->sin_port);
    return std::string(host) + ":" + std::to_string(port);
  }
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
  inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
  port = ntohs(v6->sin6_port);
  return "[" + std::string(host) + "]:" + std::to_string(port);
}

uint64_t usBetween(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return b <= a ? 0 : static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(b - a).count());
}

}  // namespace

bool parseGatewayAddress(const std::string& text, GatewayOptions& out, std::string& error) {
  const std::string scheme = "udp://";
  if (text.rfind(scheme, 0) != 0) {
    error = "--gateway " + text + ": expected udp://ADDR[:PORT]";
    return false;
  }
  std::string rest = text.substr(scheme.size());
  std::string host = rest;
  std::string port = "1700";
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) {
      error = "--gateway " + text + ": no closing ] after the IPv6 address";
      return false;
    }
    host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') {
        error = "--gateway " + text + ": expected :PORT after the address";
        return false;
      }
      port = rest.substr(close + 2);
    }
  } else if (const size_t colon = rest.rfind(':'); colon != std::string::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  char* end = nullptr;
  const long p = std::strtol(port.c_str(), &end, 10);
  if (host.empty() || port.empty() || *end != '\0' || p < 0 || p > 65535) {
    error = "--gateway " + text + ": expected udp://ADDR[:PORT] with a port from 0 to 65535";
    return false;
  }
  out.host = host;
  out.port = static_cast<uint16_t>(p);
  return true;
}

GatewayPort::GatewayPort(RadioCore& core, GatewayOptions options, std::function<void(const GatewayRecord&)> save)
    : core_(core), options_(std::move(options)), save_(std::move(save)), tokens_(std::random_device{}()) {
  if (!options_.clockUs) options_.clockUs = utcNowUs;
  unattributed_.dirty = false;
}

GatewayPort::~GatewayPort() { stop(); }

bool GatewayPort::start(std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options_.port);
  if (const int rc = getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "--gateway: cannot resolve " + options_.host + ": " + gai_strerror(rc);
    return false;
  }
  std::string why = "no address";
  for (addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      why = std::strerror(errno);
      continue;
    }
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0) {
      why = std::strerror(errno);
      ::close(fd);
      continue;
    }
    fd_ = fd;
  }
  freeaddrinfo(found);
  if (fd_ < 0) {
    error = "--gateway: cannot listen on udp://" + options_.host + ":" + port + ": " + why;
    return false;
  }
  // A burst of PUSH_DATA must not be lost while a frame is being stored.
  const int buffer = 4 << 20;
  (void)setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  savedAt_ = Clock::now();
  stopping_ = false;
  thread_ = std::thread([this] { serve(); });
  return true;
}

void GatewayPort::stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    thread_.join();
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    saveDirty();
  }
}

std::string GatewayPort::boundAddress() const {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return "";
  return "udp://" + addressText(a);
}

std::vector<GatewayRecord> GatewayPort::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<GatewayRecord> out;
  if (!unattributed_.record.counters.empty()) out.push_back(unattributed_.record);
  for (const auto& [eui, g] : gateways_) out.push_back(g.record);
  return out;
}

void GatewayPort::serve() {
  std::vector<uint8_t> buffer(65536);
  while (!stopping_) {
    // Wake for the next answer due, the next TX_ACK deadline, or at least every 100 ms.
    Clock::time_point wake = Clock::now() + std::chrono::milliseconds(100);
    for (const Pending& p : pending_) wake = std::min(wake, p.dueAt);
    for (const Unacked& u : unacked_) wake = std::min(wake, u.deadline);
    const uint64_t waitUs = usBetween(Clock::now(), wake);
    pollfd pfd{fd_, POLLIN, 0};
    (void)::poll(&pfd, 1, static_cast<int>((waitUs + 999) / 1000));
    // Answers that are due go between batches of datagrams: a steady stream of PUSH_DATA must not
    // hold them.
    for (bool more = true; more;) {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t read = 0; read < kBatchDatagrams; ++read) {
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {  // nothing more waiting (or an error the next poll reports again)
          more = false;
          break;
        }
        onDatagram(buffer.data(), static_cast<size_t>(n), from, fromLen);
      }
      hearWaiting();
      dueWork();
    }
  }
}

void GatewayPort::dueWork() {
  const Clock::time_point now = Clock::now();
  for (size_t i = 0; i < pending_.size();) {
    if (pending_[i].dueAt <= now) {
      Pending p = std::move(pending_[i]);
      pending_.erase(pending_.begin() + static_cast<long>(i));
      dispatch(p);
    } else {
      ++i;
    }
  }
  expireAcks();
  if (usBetween(savedAt_, now) >= kSaveEveryUs) {
    savedAt_ = now;
    saveDirty();
  }
}

void GatewayPort::count(GatewayRecord& r, const char* group, const std::string& reason) {
  nlohmann::json& c = r.counters;
  if (reason.empty()) {
    c[group] = c.value(group, 0) + 1;
  } else {
    nlohmann::json& byReason = c[group];
    if (!byReason.is_object()) byReason = nlohmann::json::object();
    byReason[reason] = byReason.value(reason, 0) + 1;
  }
}

void GatewayPort::countBad(const std::string& reason) {
  count(unattributed_.record, "dropped", reason);
  unattributed_.dirty = true;
}

void GatewayPort::onDatagram(const uint8_t* data, size_t len, const sockaddr_storage& from, socklen_t fromLen) {
  gateway::Datagram d;
  std::string error;
  if (!gateway::parseDatagram(data, len, d, error)) {
    const char* reason = len < gateway::kHeaderBytes                                      ? "short"
                         : data[0] != gateway::kVersion1 && data[0] != gateway::kVersion2 ? "version"
                         : data[3] > static_cast<uint8_t>(Ident::txAck)                   ? "identifier"
                                                                                          : "malformed";
    countBad(reason);
    return;
  }
  if (!gateway::carriesEui(d.ident)) {  // PUSH_ACK, PULL_ACK, PULL_RESP: a server's, not a gateway's
    countBad("unexpected");
    return;
  }
  const std::string eui = gateway::euiText(d.eui);
  const Clock::time_point now = Clock::now();
  if (d.ident == Ident::pullData) {
    Gateway& g = gateways_[eui];
    if (!g.pulledAt) std::fprintf(stderr, "vantor: gateway %s at %s\n", eui.c_str(), addressText(from).c_str());
    g.record.eui = eui;
    g.record.address = addressText(from);
    g.record.lastSeenUs = options_.clockUs();
    g.wayDown = from;
    g.wayDownLen = fromLen;
    g.version = d.version;
    g.pulledAt = now;
    g.dirty = true;
    send(gateway::Datagram{d.version, d.token, Ident::pullAck, 0, ""}, from, fromLen);
    return;
  }
  if (d.ident == Ident::pushData) {
    send(gateway::Datagram{d.version, d.token, Ident::pushAck, 0, ""}, from, fromLen);
    const auto it = gateways_.find(eui);
    if (it == gateways_.end()) {
      countBad("unknown_gateway");  // no PULL_DATA yet: no way down, and nothing known of it
      return;
    }
    it->second.record.lastSeenUs = options_.clockUs();
    it->second.dirty = true;
    onPushData(d, it->second);
    return;
  }
  onTxAck(d);
}

void GatewayPort::onPushData(const gateway::Datagram& d, Gateway& g) {
  gateway::PushData p;
  std::string error;
  if (!gateway::parsePushData(d.json, p, error)) {
    count(g.record, "dropped", "json");
    g.record.lastError = error;
    return;
  }
  for (const std::string& why : p.rxpkErrors) {
    count(g.record, "heard", "");
    count(g.record, "dropped", "rxpk");
    g.record.lastError = why;
  }
  if (p.stat) {
    const gateway::Stat& s = *p.stat;
    if (s.lati && s.lon) {
      g.record.latitude = s.lati;
      g.record.longitude = s.lon;
      g.record.altitude = s.alti;
    }
    nlohmann::json stat = nlohmann::json::parse(d.json, nullptr, false);
    if (stat.is_object() && stat.contains("stat")) g.record.stat = stat["stat"];
  }
  for (const gateway::Rxpk& r : p.rxpk) onRxpk(r, g);
}

void GatewayPort::onRxpk(const gateway::Rxpk& r, Gateway& g) {
  count(g.record, "heard", "");
  const char* drop = r.stat == -1                                                    ? "crc_bad"
                     : r.stat != 1                                                   ? "crc_none"
                     : r.modu != "LORA"                                              ? "modulation"
                     : r.datr != "SF7BW125"                                          ? "data_rate"
                     : r.codr != "4/5"                                               ? "coding_rate"
                     : std::fabs(r.freqMHz - kChannelMHz) > kHalfBandwidthMHz + 1e-9 ? "channel"
                     : r.data.empty()                                                ? "empty"
                                                                                     : nullptr;
  if (drop != nullptr) {
    count(g.record, "dropped", drop);
    return;
  }
  count(g.record, "forwarded", "");
  HeardFrame h;
  h.bytes = r.data;
  h.rx.tUs = options_.clockUs() - airtimeUs(r.data.size());
  h.rx.rssiDbm = r.rssi;
  h.rx.snrDb = r.lsnr;
  h.rx.port = "gateway";
  h.rx.receiver = g.record.eui;
  h.rx.tmst = r.tmst;
  h.rx.time = r.time;
  h.soonestAnswerUs = options_.answerDelayUs;
  waiting_.push_back(std::move(h));
  waitingCopies_.push_back(Copy{g.record.eui, r.tmst, r.lsnr});
}

void GatewayPort::hearWaiting() {
  if (waiting_.empty()) return;
  std::vector<std::optional<Answer>> answers = core_.heardAll(waiting_);  // copies are stored too, as duplicates
  for (size_t i = 0; i < waiting_.size(); ++i) {
    gather(waiting_[i].bytes, i < answers.size() ? std::move(answers[i]) : std::nullopt, waitingCopies_[i]);
  }
  waiting_.clear();
  waitingCopies_.clear();
}

void GatewayPort::gather(const std::vector<uint8_t>& uplink, std::optional<Answer> answer, const Copy& copy) {
  const Clock::time_point now = Clock::now();
  // Another gateway's copy of a transmission whose answer is still gathering.
  Pending* gathering = nullptr;
  for (Pending& p : pending_) {
    if (p.uplink == uplink) gathering = &p;
  }
  if (gathering != nullptr) {
    gathering->copies.push_back(copy);
  } else if (answer) {
    pending_.push_back(Pending{uplink, std::move(*answer), {copy}, now + std::chrono::microseconds(kGatherUs)});
    gathering = &pending_.back();
  }
  if (gathering == nullptr) return;
  // Every gateway that could carry the answer has sent its copy: nothing more to wait for.
  size_t liveWays = 0;
  for (const auto& [eui, other] : gateways_) liveWays += live(other, now) ? 1 : 0;
  if (gathering->copies.size() >= liveWays) gathering->dueAt = now;
}

bool GatewayPort::live(const Gateway& g, Clock::time_point now) const {
  return g.pulledAt && usBetween(*g.pulledAt, now) < kWayDownLiveUs;
}

void GatewayPort::dispatch(Pending& p) {
  const Clock::time_point now = Clock::now();
  const Copy* best = nullptr;
  for (const Copy& c : p.copies) {
    const auto it = gateways_.find(c.eui);
    if (it == gateways_.end() || !live(it->second, now)) continue;
    if (best == nullptr || c.snr > best->snr) best = &c;
  }
  if (best == nullptr) {
    const std::string reason = "NO_WAY_DOWN";
    Gateway& g = gateways_[p.copies.front().eui];
    count(g.record, "refused", reason);
    g.record.lastError = reason;
    g.dirty = true;
    core_.refused(p.answer, reason + " via gateway " + g.record.eui);
    return;
  }
  Gateway& g = gateways_[best->eui];
  gateway::Txpk t;
  // The counter wraps every 2^32 µs (71.6 min): the sum is taken modulo 2^32.
  t.tmst = static_cast<uint32_t>(best->tmst + static_cast<uint32_t>(p.answer.delayUs));
  t.powe = options_.powerDbm;
  t.data = p.answer.frame;
  const uint16_t token = static_cast<uint16_t>(tokens_());
  send(gateway::Datagram{g.version, token, Ident::pullResp, 0, gateway::encodePullResp(t)}, g.wayDown, g.wayDownLen);
  g.dirty = true;
  if (g.version == gateway::kVersion1) {
    count(g.record, "sent", "");  // the oldest forwarders acknowledge nothing
    return;
  }
  unacked_.push_back(
      Unacked{g.record.eui, token, std::move(p.answer), now + std::chrono::microseconds(kTxAckTimeoutUs)});
}

void GatewayPort::onTxAck(const gateway::Datagram& d) {
  const std::string eui = gateway::euiText(d.eui);
  const auto git = gateways_.find(eui);
  const auto it = std::find_if(unacked_.begin(), unacked_.end(),
                               [&](const Unacked& u) { return u.eui == eui && u.token == d.token; });
  if (git == gateways_.end() || it == unacked_.end()) {
    if (git == gateways_.end()) {
      countBad("unknown_gateway");
    } else {
      count(git->second.record, "dropped", "stray_tx_ack");
      git->second.dirty = true;
    }
    return;
  }
  Gateway& g = git->second;
  g.record.lastSeenUs = options_.clockUs();
  g.dirty = true;
  std::string result;
  std::string error;
  if (!gateway::parseTxAck(d.json, result, error)) {
    count(g.record, "dropped", "tx_ack");
    g.record.lastError = error;
    return;  // its deadline will count the send as refused
  }
  Unacked u = std::move(*it);
  unacked_.erase(it);
  if (result == "NONE") {
    count(g.record, "sent", "");
    return;
  }
  count(g.record, "refused", result);
  g.record.lastError = result;
  tell(eui, result, "refused " + u.answer.what + ": " + result);
  core_.refused(u.answer, result + " via gateway " + eui);
}

void GatewayPort::expireAcks() {
  const Clock::time_point now = Clock::now();
  for (size_t i = 0; i < unacked_.size();) {
    if (unacked_[i].deadline > now) {
      ++i;
      continue;
    }
    Unacked u = std::move(unacked_[i]);
    unacked_.erase(unacked_.begin() + static_cast<long>(i));
    const std::string reason = "NO_TX_ACK";
    Gateway& g = gateways_[u.eui];
    count(g.record, "refused", reason);
    g.record.lastError = reason;
    g.dirty = true;
    std::fprintf(stderr, "vantor: gateway %s did not acknowledge %s within 1 s\n", u.eui.c_str(),
                 u.answer.what.c_str());
    core_.refused(u.answer, reason + " via gateway " + u.eui);
  }
}

void GatewayPort::tell(const std::string& eui, const std::string& reason, const std::string& what) {
  if (!told_.insert(eui + " " + reason).second) return;
  std::fprintf(stderr, "vantor: gateway %s %s (the next ones are counted: vantor gateways)\n", eui.c_str(),
               what.c_str());
}

void GatewayPort::send(const gateway::Datagram& d, const sockaddr_storage& to, socklen_t toLen) {
  const gateway::Bytes bytes = gateway::encodeDatagram(d);
  (void)::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), toLen);
}

void GatewayPort::saveDirty() {
  if (!save_) return;
  std::vector<GatewayRecord> out;
  if (unattributed_.dirty) out.push_back(unattributed_.record);
  unattributed_.dirty = false;
  for (auto& [eui, g] : gateways_) {
    if (g.dirty) out.push_back(g.record);
    g.dirty = false;
  }
  for (const GatewayRecord& r : out) save_(r);
}

}  // namespace vantor
