// `vantor listen`: the Vantor's registry and decisions behind its ports: on orvane-air its radio
// (SimEndpoint) on a mirror of the shared medium, with a clock of its own that runs from one thing
// it has to do to the next; behind gateways the forwarders' server, on a thread of its own.
#include "air_listen.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>

#include "air_link.h"
#include "gateway_port.h"
#include "http_server.h"
#include "mqtt_output.h"
#include "pg_db.h"
#include "radio_medium.h"
#include "scheduler.h"
#include "settings.h"
#include "sim_endpoint.h"
#include "site_core.h"

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
  while (!link->ended()) {
    const uint64_t next = clock.nextEvent(true);
    if (next == sim::kNever) break;
    if (next > clock.now()) clock.setNow(next);
    clock.runDue();
  }
  return kExitDone;
}

}  // namespace

int listen(const ListenOptions& o, std::ostream& err) {
  std::vector<Fault> faults;
  for (const std::string& text : o.faults) {
    Fault f{};
    std::string error;
    if (!parseFault(text, f, error)) {
      err << "vantor: --fault: " << error << '\n';
      return kExitUsage;
    }
    faults.push_back(f);
  }
  std::vector<std::vector<std::string>> settings;
  for (const std::string& text : o.settings) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (const std::optional<QueueOutcome> bad = checkQueueRequest(QueueRequest{"0x000001", words})) {
      err << "vantor: --setting " << text << ": " << bad->message << '\n';
      return kExitUsage;
    }
    settings.push_back(words);
  }
  std::string error;
  if (!checkOutputOptions(o.outputs, error)) {
    err << "vantor: " << error << '\n';
    return kExitUsage;
  }
  if (!o.outputs.mqtt.empty() && o.dbPath == ":memory:") {
    err << "vantor: --mqtt needs the Vantor's database in a file or on a server (--db)\n";
    return kExitUsage;
  }
  GatewayOptions gatewayOptions;
  if (!o.gateway.empty()) {
    if (!parseGatewayAddress(o.gateway, gatewayOptions, error)) {
      err << "vantor: " << error << '\n';
      return kExitUsage;
    }
    gatewayOptions.powerDbm = o.gatewayPowerDbm;
    gatewayOptions.answerDelayUs = static_cast<uint64_t>(o.gatewayAnswerDelayMs) * 1000;
  }
  std::unique_ptr<Store> store;
  try {
    store = openStore(o.dbPath, true);
  } catch (const DbError& e) {
    err << "vantor: " << e.what() << '\n';
    return kExitRefused;
  }
  Vantor vantor(*store, o.seed);
  // Both started before the Vantor joins the air, so that the air never waits on a broker or a
  // port, and gone before the Vantor whose outputs they follow.
  std::unique_ptr<MqttOutput> mqtt;
  if (!o.outputs.mqtt.empty()) mqtt = std::make_unique<MqttOutput>(mqttSettings(o.outputs), o.dbPath, vantor, "vantor");
  std::unique_ptr<WebServer> web;
  if (!o.outputs.http.empty()) {
    web = startDashboard(o.outputs, o.dbPath, vantor.outputs(), error);
    if (!web) {
      err << "vantor: --http: " << error << '\n';
      return kExitRefused;
    }
    err << "vantor: dashboard of " << withoutPassword(o.dbPath) << " at " << web->url() << std::endl;
  }
  SiteCore core(vantor, std::move(settings));
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
    // Behind gateways alone it serves until told to stop.
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    while (!gStopSignal) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gateways->stop();
    return kExitDone;
  }
  sim::Scheduler clock;
  sim::RadioMedium medium;
  SimEndpoint endpoint(
      medium, [&clock] { return clock.now(); }, core, FaultPlan(std::move(faults)), o.seed);
  const int status = runOnAir(o, medium, clock, endpoint, err);
  if (gateways) gateways->stop();
  return status;
}

}  // namespace vantor
