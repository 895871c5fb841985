// The simulated core: running, sleeping, resetting; the devices of the board around it.
#include "board.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "adc_model.h"
#include "air_script.h"
#include "console.h"
#include "dma_model.h"
#include "flash_model.h"
#include "fresh_image.h"
#include "gpio_model.h"
#include "llcc68_model.h"
#include "power_cut.h"
#include "radio_medium.h"
#include "radio_options.h"
#include "rtc_model.h"
#include "run_trace.h"
#include "spi_bus.h"
#include "systick_model.h"
#include "tim6_model.h"
#include "uart_model.h"

namespace sim {

Board* Board::current_ = nullptr;

Board::Board(const Options& options) : options_(options), reset_(options.stateDir) {
  current_ = this;
  console_ = std::make_unique<Console>(*this);
  dma1_ = std::make_unique<Dma>(*this, hostMemory());
  uart1_ = std::make_unique<Uart>(*this, *dma1_);
  gpio_ = std::make_unique<Gpio>();
  sysTick_ = std::make_unique<SysTick>(*this);
  addDevice(uart1_.get());
  addDevice(sysTick_.get());
  adc_ =
      std::make_unique<Adc>(*this, *dma1_, options_.seed, options_.chipId,
                            AnalogFrontEnd::Pins{Wiring::frontEndSupply, Wiring::rangeHighPower, Wiring::rangeLowPower,
                                                 Wiring::clampHighPower, Wiring::clampLowPower, Wiring::clampLowSide,
                                                 Wiring::eFieldCapacitive, Wiring::eFieldInductive});
  addDevice(adc_.get());
  if (options_.adcStallRows >= 0) adc_->setDmaOverrunAfter(options_.adcStallRows * 4, options_.adcStallCaptures);
  if (options_.speed < 0) options_.speed = console_->isInteractive() ? 1.0 : 0.0;
  scheduler_.setSpeed(options_.speed);
  {
    uint64_t clock = 0;
    reset_.load(clock);
    scheduler_.setNow(clock);
  }
  {
    Scenario scenario;
    std::string ignored;  // checked when the command line was parsed
    if (parseScenario(options_.scenario, scenario, ignored)) {
      adc_->frontEnd().setScenario(scaledForStart(scenario, options_.seed, nowUs()));
    }
  }
  flash_ = std::make_unique<FlashModel>(*this, reinterpret_cast<uint8_t*>(__device_config_flash_start),
                                        options_.flashFaults);
  rtc_ = std::make_unique<RtcModel>(*this);
  rtc_->setLsiHz(options_.lsiHz);
  tim6_ = std::make_unique<Tim6>(*this);
  addDevice(tim6_.get());
  scheduler_.rebase(scheduler_.now(), Scheduler::wallUs());
  // The radio world: medium, scripted transmitter and the node's transceiver on SPI1.
  radioMedium_ = std::make_unique<RadioMedium>();
  radioMedium_->onTransmit([this](const AirFrame& frame) { records().frameOnAir(frame); });
  airScript_ = std::make_unique<AirScript>(*this, *radioMedium_);
  radio_ = std::make_unique<Llcc68Model>(
      *this, *radioMedium_, "node", options_.seed,
      Llcc68Model::Pins{Wiring::radioSupply, Wiring::radioReset, Wiring::radioBusy, Wiring::radioCs});
  spi1_ = std::make_unique<SpiBus>(*gpio_);
  spi1_->attach(radio_.get(), Wiring::radioCs);
  addDevice(radioMedium_.get());
  addDevice(airScript_.get());
  addDevice(radio_.get());
  applyRadioOptions(options_, *radioMedium_, *airScript_, *radio_, nowUs());
  if (options_.powerCutAtUs >= 0) {
    powerCut_ = std::make_unique<PowerCut>(*this, static_cast<uint64_t>(options_.powerCutAtUs));
    addDevice(powerCut_.get());
  }
  trace_ = std::make_unique<RunTrace>(*this, reset_.csr(), reset_.sr1());
  // The provisioning button is held at the start the user launched, and released on restart.
  if (options_.trace.buttonHeld && !trace_->continues()) gpio_->drive(Wiring::provisioningButton, true);
}

void Board::skipTime(uint64_t us) {
  if (powerCut_ != nullptr && powerCut_->nextEventUs() <= nowUs() + us) {
    scheduler_.setNow(powerCut_->nextEventUs());
    powerCut_->fire(nowUs());
  }
  scheduler_.setNow(nowUs() + us);
}

Board::~Board() {
  if (current_ == this) current_ = nullptr;
}

Board& Board::instance() {
  if (current_ == nullptr) {
    static Options defaults;
    defaults.console = ConsoleMode::capture;
    defaults.stateDir.clear();
    new Board(defaults);  // lives for the process, like the board itself
  }
  return *current_;
}

Board& Board::create(const Options& options) {
  delete current_;
  current_ = nullptr;
  return *new Board(options);
}

DeviceRecords& Board::records() { return *trace_; }

std::string Board::statePath(const std::string& name) const { return reset_.path(name); }

void Board::addPersistHook(std::function<void(ResetKind)> hook) { reset_.addPersistHook(std::move(hook)); }

void Board::setRestartHandler(std::function<void(ResetKind, uint32_t)> handler) {
  restartHandler_ = std::move(handler);
}

void Board::restart(ResetKind kind, uint32_t sr1Flags) {
  if (trace_) trace_->beforeRestart(kind);
  reset_.save(kind, sr1Flags, nowUs());
  if (restartHandler_) {
    restartHandler_(kind, sr1Flags);
  }
  console_->prepareRestart();
  startInFreshImage(options_.argv);
}

void Board::exitSim(int code, const char* reason) {
  if (trace_) trace_->finish(reason);
  reset_.saveForExit(nowUs());
  std::fflush(nullptr);
  std::_Exit(code);
}

void Board::writeCsr(uint32_t value) { reset_.writeCsr(value); }

void Board::addDevice(Device* device) {
  scheduler_.add(device);
  quietUntilUs_ = 0;
}

void Board::pendIrq(IRQn_Type irq) {
  interrupts_.pend(irq);
  quietUntilUs_ = 0;
}

void Board::enableIrq(IRQn_Type irq, bool enable) {
  quietUntilUs_ = 0;
  interrupts_.enable(irq, enable);
}

bool Board::irqEnabled(IRQn_Type irq) const { return interrupts_.enabled(irq); }

void Board::setPrimask(bool masked) {
  quietUntilUs_ = 0;
  interrupts_.setPrimask(masked);
  if (!masked) interrupts_.deliver();
}

void Board::pace(uint64_t targetUs) {
  // Sleep, but wake for console input so that typing is seen while the firmware waits.
  scheduler_.pace(targetUs, [this](int ms) { return console_->waitForInput(ms); });
}

void Board::advanceTo(uint64_t targetUs) {
  // Step event by event so that each happens at its own virtual time. A step that ends before the
  // next event fires nothing (unless pacing fed console input meanwhile); after a last step whose
  // delivery ran no handler, nothing can have fallen due since.
  bool settled = false;
  while (nowUs() < targetUs) {
    console_->pollInput();
    uint64_t next = scheduler_.nextEvent(true);
    uint64_t step = next < targetUs ? next : targetUs;
    if (step < nowUs()) step = nowUs();
    if (trace_) {
      trace_->observe();
      if (step >= trace_->stopAtUs()) {
        pace(trace_->stopAtUs());
        scheduler_.setNow(trace_->stopAtUs());
        exitSim(0, "stop-after");
      }
    }
    pace(step);
    scheduler_.setNow(step);
    if (step >= next || options_.speed > 0.0) scheduler_.runDue();
    settled = !interrupts_.deliver();
  }
  if (settled) return;
  scheduler_.runDue();
  interrupts_.deliver();
}

void Board::halCall(uint32_t costUs) {
  quietUntilUs_ = 0;  // the call goes on to act on a device
  advanceTo(nowUs() + costUs);
}

void Board::halPollStep(uint32_t costUs) {
  advanceTo(nowUs() + costUs);
  // Quiet until the next event, unless an interrupt waits (masked, or for the end of a handler).
  // (The end of the run counts as an event: a quiet span never runs past it.)
  quietUntilUs_ = !interrupts_.anyPending() ? std::min(scheduler_.nextEvent(true), trace_->stopAtUs()) : 0;
}

void Board::busyWait(uint64_t us) {
  // Within the quiet span no device can fire: only the look at the records that a step starts with
  // is left (an event at the end of the call before may have changed what they show).
  if (nowUs() + us < quietUntilUs_) {
    if (trace_) trace_->observe();
    scheduler_.setNow(nowUs() + us);
    return;
  }
  advanceTo(nowUs() + us);
}

void Board::waitForInterrupt() {
  coreSleeping_ = true;
  struct Awake {
    bool& sleeping;
    ~Awake() { sleeping = false; }
  } awake{coreSleeping_};
  for (;;) {
    interrupts_.deliver();
    // A pending enabled interrupt ends the sleep at once, even with interrupts masked.
    if (interrupts_.anyReady()) return;
    console_->pollInput();
    if (scheduler_.nextEvent(false) == kNever) {
      // Nothing but the tick is going to happen: the firmware is idle. Feed it console input,
      // or block until some arrives, so an idle shell costs no host CPU. In real time, the
      // ticks that fell due while blocked are caught up in one go when input arrives.
      if (console_->offerInput()) continue;
      if (console_->inputEnded()) exitSim(0);
      const uint64_t wallBefore = Scheduler::wallUs();
      // In real time an idle board still reaches the end of the run (--stop-after).
      int timeoutMs = -1;
      if (options_.speed > 0.0 && trace_ && trace_->stopAtUs() != UINT64_MAX) {
        const uint64_t left = trace_->stopAtUs() > nowUs() ? trace_->stopAtUs() - nowUs() : 0;
        timeoutMs = static_cast<int>(std::min<double>(static_cast<double>(left) / 1000.0 / options_.speed + 1, 1e9));
      }
      console_->waitForInput(timeoutMs);
      if (options_.speed > 0.0) {
        const uint64_t slept =
            static_cast<uint64_t>(static_cast<double>(Scheduler::wallUs() - wallBefore) * options_.speed);
        scheduler_.rebase(nowUs() + slept, Scheduler::wallUs());
        advanceTo(nowUs() + slept);
      }
      continue;
    }
    advanceTo(scheduler_.nextEvent(true));
    return;
  }
}

}  // namespace sim
