// The Vantor of orvane-sim: one registry, one decision maker and one radio for the process.
#include "sim_start.h"

#include <memory>

#include "sim_endpoint.h"

namespace vantor {

std::string simDatabasePath(const sim::Board& board) {
  if (!board.options().vantorDb.empty()) return board.options().vantorDb;
  const std::string inState = board.statePath("vantor.sqlite");
  return inState.empty() ? ":memory:" : inState;
}

bool checkSimOptions(const sim::Options& options, std::string& message) {
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
  static std::unique_ptr<Registry> registry;
  static std::unique_ptr<Vantor> vantor;
  static std::unique_ptr<SimEndpoint> endpoint;
  try {
    registry = std::make_unique<Registry>(simDatabasePath(board), true);
  } catch (const DbError& e) {
    message = std::string("orvane-sim: vantor: ") + e.what() + "\n";
    return false;
  }
  vantor = std::make_unique<Vantor>(*registry, options.seed);
  endpoint = std::make_unique<SimEndpoint>(
      board.radioMedium(), [&board] { return board.nowUs(); }, *vantor, FaultPlan(std::move(faults)), options.seed);
  board.addDevice(endpoint.get());
  return true;
}

}  // namespace vantor
