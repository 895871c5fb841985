// The simulated board: the core running, sleeping and restarting on its rooms (scheduler.h,
// interrupt_controller.h, reset_state.h) and the devices around it. One instance per process; the
// hardware layer's sim backend calls into it on every HAL call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device_host.h"
#include "interrupt_controller.h"
#include "options.h"
#include "reset_state.h"
#include "scheduler.h"
#include "stm32g0xx_hal_cortex.h"
#include "stm32g0xx_hal_rcc.h"

namespace sim {

class Console;
class Dma;
class Uart;
class Gpio;
class SysTick;
class RadioMedium;
class AirScript;
class Llcc68Model;
class Adc;
class FlashModel;
class RtcModel;
class Tim6;
class PowerCut;
class RunTrace;
class SpiBus;

class Board final : public DeviceHost {
 public:
  explicit Board(const Options& options);
  ~Board();

  static Board& instance();
  // The board of this process, when one has been made.
  static Board* current() { return current_; }
  // Create the board (replacing any previous one; tests use this between cases).
  static Board& create(const Options& options);

  const Options& options() const { return options_; }
  uint64_t nowUs() const override { return scheduler_.now(); }
  uint32_t pclkHz() const override { return HAL_RCC_GetPCLK1Freq(); }

  // Every HAL call costs a little virtual time, so busy-waits always end.
  void halCall(uint32_t costUs = 1);
  // A HAL call that only reads (a pin level, the tick) at the same cost. While no event can fall
  // due and nothing has reached a device since the last such read, time just moves on: a loop of
  // reads (a 100 ms BUSY wait is 100 000 of them) then costs what it costs, not a round over every
  // device each time, and every event still happens at its own virtual time.
  void halPoll(uint32_t costUs = 1) {
    // Inline: a polling loop of the firmware (a BUSY wait that runs out) calls it 100 000 times.
    if (scheduler_.now() + costUs < quietUntilUs_) {
      scheduler_.setNow(scheduler_.now() + costUs);
      return;
    }
    halPollStep(costUs);
  }
  // Let `us` of virtual time pass while the core runs (delivering what falls due). Within the quiet
  // span of halPoll it costs no round over the devices.
  void busyWait(uint64_t us) override;
  // Core sleep until an interrupt is taken. Returns once one has been delivered.
  void waitForInterrupt();
  // Let `us` pass with the core powered down (standby): nothing runs and no device fires, but a
  // timed power cut that falls in that time happens then (a power-on instead of the wake-up).
  void skipTime(uint64_t us);

  void addDevice(Device* device);
  // Virtual time of the next thing a device will do (periodic ones included), or kNever.
  uint64_t nextEventUs() const { return scheduler_.nextEvent(true); }

  // Interrupt controller.
  InterruptController& interrupts() { return interrupts_; }
  void pendIrq(IRQn_Type irq) override;
  void enableIrq(IRQn_Type irq, bool enable);
  bool irqEnabled(IRQn_Type irq) const;
  void setPrimask(bool masked);
  bool primask() const { return interrupts_.primask(); }

  // Reset flags of this start (RCC_CSR) and wake-up flags (PWR_SR1).
  uint32_t csr() const { return reset_.csr(); }
  void writeCsr(uint32_t value);
  uint32_t sr1() const { return reset_.sr1(); }
  void clearSr1(uint32_t mask) { reset_.sr1() &= ~mask; }

  // Restart the firmware from its entry point in a fresh process image, as a reset would.
  [[noreturn]] void restart(ResetKind kind, uint32_t sr1Flags = 0) override;
  // Leave the simulator (end of input while idle, the operator quit, or the end of the run).
  [[noreturn]] void exitSim(int code, const char* reason = "end of input");
  // Called before a restart or exit: models persist what survives (flash, backup registers).
  void addPersistHook(std::function<void(ResetKind)> hook) override;
  // Tests replace the process restart with their own handling.
  void setRestartHandler(std::function<void(ResetKind, uint32_t)> handler);

  // Whoever reaches a device may change what it does next: each access ends the quiet span of
  // halPoll. Reading pin levels does not.
  Console& console() { return touched(*console_); }
  Dma& dma1() { return touched(*dma1_); }
  Uart& uart1() { return touched(*uart1_); }
  Gpio& gpio() override { return touched(*gpio_); }
  const Gpio& pinLevels() const { return *gpio_; }
  // Looks that change nothing (a polling loop, the run's records): they keep the quiet span.
  const Adc& adcState() const { return *adc_; }
  const Llcc68Model& radioState() const { return *radio_; }
  SysTick& sysTick() { return touched(*sysTick_); }
  RadioMedium& radioMedium() { return touched(*radioMedium_); }
  AirScript& airScript() { return touched(*airScript_); }
  Llcc68Model& radio() { return touched(*radio_); }
  Adc& adc() { return touched(*adc_); }
  FlashModel& flash() { return touched(*flash_); }
  RtcModel& rtc() { return touched(*rtc_); }
  Tim6& tim6() { return touched(*tim6_); }
  SpiBus& spi1() { return touched(*spi1_); }
  // The run's records (energy, events, VCD) and its end (sim/run_trace.h).
  RunTrace& trace() { return *trace_; }
  DeviceRecords& records() override;
  bool coreSleeping() const { return coreSleeping_; }
  // When the next interrupt-raising event falls due (kNever: none is scheduled).
  uint64_t nextInterruptUs() const { return scheduler_.nextEvent(false); }
  std::string statePath(const std::string& name) const override;

 private:
  void advanceTo(uint64_t targetUs);
  void halPollStep(uint32_t costUs);
  void pace(uint64_t targetUs);

  template <typename T>
  T& touched(T& device) {
    quietUntilUs_ = 0;
    return device;
  }

  static Board* current_;
  Options options_;
  Scheduler scheduler_;
  uint64_t quietUntilUs_ = 0;  // halPoll: no event before this, and no device touched since
  InterruptController interrupts_;
  ResetState reset_;
  std::function<void(ResetKind, uint32_t)> restartHandler_;
  std::unique_ptr<Console> console_;
  std::unique_ptr<Dma> dma1_;
  std::unique_ptr<Uart> uart1_;
  std::unique_ptr<Gpio> gpio_;
  std::unique_ptr<SysTick> sysTick_;
  std::unique_ptr<RadioMedium> radioMedium_;
  std::unique_ptr<AirScript> airScript_;
  std::unique_ptr<Llcc68Model> radio_;
  std::unique_ptr<Adc> adc_;
  std::unique_ptr<FlashModel> flash_;
  std::unique_ptr<RtcModel> rtc_;
  std::unique_ptr<Tim6> tim6_;
  std::unique_ptr<SpiBus> spi1_;
  std::unique_ptr<PowerCut> powerCut_;
  std::unique_ptr<RunTrace> trace_;
  bool coreSleeping_ = false;
};

inline Board& board() {
  Board* b = Board::current();
  return b != nullptr ? *b : Board::instance();
}

}  // namespace sim
