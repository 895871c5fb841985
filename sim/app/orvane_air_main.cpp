// orvane-air: the simulated LoRa medium as a process of its own, with the clock that every node
// and Vantor joined to it follows (sim/AIR.md).
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>

#include "air_server.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"orvane-air: one simulated LoRa medium shared by nodes and Vantors over a Unix socket", "orvane-air"};
  sim::AirOptions o;
  std::string interferer;
  double stopAfterS = -1;
  app.add_option("--socket", o.socketPath, "the Unix socket participants join at (unix:PATH for them)")->required();
  app.add_option("--air-log", o.airLog,
                 "append every transmission to FILE, one JSON line each, in the order of the air");
  app.add_option("--link-loss", o.linkLossDb, "loss between participants without a position, dB (default 80)")
      ->check(CLI::Range(0.0, 200.0));
  app.add_option("--path-loss-exponent", o.pathLossExponent,
                 "log-distance exponent between positioned participants (default 3)")
      ->check(CLI::Range(1.5, 6.0));
  app.add_option("--interferer", interferer, "a carrier on the channel at every receiver: DBM[:ON_MS:OFF_MS]");
  app.add_option("--stop-after", stopAfterS, "end the run at SEC seconds of virtual time")->check(CLI::Range(0.0, 1e9));
  app.add_option("--processes", o.processes, "sleeping nodes started ahead of need while fewer run (default: cores)")
      ->check(CLI::Range(1u, 4096u));
  std::vector<std::string> waitFor;
  app.add_option("--wait-for", waitFor, "hold the clock until a participant of this name has joined (repeatable)");
  bool quiet = false;
  app.add_flag("--quiet", quiet, "no summary at the end");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  std::string error;
  if (!interferer.empty() && !sim::parseInterferer(interferer, o.interferer, error)) {
    std::fprintf(stderr, "orvane-air: %s\n", error.c_str());
    return 2;
  }
  if (stopAfterS >= 0) o.stopAtUs = static_cast<uint64_t>(stopAfterS * 1e6 + 0.5);
  sim::AirServer server(o);
  if (!server.open(error)) {
    std::fprintf(stderr, "orvane-air: %s\n", error.c_str());
    return 2;
  }
  // Expected at virtual time 0 and started by nobody but itself: nothing moves until it is there.
  for (const std::string& name : waitFor) server.expect(name, sim::air::Role::listener, 0, std::nullopt, {}, {});
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  const int status = server.run([&] {
    if (gStop != 0) server.stop();
  });
  if (!quiet) {
    size_t participants = server.figures().size();
    std::fprintf(stderr, "orvane-air: %llu frames on the air, %zu participants, virtual time %.6f s\n",
                 static_cast<unsigned long long>(server.framesLogged()), participants,
                 server.floorUs() == sim::kNever ? 0.0 : static_cast<double>(server.floorUs()) / 1e6);
  }
  return status;
}
