// The image's fatal-error path ends, on the emulated chip, whatever stops answering, and wherever
// the millisecond tick stands. After a normal start the converter stops answering; "print temp" sets
// it up again, which fails, and the image enters its fatal-error path: interrupts masked, the
// converter stopped and de-initialised, the wake-up timer set, standby. With the converter still
// silent, every one of those waits must end on its own, within a bounded time:
// - the converter silent, or never stopping: the chip enters standby (deep sleep, standby mode, with
//   interrupts masked) and wakes from it 6 s later;
// - and the wake-up timer never writable: standby cannot be armed, so the core asks for a reset.
// The path runs for a fraction of a millisecond with interrupts masked; the tick may fall due in that
// time, and then waits pending when the core asks for standby. A pending interrupt ends a WFI at
// once, even masked: the chip would never get into standby. So each case runs at eight phases of the
// tick, an eighth of a millisecond apart.
#include <gtest/gtest.h>

#include "adc_model.h"
#include "image_on_chip.h"
#include "pwr_front.h"
#include "reg_pwr.h"
#include "rtc_model.h"

namespace {

using emu_test::ImageOnChip;
using emu_test::Restarted;

struct Case {
  const char* name;
  bool adcSilent;     // nothing of the converter answers
  bool adcStopStuck;  // a stop or disable never completes
  bool rtcWakeUpStuck;
  sim::ResetKind ends;  // standby's wake-up, or a system reset
};

constexpr uint64_t kPathLimitMs = 2000;  // every wait of the path is a few milliseconds at most
constexpr int kTickPhases = 8;

class FatalPath : public testing::TestWithParam<std::tuple<Case, int>> {};

TEST_P(FatalPath, EndsInStandbyOrAResetNeverInAWaitForTheTick) {
  const Case& c = std::get<0>(GetParam());
  const int phase = std::get<1>(GetParam());
  ImageOnChip on;
  ASSERT_TRUE(on.runUntilShown("\nnote:", 2000));
  ASSERT_TRUE(on.runUntil([](const std::string& out) { return out.back() == '\n'; }, 100));
  // The command goes in at a chosen point of the tick's millisecond.
  const uint64_t at = (on.board().nowUs() / 1000 + 2) * 1000 + static_cast<uint64_t>(phase) * 1000 / kTickPhases;
  ASSERT_TRUE(on.runUntilTime(at));

  // At the restart: how the core left (PRIMASK, the low-power mode PWR_CR1 selects), and when.
  bool masked = false;
  uint32_t lowPowerMode = 0;
  on.board().setRestartHandler([&](sim::ResetKind kind, uint32_t) {
    masked = [&] {
      uint32_t primask = 0;
      uc_reg_read(on.chip().core().uc(), UC_ARM_REG_PRIMASK, &primask);
      return (primask & 1u) != 0;
    }();
    lowPowerMode = on.chip().peek(PWR_BASE) & PWR_CR1_LPMS;
    throw Restarted{kind};
  });
  on.board().adc().setUnresponsive(c.adcSilent);
  on.board().adc().setStopStuck(c.adcStopStuck);
  on.board().rtc().failWakeUpTimer(c.rtcWakeUpStuck);
  const uint64_t fromUs = on.board().nowUs();
  on.type("print temp\r\n");
  try {
    on.runUntil([](const std::string&) { return false; }, kPathLimitMs);
    FAIL() << c.name << ": neither standby nor a reset within " << kPathLimitMs << " ms; console:\n"
           << on.console().substr(on.console().size() > 600 ? on.console().size() - 600 : 0);
  } catch (const Restarted& r) {
    EXPECT_EQ(static_cast<int>(r.kind), static_cast<int>(c.ends))
        << c.name << " at phase " << phase << ": " << (r.kind == sim::ResetKind::standbyWake ? "standby" : "a system reset") << " after "
        << (on.board().nowUs() - fromUs) / 1000 << " ms";
    if (c.ends == sim::ResetKind::standbyWake && r.kind == c.ends) {
      EXPECT_TRUE(masked) << "standby entered with interrupts masked (the fatal-error path)";
      EXPECT_EQ(lowPowerMode, PWR_CR1_LPMS_STANDBY);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Silent, FatalPath,
                         testing::Combine(testing::Values(Case{"adc-stop", false, true, false, sim::ResetKind::standbyWake},
                                                          Case{"adc", true, false, false, sim::ResetKind::standbyWake},
                                                          Case{"adc-stop+rtc-wakeup", false, true, true,
                                                               sim::ResetKind::software}),
                                          testing::Range(0, kTickPhases)),
                         [](const testing::TestParamInfo<std::tuple<Case, int>>& i) {
                           std::string n = std::get<0>(i.param).name;
                           for (char& ch : n) {
                             if (ch == '-' || ch == '+') ch = '_';
                           }
                           return n + "_phase" + std::to_string(std::get<1>(i.param));
                         });

// A converter that never answers from power-on: the start's calibration fails, the start reports it
// on the console and takes the fatal-error path, which must end in standby (from which the start is
// tried again 6 s later), not in a reset that tries again at once, over and over.
TEST(FatalPathAtStart, EndsInStandby) {
  ImageOnChip on;
  on.board().adc().setUnresponsive(true);
  bool masked = false;
  on.board().setRestartHandler([&](sim::ResetKind kind, uint32_t) {
    uint32_t primask = 0;
    uc_reg_read(on.chip().core().uc(), UC_ARM_REG_PRIMASK, &primask);
    masked = (primask & 1u) != 0;
    throw Restarted{kind};
  });
  try {
    on.runUntil([](const std::string&) { return false; }, kPathLimitMs);
    FAIL() << "neither standby nor a reset; console:\n" << on.console();
  } catch (const Restarted& r) {
    EXPECT_NE(on.console().find("calibration error!"), std::string::npos) << on.console();
    EXPECT_EQ(static_cast<int>(r.kind), static_cast<int>(sim::ResetKind::standbyWake))
        << "the start's fatal error ended in " << (r.kind == sim::ResetKind::standbyWake ? "standby" : "a reset");
    EXPECT_TRUE(masked);
  }
}

}  // namespace
