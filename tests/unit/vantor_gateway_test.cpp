// The gateway port at the protocol level, over real UDP on loopback: gateways with an up and a down
// socket of their own as forwarders have, a core that answers the first copy of a frame. Bad input
// is counted and never reaches the core; rxpk off our channel or modulation are dropped by reason;
// the answer's PULL_RESP goes down the way of the latest PULL_DATA of the gateway that heard it with
// the best SNR, its txpk as the node's radio needs it and its tmst modulo 2^32; TX_ACK errors (and a
// missing TX_ACK) hand the answer back to the core as refused.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "gateway_port.h"

using gateway::Bytes;
using gateway::Datagram;
using gateway::Ident;
using nlohmann::json;

namespace {

// Answers the first copy of a frame that starts with 0x05 with 0xAA and the frame; refusals are kept.
class FakeCore : public vantor::RadioCore {
 public:
  std::optional<vantor::Answer> heard(const vantor::HeardFrame& f) override {
    std::lock_guard<std::mutex> lock(mutex);
    frames.push_back(f);
    if (f.bytes.empty() || f.bytes[0] != 0x05 || !answered.insert(f.bytes).second) return std::nullopt;
    vantor::Answer a;
    a.frame = Bytes{0xAA};
    a.frame.insert(a.frame.end(), f.bytes.begin(), f.bytes.end());
    a.delayUs = f.soonestAnswerUs;
    a.itemId = 7;
    a.what = "setting #7";
    return a;
  }
  void refused(const vantor::Answer& a, const std::string& reason) override {
    std::lock_guard<std::mutex> lock(mutex);
    refusals.push_back(a.what + ": " + reason);
  }
  std::mutex mutex;
  std::vector<vantor::HeardFrame> frames;
  std::set<Bytes> answered;
  std::vector<std::string> refusals;
};

int udpSocket() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

// A forwarder as the server sees it: an EUI, one socket up (PUSH_DATA) and one down (PULL_DATA).
class Forwarder {
 public:
  Forwarder(uint64_t eui, uint16_t serverPort) : eui_(eui), up_(udpSocket()), down_(udpSocket()) {
    server_.sin_family = AF_INET;
    server_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server_.sin_port = htons(serverPort);
  }
  ~Forwarder() {
    ::close(up_);
    ::close(down_);
  }
  void sendRaw(const Bytes& b, bool down = false) const {
    ::sendto(down ? down_ : up_, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
  }
  void send(Ident id, const std::string& body, uint16_t token = 0x0102, bool down = false) const {
    sendRaw(gateway::encodeDatagram(Datagram{2, token, id, eui_, body}), down);
  }
  // The next datagram on a socket (none within 5 s: the test fails, it does not hang).
  std::optional<Datagram> receive(bool down, int timeoutMs = 5000) const {
    pollfd p{down ? down_ : up_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return std::nullopt;
    uint8_t buf[2048];
    const ssize_t n = ::recv(p.fd, buf, sizeof buf, 0);
    Datagram d;
    std::string error;
    if (n < 0 || !gateway::parseDatagram(buf, static_cast<size_t>(n), d, error)) return std::nullopt;
    return d;
  }
  // PULL_DATA on the down socket, answered by PULL_ACK with its token.
  void pull() const {
    send(Ident::pullData, "", 0x7777, true);
    const std::optional<Datagram> ack = receive(true);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->ident, Ident::pullAck);
    EXPECT_EQ(ack->token, 0x7777);
  }
  // PUSH_DATA, then an empty one: the server acknowledges each at once as it reads them in turn, so
  // once the second's PUSH_ACK is in, the first has been read and counted (the acknowledgements of
  // the first and of datagrams sent raw before are passed over); its frames reach the core with the
  // batch it was read in (framesHeard waits for them).
  void push(const std::string& body) const {
    send(Ident::pushData, body, 0x1111);
    send(Ident::pushData, "{}", 0x3456);
    std::optional<Datagram> ack;
    do {
      ack = receive(false);
      ASSERT_TRUE(ack);
      EXPECT_EQ(ack->ident, Ident::pushAck);
    } while (ack->token != 0x3456);
  }
  uint64_t eui() const { return eui_; }

 private:
  uint64_t eui_;
  int up_;
  int down_;
  sockaddr_in server_{};
};

std::string rxpk(const Bytes& data, uint32_t tmst = 1000, double lsnr = 7.5, const std::string& extra = "") {
  json r = {{"tmst", tmst},
            {"time", "2026-12-11T09:00:00.000000Z"},
            {"freq", 868.0},
            {"chan", 0},
            {"rfch", 0},
            {"stat", 1},
            {"modu", "LORA"},
            {"datr", "SF7BW125"},
            {"codr", "4/5"},
            {"rssi", -87},
            {"lsnr", lsnr},
            {"size", data.size()},
            {"data", gateway::base64Encode(data)}};
  if (!extra.empty()) r.merge_patch(json::parse(extra));
  return json{{"rxpk", json::array({r})}}.dump();
}

// One counter of a group ("dropped", "refused") by its reason, 0 when there is none.
int countOf(const json& counters, const char* group, const std::string& reason) {
  const auto it = counters.find(group);
  return it == counters.end() ? 0 : it->value(reason, 0);
}

class GatewayPort : public ::testing::Test {
 protected:
  void SetUp() override {
    vantor::GatewayOptions o;
    o.host = "127.0.0.1";
    o.port = 0;
    o.clockUs = [] { return uint64_t{5'000'000'000}; };
    port_ = std::make_unique<vantor::GatewayPort>(core_, o, nullptr);
    std::string error;
    ASSERT_TRUE(port_->start(error)) << error;
    const std::string bound = port_->boundAddress();
    serverPort_ = static_cast<uint16_t>(std::stoi(bound.substr(bound.rfind(':') + 1)));
  }
  // Counters of a gateway ("" for datagrams that name none).
  json counters(const std::string& eui) const {
    for (const vantor::GatewayRecord& g : port_->snapshot()) {
      if (g.eui == eui) return g.counters;
    }
    return json::object();
  }
  // Frames the core was handed. The port hands a batch of datagrams' frames over after it has read
  // (and acknowledged) them all, so a count that should grow is waited for, at most 5 s.
  size_t framesHeard(size_t expected = 0) {
    for (int i = 0; i < 100; ++i) {
      {
        std::lock_guard<std::mutex> lock(core_.mutex);
        if (core_.frames.size() >= expected) return core_.frames.size();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::lock_guard<std::mutex> lock(core_.mutex);
    return core_.frames.size();
  }

  FakeCore core_;
  std::unique_ptr<vantor::GatewayPort> port_;
  uint16_t serverPort_ = 0;
};

TEST_F(GatewayPort, MalformedDatagramsAreCountedAndNeverReachTheCore) {
  Forwarder known(0xAA555A0000000001ull, serverPort_);
  Forwarder stranger(0xAA555A00000000FFull, serverPort_);
  known.pull();
  const Bytes header{2, 1, 2, 0, 0xAA, 0x55, 0x5A, 0, 0, 0, 0, 1};
  const auto pushOf = [&](const std::string& body) {
    Bytes b = header;
    b.insert(b.end(), body.begin(), body.end());
    return b;
  };
  const struct {
    Bytes datagram;
    const char* who;  // the gateway it is counted on ("" none)
    const char* reason;
  } cases[] = {
      {{}, "", "short"},
      {{2, 1, 2}, "", "short"},
      {{9, 1, 2, 0}, "", "version"},
      {{2, 1, 2, 0x07}, "", "identifier"},
      {{2, 1, 2, 0, 0xAA, 0x55}, "", "malformed"},
      {{2, 1, 2, 0x01}, "", "unexpected"},  // a PUSH_ACK sent to the server
      {{2, 1, 2, 0x03, '{', '}'}, "", "unexpected"},
      {pushOf("{\"rxpk\":[{\"tmst\":"), "AA555A0000000001", "json"},
      {pushOf("[]"), "AA555A0000000001", "json"},
      {pushOf(std::string(5000, '[')), "AA555A0000000001", "json"},
      {pushOf(rxpk(Bytes{5, 1}, 1, 1, R"({"data":"BQ!="})")), "AA555A0000000001", "rxpk"},
      {pushOf(rxpk(Bytes{5, 1}, 1, 1, R"({"size":3})")), "AA555A0000000001", "rxpk"},
      {pushOf(rxpk(Bytes{5, 1}, 1, 1, R"({"tmst":null})")), "AA555A0000000001", "rxpk"},
      {[&] {
         Bytes b = gateway::encodeDatagram(Datagram{2, 1, Ident::pushData, stranger.eui(), rxpk(Bytes{5, 1})});
         return b;
       }(),
       "", "unknown_gateway"},  // no PULL_DATA from it yet
      {gateway::encodeDatagram(Datagram{2, 0x4242, Ident::txAck, known.eui(), ""}), "AA555A0000000001", "stray_tx_ack"},
  };
  std::map<std::pair<std::string, std::string>, int> expected;
  for (const auto& c : cases) {
    known.sendRaw(c.datagram);
    ++expected[{c.who, c.reason}];
  }
  known.push("{}");  // everything before it has been handled
  for (const auto& [key, n] : expected) {
    EXPECT_EQ(countOf(counters(key.first), "dropped", key.second), n) << key.first << " " << key.second;
  }
  EXPECT_EQ(framesHeard(), 0u);
  // Still serving.
  known.push(rxpk(Bytes{1, 2, 3}));
  EXPECT_EQ(framesHeard(1), 1u);
}

TEST_F(GatewayPort, FramesOffOurChannelOrModulationAreDroppedByReason) {
  Forwarder gw(0x0102030405060708ull, serverPort_);
  gw.pull();
  const std::pair<const char*, const char*> cases[] = {
      {R"({"stat":-1})", "crc_bad"},
      {R"({"stat":0})", "crc_none"},
      {R"({"modu":"FSK","datr":50000})", "modulation"},
      {R"({"datr":"SF8BW125"})", "data_rate"},
      {R"({"datr":"SF7BW250"})", "data_rate"},
      {R"({"codr":"4/6"})", "coding_rate"},
      {R"({"freq":868.1})", "channel"},
      {R"({"freq":867.9})", "channel"},
  };
  for (const auto& [patch, reason] : cases) gw.push(rxpk(Bytes{1, 2}, 1, 1, patch));
  gw.push(rxpk(Bytes{1, 2, 3}, 4242, -3.25, R"({"freq":868.0375,"rssi":-120})"));  // inside the channel
  const json c = counters("0102030405060708");
  for (const auto& [patch, reason] : cases) EXPECT_GE(countOf(c, "dropped", reason), 1) << reason;
  EXPECT_EQ(c.value("heard", 0), 9);
  EXPECT_EQ(c.value("forwarded", 0), 1);
  ASSERT_EQ(framesHeard(1), 1u);
  const vantor::HeardFrame& f = core_.frames[0];
  EXPECT_EQ(f.bytes, (Bytes{1, 2, 3}));
  EXPECT_EQ(f.rx.port, "gateway");
  EXPECT_EQ(f.rx.receiver, "0102030405060708");
  EXPECT_EQ(f.rx.tmst, 4242u);
  EXPECT_EQ(f.rx.time, "2026-12-11T09:00:00.000000Z");
  EXPECT_EQ(f.rx.rssiDbm, -120.0);
  EXPECT_EQ(f.rx.snrDb, -3.25);
  // Its start: the clock less the frame's time on air (3 bytes at SF7/125 kHz, CR 4/5, CRC on:
  // 8 + ceil((24 - 28 + 28 + 16) / 28) * 5 = 18 payload symbols after 12.25 of preamble, each
  // 1.024 ms: 30.976 ms).
  EXPECT_EQ(f.rx.tUs, 5'000'000'000u - 30'976u);
  EXPECT_EQ(f.soonestAnswerUs, 300'000u);
}

TEST_F(GatewayPort, TheAnswerGoesDownTheWayOfTheLatestPullDataWithItsTmstModulo2To32) {
  Forwarder gw(0x0102030405060708ull, serverPort_);
  gw.pull();
  const struct {
    uint32_t tmst;
    uint32_t want;
  } cases[] = {{1'000'000, 1'300'000}, {0xFFFFFFFFu - 100'000, 199'999}, {0xFFFFFFFFu, 299'999}};
  uint8_t n = 0;
  for (const auto& c : cases) {
    const Bytes frame{5, ++n, 9};
    gw.push(rxpk(frame, c.tmst));
    const std::optional<Datagram> resp = gw.receive(true);
    ASSERT_TRUE(resp);
    EXPECT_EQ(resp->ident, Ident::pullResp);
    Bytes want{0xAA};
    want.insert(want.end(), frame.begin(), frame.end());
    const json txpk = json::parse(resp->json)["txpk"];
    const json expected = {{"tmst", c.want}, {"freq", 868.0},       {"rfch", 0},
                           {"powe", 14},     {"modu", "LORA"},      {"datr", "SF7BW125"},
                           {"codr", "4/5"},  {"ipol", false},       {"prea", 8},
                           {"ncrc", false},  {"size", want.size()}, {"data", gateway::base64Encode(want)}};
    EXPECT_EQ(txpk, expected);
    gw.send(Ident::txAck, "", resp->token, true);
  }
  gw.push("{}");
  EXPECT_EQ(counters("0102030405060708").value("sent", 0), 3);
}

TEST_F(GatewayPort, SeveralGatewaysHeardItTheBestSnrWithAWayDownAnswers) {
  Forwarder a(0xA0, serverPort_);
  Forwarder b(0xB0, serverPort_);
  Forwarder c(0xC0, serverPort_);
  a.pull();
  b.pull();
  c.pull();
  const Bytes frame{5, 7, 7};
  a.push(rxpk(frame, 100, 2.5));
  b.push(rxpk(frame, 200, 9.0));
  c.push(rxpk(frame, 300, -4.0));
  const std::optional<Datagram> resp = b.receive(true);
  ASSERT_TRUE(resp);
  EXPECT_EQ(json::parse(resp->json)["txpk"]["tmst"], 300'200);
  EXPECT_FALSE(a.receive(true, 200));
  EXPECT_FALSE(c.receive(true, 200));
  EXPECT_EQ(framesHeard(3), 3u);  // every copy goes to the core (which stores the others as duplicates)
}

TEST_F(GatewayPort, TxAckErrorsAndSilenceHandTheAnswerBackAsRefused) {
  Forwarder gw(0x0102030405060708ull, serverPort_);
  gw.pull();
  const struct {
    std::optional<std::string> ack;  // none: no TX_ACK at all
    const char* refusal;             // "" for sent
  } cases[] = {
      {"", ""},
      {R"({"txpk_ack":{"error":"NONE"}})", ""},
      {R"({"txpk_ack":{"error":"TOO_LATE"}})", "TOO_LATE"},
      {R"({"txpk_ack":{"error":"TOO_EARLY"}})", "TOO_EARLY"},
      {R"({"txpk_ack":{"error":"COLLISION_PACKET"}})", "COLLISION_PACKET"},
      {R"({"txpk_ack":{"error":"TX_FREQ"}})", "TX_FREQ"},
      {std::nullopt, "NO_TX_ACK"},
  };
  std::vector<std::string> wantRefusals;
  uint8_t n = 0;
  for (const auto& c : cases) {
    gw.push(rxpk(Bytes{5, ++n}, 1000));
    const std::optional<Datagram> resp = gw.receive(true);
    ASSERT_TRUE(resp);
    if (c.ack) gw.send(Ident::txAck, *c.ack, resp->token, true);
    if (*c.refusal != '\0')
      wantRefusals.push_back(std::string("setting #7: ") + c.refusal + " via gateway 0102030405060708");
  }
  // The missing TX_ACK counts once its second is over.
  for (int i = 0; i < 100 && countOf(counters("0102030405060708"), "refused", "NO_TX_ACK") == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const json c = counters("0102030405060708");
  EXPECT_EQ(c.value("sent", 0), 2);
  for (const char* r : {"TOO_LATE", "TOO_EARLY", "COLLISION_PACKET", "TX_FREQ", "NO_TX_ACK"}) {
    EXPECT_EQ(countOf(c, "refused", r), 1) << r;
  }
  std::lock_guard<std::mutex> lock(core_.mutex);
  EXPECT_EQ(core_.refusals, wantRefusals);
}

TEST(GatewayAddress, ParsedWithItsDefaultPortAndRefusedWithTheReason) {
  vantor::GatewayOptions o;
  std::string error;
  ASSERT_TRUE(vantor::parseGatewayAddress("udp://0.0.0.0", o, error));
  EXPECT_EQ(o.host, "0.0.0.0");
  EXPECT_EQ(o.port, 1700);
  ASSERT_TRUE(vantor::parseGatewayAddress("udp://127.0.0.1:1680", o, error));
  EXPECT_EQ(o.port, 1680);
  ASSERT_TRUE(vantor::parseGatewayAddress("udp://[::1]:1700", o, error));
  EXPECT_EQ(o.host, "::1");
  EXPECT_FALSE(vantor::parseGatewayAddress("tcp://1.2.3.4", o, error));
  EXPECT_EQ(error, "--gateway tcp://1.2.3.4: expected udp://ADDR[:PORT]");
  EXPECT_FALSE(vantor::parseGatewayAddress("udp://1.2.3.4:70000", o, error));
  EXPECT_EQ(error, "--gateway udp://1.2.3.4:70000: expected udp://ADDR[:PORT] with a port from 0 to 65535");
}

}  // namespace
