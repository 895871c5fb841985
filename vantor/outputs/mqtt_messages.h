// What the Vantor publishes on MQTT and what it takes from it, as plain topics and JSON texts (the
// client in mqtt_output.h moves them):
//   PREFIX/<uid>/up              every stored uplink: identity, code, counter, time, reception,
//                                verdict and the decoded fields, numbers at their resolution
//   PREFIX/<uid>/reading         every accepted reading (packets 3 and 5): the state topic of the
//                                Home Assistant sensors
//   PREFIX/<uid>/status          retained: state, activity, last seen, expected interval
//   PREFIX/<uid>/ack             every accepted packet 17, with the setting it answers
//   PREFIX/<uid>/command/set     in: {"setting": "phase", "value": 0.12} (+ max_attempts, ttl)
//   PREFIX/<uid>/command/calibrate  in: {"known_pf": 0.8} (+ leading, readings), or {"cancel": true}
//   PREFIX/<uid>/command/result  out: queued with its id, or refused with the CLI's reason; for a
//                                calibration: started or cancelled with its state, or refused
//   PREFIX/<uid>/calibration     retained: the node's calibration as it goes, at every step
//   PREFIX/gateway/<eui>/status  retained: a gateway's line of `vantor gateways --json`
//   PREFIX/vantor/<client>/availability  retained online/offline, offline also as the will
//   homeassistant/sensor/orvane_<uid>_<field>/config  retained discovery of five sensors
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "calibrate.h"
#include "outputs.h"
#include "settings.h"
#include "store.h"

namespace vantor {

struct MqttSettings {
  std::string url;  // mqtt://HOST:PORT
  std::string prefix = "orvane";
  std::string clientId;  // empty: "vantor-" and the host's name
};

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retain = false;
};

// "mqtt://HOST:PORT" (the port 1883 when missing); false with the reason.
bool parseMqttUrl(const std::string& url, std::string& host, int& port, std::string& error);
// The URL, the prefix (no wildcards, no leading or trailing '/') and the client id; false with
// the reason, as a command line error.
bool checkMqttSettings(const MqttSettings& settings, std::string& error);
std::string mqttClientId(const MqttSettings& settings);
std::string availabilityTopic(const MqttSettings& settings);

// A number at the resolution of its field: `decimals` places.
double rounded(double value, int decimals);

// The messages of one stored outcome. `chipId` is the node's, when the registry knows it.
std::vector<MqttMessage> outcomeMessages(const Stored& stored, const std::optional<NodeRecord>& node,
                                         const MqttSettings& settings);
// Whether the outcome changes what the discovery configs of its node say (provisioning, a new
// packet 8, a new expected interval).
bool changesDiscovery(const Stored& stored);
MqttMessage statusMessage(const NodeRecord& node, uint64_t nowUs, const MqttSettings& settings);
// A gateway's retained status; nothing for the row of bad datagrams that name no gateway.
std::optional<MqttMessage> gatewayStatusMessage(const GatewayRecord& gateway, const MqttSettings& settings);
// The five sensors of a node; packet8 is its latest accepted one, for the firmware revision.
std::vector<MqttMessage> discoveryMessages(const NodeRecord& node, const std::optional<UplinkRecord>& packet8,
                                           const MqttSettings& settings);

// A message on PREFIX/<uid>/command/set to the queue request it asks for; nothing with the reason
// when the payload is not such a command. The node is the topic's <uid>.
std::optional<QueueRequest> commandRequest(const std::string& node, const std::string& payload, std::string& error);
// The node part of a command topic (command/set or command/calibrate), or nothing for another topic.
std::optional<std::string> commandNode(const std::string& topic, const MqttSettings& settings);
bool isCalibrateCommand(const std::string& topic);
std::string commandTopic(const MqttSettings& settings);    // the subscription: PREFIX/+/command/set
std::string calibrateTopic(const MqttSettings& settings);  // and PREFIX/+/command/calibrate
// A message on PREFIX/<uid>/command/calibrate: a calibration to start, or {"cancel": true}.
struct CalibrateCommand {
  bool cancel = false;
  CalibrationRequest request;
};
std::optional<CalibrateCommand> calibrateCommand(const std::string& node, const std::string& payload,
                                                 std::string& error);
MqttMessage calibrationResult(const std::string& node, const CalibrationOutcome& outcome, const MqttSettings& settings);
MqttMessage commandResult(const std::string& node, const QueueOutcome& outcome, const MqttSettings& settings);
MqttMessage commandRefused(const std::string& node, const std::string& reason, const MqttSettings& settings);

}  // namespace vantor
