// The simulated board's devices on a stand-in host: they need nothing of the board but what
// sim/device_host.h lists (this test links the devices' library alone). Timer periods are checked
// against the reference manual's formula: an update every (PSC + 1) x (ARR + 1) clock periods.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "device_host.h"
#include "gpio_model.h"
#include "tim6_model.h"

namespace {

class StandInHost : public sim::DeviceHost, public sim::DeviceRecords {
 public:
  uint64_t now = 0;
  uint32_t pclk = 16000000;
  std::vector<IRQn_Type> pended;

  uint64_t nowUs() const override { return now; }
  uint32_t pclkHz() const override { return pclk; }
  void pendIrq(IRQn_Type irq) override { pended.push_back(irq); }
  sim::Gpio& gpio() override { return gpio_; }
  std::string statePath(const std::string&) const override { return {}; }
  void busyWait(uint64_t us) override { now += us; }
  [[noreturn]] void restart(sim::ResetKind, uint32_t) override { std::abort(); }
  void addPersistHook(std::function<void(sim::ResetKind)>) override {}
  sim::DeviceRecords& records() override { return *this; }
  void frameOnAir(const sim::AirFrame&) override {}
  void frameReceived(const sim::AirFrame&, const sim::Reception&, bool) override {}
  void flashErase(uint32_t) override {}
  void flashProgram(size_t, uint64_t) override {}

  // Runs the device's events up to `us`.
  void runTo(sim::Device& device, uint64_t us) {
    while (device.nextEventUs() <= us) {
      now = device.nextEventUs();
      device.fire(now);
    }
    now = us;
  }

 private:
  sim::Gpio gpio_;
};

TEST(Tim6Model, UpdatesEveryPrescaledReloadPeriod) {
  struct Case {
    uint32_t pclk, psc, arr;
    uint64_t periodUs;
  };
  const Case cases[] = {
      {16000000, 15999, 999, 1000000},  // 1 kHz count, 1000 counts
      {64000000, 63, 4999, 5000},       // 1 MHz count, 5000 counts
      {16000000, 1599, 65535, 6553600}, // the longest reload at 10 kHz
  };
  for (const Case& c : cases) {
    StandInHost host;
    host.pclk = c.pclk;
    sim::Tim6 tim(host);
    tim.setPrescaler(c.psc);
    tim.setAutoReload(c.arr);
    tim.enableUpdateInterrupt(true);
    tim.start();
    EXPECT_EQ(tim.nextEventUs(), c.periodUs) << c.psc << "/" << c.arr;
    host.runTo(tim, 3 * c.periodUs);
    EXPECT_EQ(host.pended, (std::vector<IRQn_Type>{TIM6_IRQn, TIM6_IRQn, TIM6_IRQn})) << c.psc << "/" << c.arr;
    EXPECT_TRUE(tim.updateFlag());
  }
}

TEST(Tim6Model, CountsBetweenUpdatesAndRaisesNoInterruptWithoutUie) {
  StandInHost host;
  sim::Tim6 tim(host);
  tim.setPrescaler(15999);  // 1 kHz at 16 MHz
  tim.setAutoReload(999);
  tim.start();
  host.runTo(tim, 250000);
  EXPECT_EQ(tim.counter(), 250u);
  host.runTo(tim, 1250000);
  EXPECT_EQ(tim.counter(), 250u);  // wrapped once at 1000
  EXPECT_TRUE(tim.updateFlag());
  EXPECT_TRUE(host.pended.empty());
  tim.setAutoReload(0);  // a reload of 0 stops the counter
  EXPECT_EQ(tim.nextEventUs(), sim::kNever);
}

}  // namespace
