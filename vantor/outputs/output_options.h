// The options that put a Vantor's outputs beyond its database, the same on orvane-sim, `vantor
// listen` and orvane-fleet: --mqtt URL, --mqtt-prefix P, --mqtt-client-id ID, --http ADDR:PORT,
// --token-file FILE.
#pragma once

#include <memory>
#include <string>

#include "mqtt_messages.h"
#include "outputs.h"

namespace vantor {

class WebServer;

struct OutputOptions {
  std::string mqtt;  // empty: no MQTT
  std::string mqttPrefix = "orvane";
  std::string mqttClientId;  // empty: vantor-HOSTNAME
  std::string http;          // empty: no dashboard
  std::string tokenFile;
};

MqttSettings mqttSettings(const OutputOptions& o);

// Checks them together; false with the message to print after the program's name, e.g.
// "--mqtt: the prefix ... " or "--token-file goes with --http".
bool checkOutputOptions(const OutputOptions& o, std::string& error);

// The dashboard of the Vantor of this process (checked options): its own connection to
// `database`, live events following `outputs`, serving on threads of its own. Null with the
// reason when the database or the address cannot be used.
std::unique_ptr<WebServer> startDashboard(const OutputOptions& o, const std::string& database, Outputs& outputs,
                                          std::string& error);

}  // namespace vantor
