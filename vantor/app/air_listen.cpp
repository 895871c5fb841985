// The Vantor on orvane-air: its registry and decisions, its radio (SimEndpoint) on a mirror of the
// shared medium, and a clock of its own that runs from one thing it has to do to the next.
#include "air_listen.h"

#include <memory>
#include <sstream>

#include "air_link.h"
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

}  // namespace

int listenOnAir(const ListenOptions& o, std::ostream& err) {
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
  sim::Scheduler clock;
  sim::RadioMedium medium;
  SiteCore core(vantor, std::move(settings));
  SimEndpoint endpoint(
      medium, [&clock] { return clock.now(); }, core, FaultPlan(std::move(faults)), o.seed);
  VantorOnAir host(endpoint);
  // A site profile: a node given its identity (or confirmed under one it held) with nothing queued
  // for it gets the settings, in the same virtual instant as that answer, so the run repeats. Queued
  // at the assign, they also reach a node whose confirm was lost and which the Vantor confirms by
  // its first frame under the assigned key: that frame's receive window carries the first of them.
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
  link->runUntilEnded(clock);
  return kExitDone;
}

}  // namespace vantor
