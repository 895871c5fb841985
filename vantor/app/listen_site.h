// What every `vantor listen` runs its ports on, whatever they are: the checked options, the store,
// the Vantor, its outputs (MQTT, the dashboard) and the site's core the ports hand their frames to.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli.h"
#include "faults.h"
#include "http_server.h"
#include "mqtt_output.h"
#include "site_core.h"

namespace vantor {

struct ListenSite {
  std::unique_ptr<Store> store;
  std::unique_ptr<Vantor> vantor;
  // Started before any port, so that no radio waits on a broker or a port, and gone before the
  // Vantor whose outputs they follow.
  std::unique_ptr<MqttOutput> mqtt;
  std::unique_ptr<WebServer> web;
  std::unique_ptr<SiteCore> core;
  // The faults of --fault, checked.
  std::vector<Fault> faults;
};

// Checks the options every listen shares and opens the site: kExitDone, or the exit status with
// the message on `err` (2 for bad options, 1 when the database or an address cannot be used).
int openListenSite(const ListenOptions& o, std::ostream& err, ListenSite& site);

}  // namespace vantor
