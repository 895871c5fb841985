// The Vantor of orvane-sim: one registry, one decision maker and one radio for the process.
#include "sim_start.h"

#include <memory>

#include "mqtt_output.h"
#include "sim_endpoint.h"

namespace vantor {

std::string simDatabasePath(const sim::Board& board) {
  if (!board.options().vantorDb.empty()) return board.options().vantorDb;
  const std::string inState = board.statePath("vantor.sqlite");
  return inState.empty() ? ":memory:" : inState;
}

namespace {
MqttSettings mqttSettings(const sim::Options& options) {
  return MqttSettings{options.mqtt, options.mqttPrefix, options.mqttClientId};
}
}  // namespace

bool checkSimOptions(const sim::Options& options, std::string& message) {
  std::string error;
  if (!options.mqtt.empty() && !checkMqttSettings(mqttSettings(options), error)) {
    message = "orvane-sim: --mqtt: " + error + "\n";
    return false;
  }
  for (const std::string& text : options.vantorFaults) {
    Fault f{};
    std::string error;
    if (!parseFault(text, f, error)) {
      message = "orvane-sim: --vantor-fault: " + error + "\n";
      return false;
    }
  }
  return true;
}

bool startInSim(sim::Board& board, std::string& message) {
  const sim::Options& options = board.options();
  if (!options.vantor) return true;
  std::vector<Fault> faults;
  for (const std::string& text : options.vantorFaults) {
    Fault f{};
    std::string ignored;  // checked with the command line
    if (parseFault(text, f, ignored)) faults.push_back(f);
  }
  // They live as long as the process: a reset starts a new process image.
  static std::unique_ptr<Store> store;
  static std::unique_ptr<Vantor> vantor;
  static std::unique_ptr<SimEndpoint> endpoint;
  static std::unique_ptr<MqttOutput> mqtt;  // goes first, publishing what waits
  const std::string database = simDatabasePath(board);
  if (!options.mqtt.empty() && database == ":memory:") {
    message = "orvane-sim: --mqtt needs the Vantor's database in a file or on a server (--vantor-db)\n";
    return false;
  }
  try {
    store = openStore(database, true);
  } catch (const DbError& e) {
    message = std::string("orvane-sim: vantor: ") + e.what() + "\n";
    return false;
  }
  vantor = std::make_unique<Vantor>(*store, options.seed);
  if (!options.mqtt.empty()) {
    mqtt = std::make_unique<MqttOutput>(mqttSettings(options), database, *vantor, "orvane-sim");
    // The process ends with _Exit or restarts with exec: what waits goes out first. A restart of
    // the board is no absence of the Vantor.
    board.addPersistHook([](sim::ResetKind kind) { mqtt->stop(kind == sim::ResetKind::pin); });
  }
  endpoint = std::make_unique<SimEndpoint>(
      board.radioMedium(), [&board] { return board.nowUs(); }, *vantor, FaultPlan(std::move(faults)), options.seed);
  board.addDevice(endpoint.get());
  return true;
}

}  // namespace vantor
