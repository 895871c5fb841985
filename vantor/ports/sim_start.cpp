// The Vantor of orvane-sim: one registry, one decision maker and one radio for the process.
#include "sim_start.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "http_server.h"
#include "mqtt_output.h"
#include "output_options.h"
#include "sim_endpoint.h"

namespace vantor {

std::string simDatabasePath(const sim::Board& board) {
  if (!board.options().vantorDb.empty()) return board.options().vantorDb;
  const std::string inState = board.statePath("vantor.sqlite");
  return inState.empty() ? ":memory:" : inState;
}

namespace {

OutputOptions outputOptions(const sim::Options& options) {
  return OutputOptions{options.mqtt, options.mqttPrefix, options.mqttClientId, options.vantorHttp,
                       options.vantorTokenFile};
}

// Set once the dashboard's address was told: the restarts of the firmware (new process images)
// serve it again without saying so each time.
constexpr const char* kHttpToldEnv = "ORVANE_SIM_HTTP_TOLD";

bool startWeb(sim::Board& board, Vantor& vantor, std::string& message) {
  // Stopped before the process image is replaced, so that the next one can listen again.
  static std::unique_ptr<WebServer> web;
  std::string error;
  web = startDashboard(outputOptions(board.options()), simDatabasePath(board), vantor.outputs(), error);
  if (!web) {
    message = "orvane-sim: --http: " + error + "\n";
    return false;
  }
  board.addPersistHook([](sim::ResetKind) { web.reset(); });
  if (std::getenv(kHttpToldEnv) == nullptr) {
    std::fprintf(stderr, "orvane-sim: Vantor dashboard at %s\n", web->url().c_str());
    ::setenv(kHttpToldEnv, "1", 1);
  }
  return true;
}

}  // namespace

bool checkSimOptions(const sim::Options& options, std::string& message) {
  if ((!options.vantorHttp.empty() || !options.vantorTokenFile.empty()) && !options.vantor) {
    message = "orvane-sim: --http serves the Vantor's dashboard: not with --no-vantor\n";
    return false;
  }
  std::string error;
  if (!checkOutputOptions(outputOptions(options), error)) {
    message = "orvane-sim: " + error + "\n";
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
    mqtt = std::make_unique<MqttOutput>(mqttSettings(outputOptions(options)), database, *vantor, "orvane-sim");
    // The process ends with _Exit or starts again in a fresh image: what waits goes out first. A
    // restart of the board is no absence of the Vantor.
    board.addPersistHook([](sim::ResetKind kind) { mqtt->stop(kind == sim::ResetKind::pin); });
  }
  endpoint = std::make_unique<SimEndpoint>(
      board.radioMedium(), [&board] { return board.nowUs(); }, *vantor, FaultPlan(std::move(faults)), options.seed);
  board.addDevice(endpoint.get());
  return options.vantorHttp.empty() || startWeb(board, *vantor, message);
}

}  // namespace vantor
