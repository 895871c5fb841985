// Benchmark, not a test: one Vantor (`vantor listen --gateway`) behind one gateway that forwards
// 1 000 uplinks a second. First 200 chips ask for an identity; then each uplink is a provisioning
// request of one of those nodes under its own key, with a counter above its last (stored as
// accepted, and answered with packet 13 confirm). This program is the gateway's forwarder:
// PULL_DATA, then PUSH_DATA paced at the rate, and TX_ACK for every PULL_RESP. It reports how many uplinks were stored
// and the time from each PUSH_DATA to its PULL_RESP (median, 99th percentile, worst).
//   build/sim/tests/gateway_load build/sim/vantor [uplinks (default 10000)] [per second (default 1000)]
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "decide.h"
#include "gateway_protocol.h"
#include "node_frames.h"

using Clock = std::chrono::steady_clock;
using namespace testing_support;

namespace {

int loopbackSocket() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  const int buffer = 4 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  return fd;
}

uint16_t freePort() {
  const int fd = loopbackSocket();
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gateway_load VANTOR [UPLINKS] [PER_SECOND]\n");
    return 2;
  }
  const int uplinks = argc > 2 ? std::atoi(argv[2]) : 10000;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 1000;
  char dir[] = "/tmp/gateway_load.XXXXXX";
  if (::mkdtemp(dir) == nullptr) return 1;
  const std::string db = std::string(dir) + "/vantor.sqlite";
  const uint16_t port = freePort();
  const std::string address = "udp://127.0.0.1:" + std::to_string(port);
  const pid_t vantor = ::fork();
  if (vantor == 0) {
    ::execl(argv[1], argv[1], "--db", db.c_str(), "listen", "--gateway", address.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  server.sin_port = htons(port);
  const int up = loopbackSocket();
  const int down = loopbackSocket();
  const uint64_t eui = 0xAA555A0000000001ull;
  const auto send = [&](int fd, const gateway::Datagram& d) {
    const gateway::Bytes b = gateway::encodeDatagram(d);
    ::sendto(fd, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&server), sizeof server);
  };
  // PULL_DATA until it is acknowledged (the Vantor is starting).
  bool pulled = false;
  for (int i = 0; i < 500 && !pulled; ++i) {
    send(down, gateway::Datagram{2, 1, gateway::Ident::pullData, eui, ""});
    pollfd p{down, POLLIN, 0};
    if (::poll(&p, 1, 20) == 1) {
      uint8_t buf[64];
      pulled = ::recv(down, buf, sizeof buf, 0) >= 4 && buf[3] == 0x04;
    }
  }
  if (!pulled) {
    std::fprintf(stderr, "gateway_load: the Vantor did not answer PULL_DATA\n");
    ::kill(vantor, SIGTERM);
    return 1;
  }
  std::map<uint32_t, Clock::time_point> sentAt;  // by the uplink's tmst
  std::vector<double> latencyMs;
  const auto drain = [&] {
    uint8_t buf[2048];
    for (ssize_t n; (n = ::recv(down, buf, sizeof buf, 0)) > 0;) {
      const Clock::time_point now = Clock::now();
      gateway::Datagram d;
      std::string error;
      gateway::Txpk t;
      if (!gateway::parseDatagram(buf, static_cast<size_t>(n), d, error) || d.ident != gateway::Ident::pullResp ||
          !gateway::parsePullResp(d.json, t, error) || !t.tmst) {
        continue;
      }
      send(down, gateway::Datagram{2, d.token, gateway::Ident::txAck, eui, ""});
      const auto it = sentAt.find(*t.tmst - 300'000u);
      if (it == sentAt.end()) continue;
      latencyMs.push_back(std::chrono::duration<double, std::milli>(now - it->second).count());
      sentAt.erase(it);
    }
    for (ssize_t n; (n = ::recv(up, buf, sizeof buf, 0)) > 0;) {
    }
  };
  const auto pushFrame = [&](const Frame& frame, uint32_t tmst, uint16_t token) {
    gateway::Rxpk r;
    r.tmst = tmst;
    r.freqMHz = 868.0;
    r.stat = 1;
    r.modu = "LORA";
    r.datr = "SF7BW125";
    r.codr = "4/5";
    r.rssi = -80;
    r.lsnr = 8.5;
    r.data = frame;
    gateway::PushData p;
    p.rxpk.push_back(r);
    send(up, gateway::Datagram{2, token, gateway::Ident::pushData, eui, gateway::encodePushData(p)});
  };
  // The nodes: identities 1..200 for 200 chips (the Vantor's seed is 1: their keys follow from it).
  constexpr uint32_t kNodes = 200;
  for (uint32_t n = 0; n < kNodes; ++n) {
    pushFrame(packet10(0, 1, chipOf(0x10000000u + n), HMAC::Key{0, 0}), 3'000'000'000u + n, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    drain();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  drain();
  latencyMs.clear();
  sentAt.clear();
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < uplinks; ++i) {
    const Clock::time_point due = start + std::chrono::microseconds(static_cast<int64_t>(i) * 1'000'000 / rate);
    while (Clock::now() < due) {
      drain();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const uint32_t uid = 1 + static_cast<uint32_t>(i) % kNodes;
    const uint32_t counter = 2 + static_cast<uint32_t>(i) / kNodes;
    const Frame frame = packet10(uid, counter, chipOf(0x10000000u + uid - 1), vantor::tagKey(vantor::freshKey(1, uid)));
    const uint32_t tmst = 1'000'000u * static_cast<uint32_t>(i);  // distinct for every uplink, and wrapping
    sentAt[tmst] = Clock::now();
    pushFrame(frame, tmst, static_cast<uint16_t>(i));
  }
  const double sendingS = std::chrono::duration<double>(Clock::now() - start).count();
  const Clock::time_point end = Clock::now() + std::chrono::seconds(5);
  while (!sentAt.empty() && Clock::now() < end) {
    drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ::kill(vantor, SIGTERM);
  int status = 0;
  ::waitpid(vantor, &status, 0);
  // What was stored, read by the vantor command.
  const std::string count = std::string(argv[1]) + " --db " + db + " --json uplinks --limit " +
                            std::to_string(uplinks + 300) + " | grep -c '\"verdict\":\"accepted\"'";
  FILE* f = ::popen(count.c_str(), "r");
  int stored = 0;
  if (f != nullptr && std::fscanf(f, "%d", &stored) != 1) stored = 0;
  if (f != nullptr) ::pclose(f);
  std::sort(latencyMs.begin(), latencyMs.end());
  const auto at = [&](double q) {
    return latencyMs.empty() ? 0.0
                             : latencyMs[std::min(latencyMs.size() - 1, static_cast<size_t>(q * latencyMs.size()))];
  };
  std::printf(
      "gateway_load: %d uplinks sent in %.2f s (%.0f a second), %d stored as accepted (with the %u first "
      "requests), %zu answered\n",
      uplinks, sendingS, uplinks / sendingS, stored, kNodes, latencyMs.size());
  std::printf("gateway_load: PUSH_DATA to PULL_RESP: median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n", at(0.5),
              at(0.99), latencyMs.empty() ? 0.0 : latencyMs.back());
  std::system((std::string("rm -rf ") + dir).c_str());
  return stored == uplinks + static_cast<int>(kNodes) && latencyMs.size() == static_cast<size_t>(uplinks) ? 0 : 1;
}
