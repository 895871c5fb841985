// The Vantor's output options: their checks and the dashboard that follows a Vantor.
#include "output_options.h"

#include "db_error.h"
#include "http_server.h"

namespace vantor {

MqttSettings mqttSettings(const OutputOptions& o) { return MqttSettings{o.mqtt, o.mqttPrefix, o.mqttClientId}; }

bool checkOutputOptions(const OutputOptions& o, std::string& error) {
  if (!o.mqtt.empty() && !checkMqttSettings(mqttSettings(o), error)) {
    error = "--mqtt: " + error;
    return false;
  }
  if (o.http.empty() && !o.tokenFile.empty()) {
    error = "--token-file goes with --http";
    return false;
  }
  ListenAddress address;
  AccessPolicy policy;
  return o.http.empty() || webSettings(o.http, o.tokenFile, address, policy, error);
}

std::unique_ptr<WebServer> startDashboard(const OutputOptions& o, const std::string& database, Outputs& outputs,
                                          std::string& error) {
  ListenAddress address;
  AccessPolicy policy;
  if (!webSettings(o.http, o.tokenFile, address, policy, error)) return nullptr;
  std::unique_ptr<WebServer> web;
  try {
    web = std::make_unique<WebServer>(openStore(database, true), address, policy);
  } catch (const DbError& e) {
    error = e.what();
    return nullptr;
  }
  web->follow(outputs);
  if (!web->start(error)) return nullptr;
  return web;
}

}  // namespace vantor
