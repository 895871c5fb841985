// The Vantor on orvane-air: its registry and decisions, its radio (SimEndpoint) on a mirror of the
// shared medium, and a clock of its own that runs from one thing it has to do to the next.
#include "air_listen.h"

#include <memory>

#include "air_link.h"
#include "listen_site.h"
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

}  // namespace

int listenOnAir(const ListenOptions& o, std::ostream& err) {
  ListenSite site;
  if (const int status = openListenSite(o, err, site); status != kExitDone) return status;
  std::string error;
  sim::Scheduler clock;
  sim::RadioMedium medium;
  SimEndpoint endpoint(
      medium, [&clock] { return clock.now(); }, *site.core, FaultPlan(std::move(site.faults)), o.seed);
  VantorOnAir host(endpoint);
  sim::air::Hello hello;
  hello.role = sim::air::Role::listener;
  hello.name = o.name;
  if (o.atSet) hello.at = sim::air::Position{o.atX, o.atY};
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
  while (!link->ended()) {
    const uint64_t next = clock.nextEvent(true);
    if (next == sim::kNever) break;
    if (next > clock.now()) clock.setNow(next);
    clock.runDue();
  }
  return kExitDone;
}

}  // namespace vantor
