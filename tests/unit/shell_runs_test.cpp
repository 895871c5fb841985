// The pending actions of the shell's board and measurement commands, run as the main loop
// runs them: what they print, how many times they act, and how much virtual time passes.
#include <gtest/gtest.h>

#include <string>

#include "DemoShell.h"
#include "DemoShellBoard.h"
#include "SerialCommandUtil.h"
#include "gpio_model.h"
#include "test_board.h"

namespace {

using testing_support::freshBoard;
using testing_support::takeOutput;

constexpr int kPortD = 3;

class ShellRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    freshBoard();
    // Called whenever the level may have changed: count real rising edges only.
    sim::board().gpio().watch(kPortD, 0, [this](bool level) {
      if (level && !level_) ++rises_;
      level_ = level;
    });
    takeOutput();
  }
  // Arms through the command handler, then runs the action; returns the run's output.
  std::string arm(SCU::CommandHandler handler, const char* args) {
    handler(args);
    takeOutput();
    startUs_ = sim::board().nowUs();
    runPendingAction();
    elapsedUs_ = sim::board().nowUs() - startUs_;
    return takeOutput();
  }
  bool level_ = false;
  int rises_ = 0;
  uint64_t startUs_ = 0;
  uint64_t elapsedUs_ = 0;
};

struct WaveCase {
  const char* args;
  unsigned cycles;
};

TEST_F(ShellRuns, Dbg1SquareWave) {
  const WaveCase cases[] = {
      {"100 100 150", 0},  // shorter than one period: only the closing line
      {"10 30 100", 2},
      {"5 5 10", 1},
      {"1 1 600", 300},
  };
  for (const WaveCase& c : cases) {
    rises_ = 0;
    const std::string out = arm(cmdDbg1, c.args);
    EXPECT_EQ(out, "ok: dbg1 done (" + std::to_string(c.cycles) + " cycles)\r\n") << c.args;
    EXPECT_EQ(rises_, static_cast<int>(c.cycles)) << c.args;
    EXPECT_FALSE(sim::board().gpio().level(kPortD, 0)) << "line left low after " << c.args;
    // Each cycle waits on + off milliseconds (each wait may round up by a tick).
    const uint64_t periodUs = static_cast<uint64_t>(gDbg1OnMs + gDbg1OffMs) * 1000;
    EXPECT_GE(elapsedUs_, c.cycles * periodUs) << c.args;
    EXPECT_LT(elapsedUs_, c.cycles * (periodUs + 2000) + 5000) << c.args;
    EXPECT_EQ(gPending, Pending::none);
  }
}

}  // namespace
