// The timed power cut of orvane-sim.
#include "power_cut.h"

#include <cstdio>
#include <string>

#include "state_store.h"

namespace sim {

namespace {
constexpr const char* kDoneFile = "power-cut-done";
}

PowerCut::PowerCut(DeviceHost& board, uint64_t atUs) : board_(board) {
  std::string done;
  if (readText(board_.statePath(kDoneFile), done) || atUs < board_.nowUs()) return;
  atUs_ = atUs;
}

void PowerCut::fire(uint64_t nowUs) {
  atUs_ = kNever;
  if (!board_.statePath(kDoneFile).empty()) writeText(board_.statePath(kDoneFile), "1\n");
  std::fprintf(stderr, "orvane-sim: power cut at t=%.6f s\n", static_cast<double>(nowUs) / 1e6);
  board_.restart(ResetKind::powerOn, 0);
}

}  // namespace sim
