// orvane-gateway: a simulated LoRa gateway on orvane-air (sim/AIR.md, "A gateway on the air"): a
// concentrator at a position on the shared medium and its packet forwarder, which speaks the
// gateway's UDP protocol to a server (the Vantor's `listen --gateway`) over real UDP.
#include <CLI/CLI.hpp>
#include <cinttypes>
#include <cstdio>
#include <random>

#include "air_link.h"
#include "concentrator.h"
#include "event_log.h"
#include "forwarder.h"
#include "radio_medium.h"
#include "scheduler.h"

namespace {

// It answers only what it hears: its next transmission is the earliest it could put anything on
// the air, and a frame it hears can make it transmit no sooner than its programming lead after
// the frame's end (a nearer answer is too late).
class GatewayOnAir final : public sim::AirHost {
 public:
  const sim::Concentrator* concentrator = nullptr;
  const sim::Forwarder* forwarder = nullptr;

  void plan(uint64_t, bool, sim::air::Wait& w) const override {
    w.earliestUs = concentrator->nextTransmitUs();
    w.targetUs = std::min(w.earliestUs, forwarder->nextEventUs());
    w.reactUs = concentrator->leadUs();
    w.partial = false;
  }
  void airEnded() override {}
};

bool parsePosition(const std::string& text, sim::air::Position& at) {
  char* end = nullptr;
  at.x = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != ',') return false;
  const char* y = end + 1;
  at.y = std::strtod(y, &end);
  return end != y && *end == '\0' && std::isfinite(at.x) && std::isfinite(at.y);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"orvane-gateway: a simulated LoRa gateway on orvane-air, forwarding to a server over UDP",
               "orvane-gateway"};
  std::string air;
  std::string euiText = "4F5256FFFE000001";
  std::string atText;
  std::string name;
  std::string eventsPath;
  uint64_t leadMs = 40;
  sim::ForwarderOptions fo;
  app.add_option("--air", air, "the air to join: unix:PATH")->required();
  app.add_option("--server", fo.server, "the server to forward to: udp://HOST:PORT")->required();
  app.add_option("--eui", euiText, "the gateway's EUI-64, 16 hex digits (default 4F5256FFFE000001)");
  app.add_option("--at", atText, "its position on the air, X,Y in metres");
  app.add_option("--name", name, "its name on the air (default gw-EUI)");
  app.add_option("--lead-ms", leadMs,
                 "the forwarder's programming lead: a downlink due sooner is TOO_LATE (default 40)")
      ->check(CLI::Range(uint64_t{1}, uint64_t{2000}));
  app.add_option("--answer-wait-ms", fo.answerWaitMs,
                 "wall milliseconds the clock waits for the server's answer to a frame (default 500)")
      ->check(CLI::Range(uint64_t{1}, uint64_t{60000}));
  app.add_option("--seed", fo.seed, "seed of the counter's start and the datagram tokens (default 1)");
  app.add_option("--epoch", fo.epochS, "Unix time of virtual time 0, for the time fields (default 2026-01-01)");
  app.add_option("--events", eventsPath, "append every frame forwarded, answer and transmission as a JSON line");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;  // --help, or a usage error
  }
  char* end = nullptr;
  fo.eui = std::strtoull(euiText.c_str(), &end, 16);
  if (euiText.size() != 16 || *end != '\0' ||
      euiText.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    std::fprintf(stderr, "orvane-gateway: --eui takes 16 hex digits, not %s\n", euiText.c_str());
    return 2;
  }
  sim::air::Hello hello;
  hello.role = sim::air::Role::listener;
  if (name.empty()) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "gw-%016" PRIX64, fo.eui);
    name = buf;
  }
  hello.name = name;
  if (!atText.empty()) {
    sim::air::Position at;
    if (!parsePosition(atText, at)) {
      std::fprintf(stderr, "orvane-gateway: --at takes X,Y in metres, not %s\n", atText.c_str());
      return 2;
    }
    hello.at = at;
  }
  std::string error;
  if (!sim::Forwarder::checkServer(fo.server, error)) {
    std::fprintf(stderr, "orvane-gateway: %s\n", error.c_str());
    return 2;
  }
  sim::EventLog events;
  if (!eventsPath.empty() && !events.open(eventsPath)) {
    std::fprintf(stderr, "orvane-gateway: cannot write the event log %s\n", eventsPath.c_str());
    return 2;
  }

  sim::Scheduler clock;
  sim::RadioMedium medium;
  // The counter's start: any of its 2^32 values, from the seed, so a run repeats and long runs wrap.
  std::mt19937_64 rng(fo.seed ^ 0x474154455741ull);
  // Joined first (a listener's clock starts where the air is); the counter starts there.
  GatewayOnAir host;
  std::unique_ptr<sim::AirLink> link = sim::AirLink::join(air, hello, medium, host, error);
  if (!link) {
    std::fprintf(stderr, "orvane-gateway: %s\n", error.c_str());
    return 1;
  }
  clock.setNow(link->startUs());
  sim::Concentrator concentrator(medium, sim::ConcentratorCounter(static_cast<uint32_t>(rng()), link->startUs()),
                                 leadMs * 1000);
  std::unique_ptr<sim::Forwarder> forwarder = sim::Forwarder::open(fo, concentrator, events, link->startUs(), error);
  if (!forwarder) {
    std::fprintf(stderr, "orvane-gateway: %s\n", error.c_str());
    return 2;
  }
  host.concentrator = &concentrator;
  host.forwarder = forwarder.get();
  concentrator.onUplink([&](const sim::GatewayUplink& u) { forwarder->uplink(u); });
  // The medium delivers before the concentrator transmits; the forwarder's steps come after both.
  clock.add(&medium);
  clock.add(&concentrator);
  clock.add(forwarder.get());
  clock.add(link.get());
  link->runUntilEnded(clock);
  return 0;
}
