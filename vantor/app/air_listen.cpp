// `vantor listen`: the Vantor's registry and decisions behind its ports: on orvane-air its radio
// (SimEndpoint) on a mirror of the shared medium, with a clock of its own that runs from one thing
// it has to do to the next; behind gateways the forwarders' server, on a thread of its own; on the
// board's own radio its receive loop (radio_listen.h).
#include "air_listen.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include "air_link.h"
#include "gateway_port.h"
#include "listen_site.h"
#include "radio_listen.h"
#include "radio_medium.h"
#include "scheduler.h"
#include "sim_endpoint.h"

namespace vantor {

namespace {

class VantorOnAir final : public sim::AirHost {
 public:
  explicit VantorOnAir(const SimEndpoint& endpoint) : endpoint_(endpoint) {}

  void plan(uint64_t, bool, sim::air::Wait& w) const override {
    // It acts at its next step (a channel sample, a transmission) and otherwise only in answer to
    // a frame, never sooner than its answer delay after that frame's end.
    w.targetUs = endpoint_.nextEventUs();
    w.earliestUs = w.targetUs;
    w.reactUs = kAnswerDelayUs;
    w.partial = false;
  }
  void airEnded() override {}

 private:
  const SimEndpoint& endpoint_;
};

std::atomic<bool> gStopSignal{false};
extern "C" void onStopSignal(int) { gStopSignal = true; }

// Until the air ends the run.
int runOnAir(const ListenOptions& o, sim::RadioMedium& medium, sim::Scheduler& clock, SimEndpoint& endpoint,
             std::ostream& err) {
  VantorOnAir host(endpoint);
  sim::air::Hello hello;
  hello.role = sim::air::Role::listener;
  hello.name = o.name;
  if (o.atSet) hello.at = sim::air::Position{o.atX, o.atY};
  std::string error;
  std::unique_ptr<sim::AirLink> link = sim::AirLink::join(o.air, hello, medium, host, error);
  if (!link) {
    err << "vantor: " << error << '\n';
    return kExitRefused;
  }
  clock.setNow(link->startUs());
  // The order of the board's devices in orvane-sim: the medium delivers before the Vantor acts.
  clock.add(&medium);
  clock.add(&endpoint);
  clock.add(link.get());
  link->runUntilEnded(clock);
  return kExitDone;
}

}  // namespace

int listen(const ListenOptions& o, std::ostream& err) {
  std::string error;
  GatewayOptions gatewayOptions;
  if (!o.gateway.empty()) {
    if (!parseGatewayAddress(o.gateway, gatewayOptions, error)) {
      err << "vantor: " << error << '\n';
      return kExitUsage;
    }
    gatewayOptions.powerDbm = o.gatewayPowerDbm;
    gatewayOptions.answerDelayUs = static_cast<uint64_t>(o.gatewayAnswerDelayMs) * 1000;
  }
  RadioWiring wiring;
  if (!o.radio.empty() && !checkRadioOptions(o, wiring, err)) return kExitUsage;
  ListenSite site;
  if (const int status = openListenSite(o, err, site); status != kExitDone) return status;
  SiteCore& core = *site.core;
  std::unique_ptr<GatewayPort> gateways;
  if (!o.gateway.empty()) {
    gateways =
        std::make_unique<GatewayPort>(core, gatewayOptions, [&core](const GatewayRecord& g) { core.saveGateway(g); });
    if (!gateways->start(error)) {
      err << "vantor: " << error << '\n';
      return kExitRefused;
    }
    err << "vantor: serving gateways at " << gateways->boundAddress() << std::endl;
  }
  if (o.air.empty()) {
    // Behind gateways or on its own radio it serves until told to stop.
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    int status = kExitDone;
    if (!o.radio.empty()) {
      status = runOnRadio(
          wiring, core, [] { return gStopSignal.load(); }, err);
    } else {
      while (!gStopSignal) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (gateways) gateways->stop();
    return status;
  }
  sim::Scheduler clock;
  sim::RadioMedium medium;
  SimEndpoint endpoint(
      medium, [&clock] { return clock.now(); }, core, FaultPlan(std::move(site.faults)), o.seed);
  const int status = runOnAir(o, medium, clock, endpoint, err);
  if (gateways) gateways->stop();
  return status;
}

}  // namespace vantor
