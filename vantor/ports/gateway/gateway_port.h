// The Vantor behind LoRa gateways: a UDP server of the packet forwarder's protocol. Each rxpk on
// our channel and modulation goes to the core; an answer goes back as a PULL_RESP timed on the
// concentrator's counter (the uplink's tmst plus the answer's delay), through the gateway that
// heard the transmission with the best SNR and has a live way down. Everything else a gateway
// sends is counted per gateway and dropped; bad datagrams never reach the core.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway_protocol.h"
#include "radio_port.h"
#include "store.h"

namespace vantor {

struct GatewayOptions {
  std::string host = "0.0.0.0";
  uint16_t port = 1700;
  int powerDbm = 14;
  // Answers go this long after the uplink's end: the forwarder needs the PULL_RESP its
  // programming lead (30-120 ms) before that, and the node's window (500 ms) must still be open.
  uint64_t answerDelayUs = 300'000;
  // The Vantor's clock for the records (UTC µs by default).
  std::function<uint64_t()> clockUs;
};

// "udp://ADDR[:PORT]" (port 1700 when left out) into the options, or why not.
bool parseGatewayAddress(const std::string& text, GatewayOptions& out, std::string& error);

class GatewayPort {
 public:
  // Our channel: 868.0 MHz, LoRa SF7 at 125 kHz, coding rate 4/5.
  static constexpr double kChannelMHz = 868.0;
  static constexpr double kHalfBandwidthMHz = 0.0625;
  // Copies of one transmission from other gateways are awaited this long before the answer goes,
  // unless every gateway with a live way down has sent its copy already.
  static constexpr uint64_t kGatherUs = 30'000;
  // A way down is live while the gateway's PULL_DATA (every 10 s by default) keeps coming.
  static constexpr uint64_t kWayDownLiveUs = 60'000'000;
  // A PULL_RESP not acknowledged within this is a refused send.
  static constexpr uint64_t kTxAckTimeoutUs = 1'000'000;
  // Datagrams read before the frames they carried go to the core together (one transaction there):
  // at a steady 1 000 a second, one transaction each would not keep up.
  static constexpr size_t kBatchDatagrams = 64;
  // How often the gateways' table is written.
  static constexpr uint64_t kSaveEveryUs = 1'000'000;

  // `save` writes a gateway's record to the store (the caller serialises it with the frames).
  GatewayPort(RadioCore& core, GatewayOptions options, std::function<void(const GatewayRecord&)> save);
  ~GatewayPort();

  // Binds the socket and starts serving on a thread of its own; false with the reason.
  bool start(std::string& error);
  // Stops serving and writes the table a last time.
  void stop();
  // The address it serves, as bound (the port chosen when 0 was asked for).
  std::string boundAddress() const;

  // The table as it stands ("" holds bad datagrams that name no gateway).
  std::vector<GatewayRecord> snapshot() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Copy {
    std::string eui;
    uint32_t tmst = 0;
    double snr = 0;
  };
  struct Pending {  // an answer gathering the copies of its transmission
    std::vector<uint8_t> uplink;
    Answer answer;
    std::vector<Copy> copies;
    Clock::time_point dueAt;
  };
  struct Unacked {  // a PULL_RESP waiting for its TX_ACK
    std::string eui;
    uint16_t token = 0;
    Answer answer;
    Clock::time_point deadline;
  };
  struct Gateway {
    GatewayRecord record;
    sockaddr_storage wayDown{};
    socklen_t wayDownLen = 0;
    uint8_t version = gateway::kVersion2;
    std::optional<Clock::time_point> pulledAt;
    bool dirty = true;
  };

  void serve();
  // Answers whose gathering is over, TX_ACKs overdue, the table's periodic write.
  void dueWork();
  void onDatagram(const uint8_t* data, size_t len, const sockaddr_storage& from, socklen_t fromLen);
  void onPushData(const gateway::Datagram& d, Gateway& g);
  void onRxpk(const gateway::Rxpk& r, Gateway& g);
  // The frames read since the last call go to the core, then their answers gather copies.
  void hearWaiting();
  void gather(const std::vector<uint8_t>& uplink, std::optional<Answer> answer, const Copy& copy);
  void onTxAck(const gateway::Datagram& d);
  void dispatch(Pending& p);
  void expireAcks();
  void send(const gateway::Datagram& d, const sockaddr_storage& to, socklen_t toLen);
  bool live(const Gateway& g, Clock::time_point now) const;
  void count(GatewayRecord& r, const char* group, const std::string& reason);
  void countBad(const std::string& reason);
  void saveDirty();
  // A refusal on standard error, the first of its kind for each gateway.
  void tell(const std::string& eui, const std::string& reason, const std::string& what);

  RadioCore& core_;
  GatewayOptions options_;
  std::function<void(const GatewayRecord&)> save_;
  int fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;  // the table, for snapshot()
  std::map<std::string, Gateway> gateways_;
  Gateway unattributed_;
  std::vector<Pending> pending_;
  std::vector<HeardFrame> waiting_;  // read, not yet handed to the core
  std::vector<Copy> waitingCopies_;  // of each waiting frame
  std::vector<Unacked> unacked_;
  std::mt19937 tokens_;
  Clock::time_point savedAt_;
  std::set<std::string> told_;
};

}  // namespace vantor
