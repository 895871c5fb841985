// The simulated board as a participant of orvane-air.
#include "air_join.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "air_link.h"
#include "board.h"
#include "console.h"
#include "llcc68_model.h"
#include "radio_medium.h"

extern char** environ;

namespace sim {

namespace {

// While the core runs it may act at any moment; a grant this far ahead saves a round trip for
// every few hundred microseconds it runs with a radio hearing.
constexpr uint64_t kRunningQuantumUs = 5'000;

class BoardOnAir final : public AirHost {
 public:
  explicit BoardOnAir(Board& board) : board_(board) {}

  void plan(uint64_t nowUs, bool transmitting, air::Wait& w) const override {
    // The core acts again at its next interrupt, or at once while it runs (or may be handed
    // console input); a frame follows a command by the transmitter's ramp, a cut comes at once.
    uint64_t next = nowUs;
    if (board_.coreSleeping()) {
      next = board_.nextInterruptUs();
      if (next == kNever && !board_.console().inputEnded()) next = nowUs;
    }
    const bool running = next <= nowUs;
    w.targetUs = running ? nowUs + kRunningQuantumUs : next;
    w.partial = running;
    const uint64_t from = running ? nowUs : next;
    w.earliestUs = from == kNever ? kNever : (transmitting ? from + (running ? 1 : 0) : from + Llcc68Model::kTxRampUs);
    w.reactUs = kNever;  // what it hears does not wake the core: the radio raises no interrupt
  }

  void airEnded() override { board_.exitSim(0, "the air ended"); }

 private:
  Board& board_;
};

air::Relaunch relaunchOf() {
  air::Relaunch r;
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) r.exe.assign(buf, static_cast<size_t>(n));
  if (::getcwd(buf, sizeof buf) != nullptr) r.cwd = buf;
  r.argv = board().options().argv;
  for (char** e = environ; *e != nullptr; ++e) r.env.emplace_back(*e);
  return r;
}

}  // namespace

bool joinAir(Board& board, std::string& message) {
  const Options& o = board.options();
  // They serve the board for the rest of the process: a restart ends it.
  static std::unique_ptr<BoardOnAir> host;
  static std::unique_ptr<AirLink> link;
  host = std::make_unique<BoardOnAir>(board);
  air::Hello hello;
  hello.role = air::Role::node;
  hello.name = o.airName;
  hello.clockUs = board.nowUs();
  if (o.airAtSet) hello.at = air::Position{o.airAtX, o.airAtY};
  std::string error;
  link = AirLink::join(o.air, hello, board.radioMedium(), *host, error);
  if (!link) {
    message = "orvane-sim: " + error + "\n";
    return false;
  }
  board.addDevice(link.get());
  board.setRestartHandler([&board](ResetKind, uint32_t) {
    // The next start happens at this virtual time, when the air's clock gets there.
    board.console().prepareRestart();
    link->pause(board.nowUs(), relaunchOf());
    std::fflush(nullptr);
    std::_Exit(0);
  });
  return true;
}

}  // namespace sim
