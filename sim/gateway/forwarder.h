// The simulated gateway's packet forwarder: the UDP protocol to the server (PUSH_DATA for every
// frame heard and the status, PULL_DATA as keep-alive and way down, PULL_RESP executed by the
// concentrator and answered with TX_ACK), on virtual time. After each frame it forwards it holds
// the clock until the server's answer has come or a bounded wait has passed (sim/AIR.md).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "concentrator.h"
#include "event_log.h"
#include "gateway_protocol.h"
#include "scheduler.h"

namespace sim {

struct ForwarderOptions {
  std::string server;  // udp://HOST:PORT
  uint64_t eui = 0;
  uint64_t seed = 1;
  // The longest the clock is held for the server's answer to one frame, wall milliseconds.
  uint64_t answerWaitMs = 500;
  // Unix time of virtual time 0, for the `time` fields.
  int64_t epochS = 1767225600;  // 2026-01-01T00:00:00Z
};

class Forwarder final : public Device {
 public:
  static constexpr uint64_t kPullIntervalUs = 10'000'000;
  static constexpr uint64_t kStatIntervalUs = 30'000'000;

  // Whether `udp://HOST:PORT` names a server one can send to; false with a message.
  static bool checkServer(const std::string& address, std::string& error);
  // Opens the sockets towards the server; null with a message for a bad address.
  static std::unique_ptr<Forwarder> open(const ForwarderOptions& options, Concentrator& concentrator, EventLog& events,
                                         uint64_t startUs, std::string& error);
  ~Forwarder() override;

  // A frame the concentrator heard at nowUs: PUSH_DATA, then the hold for the server's answer.
  void uplink(const GatewayUplink& u);

  // Device: the keep-alive and the status.
  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;
  bool periodic() const override { return true; }

 private:
  Forwarder(const ForwarderOptions& options, Concentrator& concentrator, EventLog& events, int upFd, int downFd,
            uint64_t startUs);
  uint16_t token() { return static_cast<uint16_t>(rng_()); }
  void send(int fd, gateway::Ident ident, const std::string& json, uint16_t token);
  void pushData(const std::string& json);
  void pullData();
  void status(uint64_t nowUs);
  // Reads what the server sent, waiting up to waitMs wall milliseconds (0: only what is there).
  // During a hold (answering true) a PULL_RESP is executed at nowUs and ends the wait; otherwise it
  // comes too late. True when a PULL_RESP was executed.
  bool receive(uint64_t nowUs, uint64_t waitMs, bool answering);
  // False for a PULL_RESP the radio cannot execute (it is not acknowledged).
  bool pullResp(const gateway::Datagram& datagram, uint64_t nowUs, bool answering);
  std::string utc(uint64_t us, bool compact) const;

  ForwarderOptions options_;
  Concentrator& concentrator_;
  EventLog& events_;
  int upFd_;
  int downFd_;
  std::mt19937_64 rng_;
  uint64_t nextPullUs_;
  uint64_t nextStatUs_;
  // This status interval's counts (a forwarder's stat), and the PUSH_DATA tokens not acknowledged.
  uint64_t forwarded_ = 0, pushed_ = 0, pushAcked_ = 0, downlinks_ = 0;
  std::vector<uint16_t> pushTokens_;
  uint64_t lastReceived_ = 0, lastReceivedOk_ = 0, lastTransmitted_ = 0;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(65536);  // one datagram, the largest UDP carries
};

}  // namespace sim
