// The packet forwarder: sockets, the datagrams of each direction, the hold, the status.
#include "forwarder.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "gateway_protocol.h"

namespace sim {

namespace {

// "udp://HOST:PORT" to a connected datagram socket; -1 with a message.
int connectUdp(const std::string& address, std::string& error) {
  const std::string scheme = "udp://";
  const size_t colon = address.rfind(':');
  if (address.compare(0, scheme.size(), scheme) != 0 || colon == std::string::npos || colon <= scheme.size()) {
    error = "--server takes udp://HOST:PORT, not " + address;
    return -1;
  }
  std::string host = address.substr(scheme.size(), colon - scheme.size());
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string port = address.substr(colon + 1);
  char* end = nullptr;
  const unsigned long p = std::strtoul(port.c_str(), &end, 10);
  if (port.empty() || *end != '\0' || p == 0 || p > 65535) {
    error = "--server: " + port + " is no UDP port";
    return -1;
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "--server: " + host + ": " + ::gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) error = "--server: cannot reach " + address;
  return fd;
}

// "SFnBWm", "4/n", IQ, preamble and CRC of a txpk to the radio's settings; false for a data rate
// the concentrator cannot send.
bool loraSettings(const gateway::Txpk& tx, LoraAirSettings& air) {
  unsigned sf = 0, bw = 0;
  char tail = 0;
  if (std::sscanf(tx.datr.c_str(), "SF%uBW%u%c", &sf, &bw, &tail) != 2 || sf < 5 || sf > 12) return false;
  if (bw == 125) {
    air.bwCode = 4;
  } else if (bw == 250) {
    air.bwCode = 5;
  } else if (bw == 500) {
    air.bwCode = 6;
  } else {
    return false;
  }
  unsigned cr = 0;
  if (std::sscanf(tx.codr.c_str(), "4/%u%c", &cr, &tail) != 1 || cr < 5 || cr > 8) return false;
  air.sf = static_cast<uint8_t>(sf);
  air.cr = static_cast<uint8_t>(cr - 4);
  air.freqHz = static_cast<uint32_t>(std::llround(tx.freqMHz * 1e6));
  air.iqInverted = tx.ipol;
  air.preamble = static_cast<uint16_t>(tx.prea);
  air.crcOn = !tx.ncrc;
  air.syncWord = Concentrator::kSyncWord;
  // The low data rate optimisation, as the chips want it: symbols of 16 ms and longer.
  air.ldro = air.symbolUs() >= 16000.0;
  return true;
}

}  // namespace

bool Forwarder::checkServer(const std::string& address, std::string& error) {
  const int fd = connectUdp(address, error);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

std::unique_ptr<Forwarder> Forwarder::open(const ForwarderOptions& options, Concentrator& concentrator,
                                           EventLog& events, uint64_t startUs, std::string& error) {
  // Two sockets, as a forwarder has: PUSH_DATA goes up through one, PULL_DATA keeps the way down
  // open through the other, on which the server's PULL_RESP then arrives.
  const int up = connectUdp(options.server, error);
  if (up < 0) return nullptr;
  const int down = connectUdp(options.server, error);
  if (down < 0) {
    ::close(up);
    return nullptr;
  }
  std::unique_ptr<Forwarder> f(new Forwarder(options, concentrator, events, up, down, startUs));
  f->pullData();  // at once: the server learns the way down before the first frame
  return f;
}

Forwarder::Forwarder(const ForwarderOptions& options, Concentrator& concentrator, EventLog& events, int upFd,
                     int downFd, uint64_t startUs)
    : options_(options),
      concentrator_(concentrator),
      events_(events),
      upFd_(upFd),
      downFd_(downFd),
      rng_(options.seed ^ 0x55445046ull),
      nextPullUs_(startUs + kPullIntervalUs),
      nextStatUs_(startUs + kStatIntervalUs) {}

Forwarder::~Forwarder() {
  ::close(upFd_);
  ::close(downFd_);
}

uint64_t Forwarder::nextEventUs() const { return std::min(nextPullUs_, nextStatUs_); }

void Forwarder::fire(uint64_t nowUs) {
  receive(nowUs, 0, false);
  if (nowUs >= nextStatUs_) {
    status(nowUs);
    nextStatUs_ = nowUs + kStatIntervalUs;
  }
  if (nowUs >= nextPullUs_) {
    pullData();
    nextPullUs_ = nowUs + kPullIntervalUs;
  }
}

std::string Forwarder::utc(uint64_t us, bool compact) const {
  const std::time_t s = static_cast<std::time_t>(options_.epochS + static_cast<int64_t>(us / 1000000));
  std::tm t{};
  ::gmtime_r(&s, &t);
  char buf[64];
  if (compact) {
    // rxpk: ISO 8601 with microseconds.
    const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &t);
    std::snprintf(buf + n, sizeof buf - n, ".%06" PRIu64 "Z", us % 1000000);
  } else {
    // stat: the forwarders' "expanded" form.
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S GMT", &t);
  }
  return buf;
}

void Forwarder::uplink(const GatewayUplink& u) {
  receive(u.endUs, 0, false);
  gateway::Rxpk rx;
  rx.time = utc(u.endUs, true);
  rx.tmst = u.tmst;
  rx.freqMHz = static_cast<double>(u.freqHz) / 1e6;
  rx.chan = u.chan;
  rx.rfch = u.rfch;
  rx.stat = u.crcOk ? 1 : -1;
  rx.modu = "LORA";
  rx.datr = "SF" + std::to_string(u.sf) + "BW" + std::to_string(u.bwHz / 1000);
  rx.codr = "4/" + std::to_string(4 + u.cr);
  rx.rssi = u.rssiDbm;
  rx.lsnr = u.snrDb;
  rx.data = u.bytes;
  gateway::PushData push;
  push.rxpk.push_back(std::move(rx));
  ++forwarded_;
  events_.write(events_.line(u.endUs, "uplink")
                    .word("tmst", u.tmst)
                    .number("chan", u.chan)
                    .number("stat", u.crcOk ? 1 : -1)
                    .number("sf", u.sf)
                    .number("rssi", u.rssiDbm)
                    .real("lsnr", u.snrDb)
                    .hex("hex", u.bytes.data(), u.bytes.size()));
  pushData(gateway::encodePushData(push));
  // The hold: the clock stays at the frame's end until the server answered or the wait is over.
  receive(u.endUs, options_.answerWaitMs, true);
}

void Forwarder::send(int fd, gateway::Ident ident, const std::string& json, uint16_t t) {
  gateway::Datagram d;
  d.token = t;
  d.ident = ident;
  d.eui = options_.eui;
  d.json = json;
  const gateway::Bytes bytes = gateway::encodeDatagram(d);
  // Nobody listening yet shows as an error on the socket's next call: the datagram is lost, as
  // over a network, and the next keep-alive tries again.
  (void)::send(fd, bytes.data(), bytes.size(), 0);
}

void Forwarder::pushData(const std::string& json) {
  const uint16_t t = token();
  ++pushed_;
  pushTokens_.push_back(t);
  if (pushTokens_.size() > 64) pushTokens_.erase(pushTokens_.begin());
  send(upFd_, gateway::Ident::pushData, json, t);
}

void Forwarder::pullData() { send(downFd_, gateway::Ident::pullData, "", token()); }

void Forwarder::status(uint64_t nowUs) {
  // Counts over the interval since the last status, as forwarders give them.
  const uint64_t rxnb = concentrator_.received() - lastReceived_;
  const uint64_t rxok = concentrator_.receivedOk() - lastReceivedOk_;
  const uint64_t txnb = concentrator_.transmitted() - lastTransmitted_;
  lastReceived_ = concentrator_.received();
  lastReceivedOk_ = concentrator_.receivedOk();
  lastTransmitted_ = concentrator_.transmitted();
  gateway::Stat st;
  st.time = utc(nowUs, false);
  st.rxnb = static_cast<int64_t>(rxnb);
  st.rxok = static_cast<int64_t>(rxok);
  st.rxfw = static_cast<int64_t>(forwarded_);
  st.ackr =
      pushed_ == 0 ? 100.0 : std::round(1000.0 * static_cast<double>(pushAcked_) / static_cast<double>(pushed_)) / 10.0;
  st.dwnb = static_cast<int64_t>(downlinks_);
  st.txnb = static_cast<int64_t>(txnb);
  events_.write(events_.line(nowUs, "stat")
                    .number("rxnb", static_cast<int64_t>(rxnb))
                    .number("rxok", static_cast<int64_t>(rxok))
                    .number("rxfw", static_cast<int64_t>(forwarded_))
                    .number("dwnb", static_cast<int64_t>(downlinks_))
                    .number("txnb", static_cast<int64_t>(txnb)));
  forwarded_ = pushed_ = pushAcked_ = downlinks_ = 0;
  gateway::PushData push;
  push.stat = st;
  pushData(gateway::encodePushData(push));
}

bool Forwarder::receive(uint64_t nowUs, uint64_t waitMs, bool answering) {
  const uint64_t deadline = Scheduler::wallUs() + waitMs * 1000;
  for (;;) {
    pollfd fds[2] = {{upFd_, POLLIN, 0}, {downFd_, POLLIN, 0}};
    const uint64_t wall = Scheduler::wallUs();
    const int timeout = wall >= deadline ? 0 : static_cast<int>((deadline - wall + 999) / 1000);
    const int n = ::poll(fds, 2, timeout);
    if (n <= 0) return false;
    for (const pollfd& p : fds) {
      if ((p.revents & (POLLIN | POLLERR)) == 0) continue;
      // A refused datagram (no server yet) shows as an error on the socket: read it and go on.
      const ssize_t got = ::recv(p.fd, buffer_.data(), buffer_.size(), 0);
      gateway::Datagram d;
      std::string error;
      if (got <= 0 || !gateway::parseDatagram(buffer_.data(), static_cast<size_t>(got), d, error)) continue;
      if (d.ident == gateway::Ident::pushAck) {
        auto it = std::find(pushTokens_.begin(), pushTokens_.end(), d.token);
        if (it != pushTokens_.end()) {
          pushTokens_.erase(it);
          ++pushAcked_;
        }
      } else if (d.ident == gateway::Ident::pullResp && p.fd == downFd_) {
        // An answer ends the hold; PULL_ACK and anything a gateway does not take are dropped.
        if (pullResp(d, nowUs, answering) && answering) return true;
      }
    }
  }
}

bool Forwarder::pullResp(const gateway::Datagram& d, uint64_t nowUs, bool answering) {
  ++downlinks_;
  gateway::Txpk tx;
  std::string error;
  GatewayDownlink dl;
  if (!gateway::parsePullResp(d.json, tx, error) || tx.modu != "LORA" || !loraSettings(tx, dl.air)) {
    // Not something its radio can send: a forwarder logs it and acknowledges nothing.
    events_.write(events_.line(nowUs, "bad_downlink").text("why", error.empty() ? "not a LoRa txpk" : error));
    return false;
  }
  dl.when = tx.imme   ? GatewayDownlink::When::immediately
            : tx.tmst ? GatewayDownlink::When::counter
                      : GatewayDownlink::When::gpsTime;
  dl.tmst = tx.tmst.value_or(0);
  dl.powerDbm = tx.powe;
  dl.bytes = tx.data;
  uint64_t atUs = 0;
  // Outside the hold the clock has gone on past the frame it answers: too late to place it.
  const TxOutcome outcome = answering ? concentrator_.schedule(dl, nowUs, atUs) : TxOutcome::tooLate;
  EventLog::Line line = events_.line(nowUs, "downlink");
  if (tx.tmst) line.word("tmst", *tx.tmst);
  line.text("error", txOutcomeName(outcome)).flag("in_hold", answering);
  if (outcome == TxOutcome::none) line.number("at_us", static_cast<int64_t>(atUs));
  line.hex("hex", dl.bytes.data(), dl.bytes.size());
  events_.write(line);
  send(downFd_, gateway::Ident::txAck, gateway::encodeTxAck(txOutcomeName(outcome)), d.token);
  return true;
}

}  // namespace sim
