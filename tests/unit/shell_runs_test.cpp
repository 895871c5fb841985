// The pending actions of the shell's board and measurement commands, run as the main loop
// runs them: what they print, how many times they act, and how much virtual time passes.
#include <gtest/gtest.h>

#include <string>

#include "DemoShell.h"
#include "DemoShellBoard.h"
#include "DemoShellSample.h"
#include "SerialCommandUtil.h"
#include "gpio_model.h"
#include "measure_bench.h"
#include "sleep.h"
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

size_t countOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
  return n;
}

class SampleRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::bringUpMeasurementBoard();
    testing_support::setScenario(testing_support::scenarioFrom("current=5,pf=0.8"));
    gCaptureDone = false;
    gSampleMode = SampleMode::full;  // as after a start
  }
  // Arms through the handlers as the shell would, runs the action, returns its output.
  std::string runArmed(SCU::CommandHandler handler, const char* args) {
    handler(args);
    takeOutput();
    const uint64_t start = sim::board().nowUs();
    runPendingAction();
    elapsedUs = sim::board().nowUs() - start;
    return takeOutput();
  }
  uint64_t elapsedUs = 0;
};

TEST_F(SampleRuns, SampleModesPrintTheirTables) {
  struct ModeCase {
    const char* args;
    const char* title;
  };
  for (const ModeCase& c : {ModeCase{"", "=== sample full ==="}, ModeCase{"hp", "=== sample hp ==="}}) {
    const std::string out = runArmed(cmdSample, c.args);
    EXPECT_EQ(out.find(c.title), out.find("=== ")) << out;
    EXPECT_NE(out.find("  measure                  |        Bfield |     EfieldInd\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  samples (both)           |           231 |             \"\r\n"), std::string::npos);
    EXPECT_NE(out.find("  burden (ohm)             |            20 |             -\r\n"), std::string::npos);
    EXPECT_NE(out.find("  metric                   |         value\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  phase corr (rad)         |          AUTO\r\n"), std::string::npos) << out;
    EXPECT_TRUE(gCaptureDone);
    EXPECT_FALSE(sim::board().gpio().level(1, 5)) << "front end (PB5) off after the run";
  }
}

// n samples with n - 1 waits of <sec> between them, none after the last.
TEST_F(SampleRuns, EveryTakesNSamplesSecondsApart) {
  const std::string run32 = runArmed(cmdEvery, "3 2");
  const uint64_t elapsed32 = elapsedUs;
  EXPECT_EQ(countOf(run32, "=== sample full ==="), 3u);
  for (const char* line : {"-- sample 1/3\r\n", "-- sample 2/3\r\n", "-- sample 3/3\r\n"})
    EXPECT_EQ(countOf(run32, line), 1u) << line;
  EXPECT_EQ(run32.substr(run32.size() - 28), "ok: every done (3 samples)\r\n");

  runArmed(cmdEvery, "3 1");
  const int64_t waitsDiff = static_cast<int64_t>(elapsed32) - static_cast<int64_t>(elapsedUs);
  EXPECT_NEAR(waitsDiff, 2000000, 1000) << "two waits, each one second longer";
  EXPECT_GE(elapsed32, 4000000u);

  const std::string single = runArmed(cmdEvery, "1 3600");
  EXPECT_EQ(countOf(single, "=== sample full ==="), 1u);
  EXPECT_LT(elapsedUs, 1000000u) << "no wait after the last sample";
}

TEST_F(SampleRuns, EveryKeepsTheModeOfTheLastSample) {
  runArmed(cmdSample, "hp");
  const std::string out = runArmed(cmdEvery, "2 1");
  EXPECT_EQ(countOf(out, "=== sample hp ==="), 2u);
}

}  // namespace
