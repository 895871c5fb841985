// Virtual time, event scheduling and interrupt delivery of the simulated board.
#include "board.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "adc_model.h"
#include "air_script.h"
#include "console.h"
#include "flash_model.h"
#include "gpio_model.h"
#include "llcc68_model.h"
#include "power_cut.h"
#include "radio_medium.h"
#include "radio_options.h"
#include "rtc_model.h"
#include "run_trace.h"
#include "state_store.h"
#include "systick_model.h"
#include "tim6_model.h"
#include "uart_model.h"

// The firmware's interrupt handlers, called by name as the vector table would. Weak, so that a
// handler the firmware does not define simply never runs.
extern "C" {
void SysTick_Handler(void) __attribute__((weak));
void DMA1_Channel1_IRQHandler(void) __attribute__((weak));
void DMA1_Channel2_3_IRQHandler(void) __attribute__((weak));
void USART1_IRQHandler(void) __attribute__((weak));
void TIM6_IRQHandler(void) __attribute__((weak));
void SPI1_IRQHandler(void) __attribute__((weak));
void RTC_TAMP_IRQHandler(void) __attribute__((weak));
}

namespace sim {

namespace {

Board* gBoard = nullptr;

constexpr int kIrqBias = 16;  // core exceptions have negative numbers

using Handler = void (*)(void);

Handler handlerFor(int irq) {
  switch (irq) {
    case SysTick_IRQn: return SysTick_Handler;
    case DMA1_Channel1_IRQn: return DMA1_Channel1_IRQHandler;
    case DMA1_Channel2_3_IRQn: return DMA1_Channel2_3_IRQHandler;
    case USART1_IRQn: return USART1_IRQHandler;
    case TIM6_IRQn: return TIM6_IRQHandler;
    case SPI1_IRQn: return SPI1_IRQHandler;
    case RTC_TAMP_IRQn: return RTC_TAMP_IRQHandler;
    default: return nullptr;
  }
}

uint64_t wallUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

Board::Board(const Options& options) : options_(options) {
  gBoard = this;
  console_ = std::make_unique<Console>(*this);
  uart1_ = std::make_unique<Uart>(*this);
  gpio_ = std::make_unique<Gpio>();
  sysTick_ = std::make_unique<SysTick>(*this);
  addDevice(uart1_.get());
  addDevice(sysTick_.get());
  adc_ = std::make_unique<Adc>(*this, options_);
  addDevice(adc_.get());
  {
    Scenario scenario;
    std::string ignored;  // checked when the command line was parsed
    if (parseScenario(options_.scenario, scenario, ignored)) adc_->frontEnd().setScenario(scenario);
  }
  if (options_.speed < 0) options_.speed = console_->isInteractive() ? 1.0 : 0.0;
  loadState();
  flash_ = std::make_unique<FlashModel>(*this, reinterpret_cast<uint8_t*>(__device_config_flash_start),
                                        options_.flashFaults);
  rtc_ = std::make_unique<RtcModel>(*this);
  tim6_ = std::make_unique<Tim6>(*this);
  addDevice(tim6_.get());
  paceBaseVirtualUs_ = nowUs_;
  paceBaseWallUs_ = wallUs();
  // The radio world: medium, scripted transmitter and the node's transceiver on SPI1.
  radioMedium_ = std::make_unique<RadioMedium>(*this);
  airScript_ = std::make_unique<AirScript>(*this, *radioMedium_);
  radio_ = std::make_unique<Llcc68Model>(*this, *radioMedium_, "node");
  addDevice(radioMedium_.get());
  addDevice(airScript_.get());
  addDevice(radio_.get());
  applyRadioOptions(*this);
  if (options_.powerCutAtUs >= 0) {
    powerCut_ = std::make_unique<PowerCut>(*this, static_cast<uint64_t>(options_.powerCutAtUs));
    addDevice(powerCut_.get());
  }
  trace_ = std::make_unique<RunTrace>(*this, csr_, sr1_);
  // The provisioning button is held at the start the user launched, and released on restart.
  if (options_.trace.buttonHeld && !trace_->continues()) gpio_->drive(3, 3, true);
}

void Board::skipTime(uint64_t us) {
  if (powerCut_ != nullptr && powerCut_->nextEventUs() <= nowUs_ + us) {
    nowUs_ = powerCut_->nextEventUs();
    powerCut_->fire(nowUs_);
  }
  nowUs_ += us;
}

Board::~Board() {
  if (gBoard == this) gBoard = nullptr;
}

Board& Board::instance() {
  if (gBoard == nullptr) {
    static Options defaults;
    defaults.console = ConsoleMode::capture;
    defaults.stateDir.clear();
    new Board(defaults);  // lives for the process, like the board itself
  }
  return *gBoard;
}

Board& Board::create(const Options& options) {
  delete gBoard;
  gBoard = nullptr;
  return *new Board(options);
}

std::string Board::statePath(const std::string& name) const {
  if (options_.stateDir.empty()) return std::string();
  return options_.stateDir + "/" + name;
}

void Board::loadState() {
  // A new state folder is a board that has never had power: power-on reset, erased flash,
  // cleared backup domain. An existing one without a restart record is the same board started
  // again by its reset pin. A restart record says exactly how the previous run ended.
  csr_ = RCC_CSR_PWRRSTF | RCC_CSR_PINRSTF;
  sr1_ = 0;
  if (options_.stateDir.empty()) return;
  const bool fresh = !holdsBoardState(options_.stateDir);
  makeStateDir(options_.stateDir);
  uint64_t clock = 0;
  if (readU64(statePath(kClockFile), clock)) nowUs_ = clock;
  if (fresh) return;
  std::string boot;
  if (readText(statePath("restart"), boot)) {
    unsigned long csr = 0, sr1 = 0;
    if (std::sscanf(boot.c_str(), "csr=%lx sr1=%lx", &csr, &sr1) == 2) {
      csr_ = static_cast<uint32_t>(csr);
      sr1_ = static_cast<uint32_t>(sr1);
    }
    removeFile(statePath("restart"));
  } else {
    csr_ = RCC_CSR_PINRSTF;
  }
}

void Board::saveState(ResetKind kind, uint32_t sr1Flags) {
  for (auto& hook : persistHooks_) hook(kind);
  if (options_.stateDir.empty()) return;
  writeU64(statePath(kClockFile), nowUs_);
  uint32_t csr = 0;
  switch (kind) {
    case ResetKind::powerOn: csr = RCC_CSR_PWRRSTF | RCC_CSR_PINRSTF; break;
    case ResetKind::pin: csr = RCC_CSR_PINRSTF; break;
    case ResetKind::software: csr = RCC_CSR_SFTRSTF | RCC_CSR_PINRSTF; break;
    case ResetKind::standbyWake: csr = 0; break;
  }
  // PWR_SR1 is cleared only by a power-on (or by software): flags not yet cleared stay.
  const uint32_t sr1 = kind == ResetKind::powerOn ? sr1Flags : (sr1_ | sr1Flags);
  char text[64];
  std::snprintf(text, sizeof text, "csr=%08x sr1=%08x\n", static_cast<unsigned>(csr), static_cast<unsigned>(sr1));
  writeText(statePath("restart"), text);
}

void Board::addPersistHook(std::function<void(ResetKind)> hook) { persistHooks_.push_back(std::move(hook)); }

void Board::setRestartHandler(std::function<void(ResetKind, uint32_t)> handler) {
  restartHandler_ = std::move(handler);
}

void Board::restart(ResetKind kind, uint32_t sr1Flags) {
  if (trace_) trace_->beforeRestart(kind);
  saveState(kind, sr1Flags);
  if (restartHandler_) {
    restartHandler_(kind, sr1Flags);
  }
  console_->prepareRestart();
  std::vector<char*> args;
  for (auto& a : options_.argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  if (!args.empty() && args[0] != nullptr) execv("/proc/self/exe", args.data());
  std::fprintf(stderr, "orvane-sim: restart failed: %s\n", std::strerror(errno));
  std::_Exit(3);
}

void Board::exitSim(int code, const char* reason) {
  if (trace_) trace_->finish(reason);
  // What survives is kept; the next launch of the same state folder is a pin reset.
  for (auto& hook : persistHooks_) hook(ResetKind::pin);
  if (!options_.stateDir.empty()) writeU64(statePath(kClockFile), nowUs_);
  std::fflush(nullptr);
  std::_Exit(code);
}

void Board::writeCsr(uint32_t value) {
  if (value & RCC_CSR_RMVF) csr_ &= 0x00FFFFFFu;  // remove-reset-flags clears bits 24..31
}

void Board::addDevice(Device* device) {
  devices_.push_back(device);
  quietUntilUs_ = 0;
}

void Board::pendIrq(IRQn_Type irq) {
  pending_ |= 1ull << (irq + kIrqBias);
  quietUntilUs_ = 0;
}

void Board::enableIrq(IRQn_Type irq, bool enable) {
  quietUntilUs_ = 0;
  if (enable)
    enabled_ |= 1ull << (irq + kIrqBias);
  else
    enabled_ &= ~(1ull << (irq + kIrqBias));
}

bool Board::irqEnabled(IRQn_Type irq) const { return (enabled_ >> (irq + kIrqBias)) & 1u; }

void Board::setPrimask(bool masked) {
  quietUntilUs_ = 0;
  primask_ = masked;
  if (!masked) deliverInterrupts();
}

void Board::deliverInterrupts() {
  if (primask_ || isrDepth_ > 0) return;
  // SysTick is a core exception: always enabled once configured.
  uint64_t ready = pending_ & (enabled_ | (1ull << (SysTick_IRQn + kIrqBias)));
  while (ready != 0) {
    const int bit = __builtin_ctzll(ready);
    pending_ &= ~(1ull << bit);
    Handler h = handlerFor(bit - kIrqBias);
    if (h != nullptr) {
      ++isrDepth_;
      h();
      --isrDepth_;
    }
    if (primask_) return;
    ready = pending_ & (enabled_ | (1ull << (SysTick_IRQn + kIrqBias)));
  }
}

uint64_t Board::nextEvent(bool includePeriodic) const {
  uint64_t next = kNever;
  for (const Device* d : devices_) {
    if (!includePeriodic && d->periodic()) continue;
    const uint64_t t = d->nextEventUs();
    if (t < next) next = t;
  }
  return next;
}

void Board::runDue() {
  // Fire every device whose time has come, in time order, until none is due.
  for (;;) {
    Device* due = nullptr;
    uint64_t best = kNever;
    for (Device* d : devices_) {
      const uint64_t t = d->nextEventUs();
      if (t <= nowUs_ && t < best) {
        best = t;
        due = d;
      }
    }
    if (due == nullptr) return;
    due->fire(nowUs_);
  }
}

void Board::pace(uint64_t targetUs) {
  if (options_.speed <= 0.0) return;
  const uint64_t wallTarget =
      paceBaseWallUs_ + static_cast<uint64_t>(static_cast<double>(targetUs - paceBaseVirtualUs_) / options_.speed);
  for (;;) {
    const uint64_t now = wallUs();
    if (now >= wallTarget) return;
    // Sleep, but wake for console input so that typing is seen while the firmware waits.
    if (console_->waitForInput(static_cast<int>((wallTarget - now + 999) / 1000))) return;
  }
}

void Board::advanceTo(uint64_t targetUs) {
  // Step event by event so that each happens at its own virtual time.
  while (nowUs_ < targetUs) {
    console_->pollInput();
    uint64_t next = nextEvent(true);
    uint64_t step = next < targetUs ? next : targetUs;
    if (step < nowUs_) step = nowUs_;
    if (trace_) {
      trace_->observe();
      if (step >= trace_->stopAtUs()) {
        pace(trace_->stopAtUs());
        nowUs_ = trace_->stopAtUs();
        exitSim(0, "stop-after");
      }
    }
    pace(step);
    nowUs_ = step;
    runDue();
    deliverInterrupts();
  }
  runDue();
  deliverInterrupts();
}

void Board::halCall(uint32_t costUs) {
  quietUntilUs_ = 0;  // the call goes on to act on a device
  advanceTo(nowUs_ + costUs);
}

void Board::halPoll(uint32_t costUs) {
  if (nowUs_ + costUs < quietUntilUs_) {
    nowUs_ += costUs;
    return;
  }
  advanceTo(nowUs_ + costUs);
  // Quiet until the next event, unless an interrupt waits (masked, or for the end of a handler).
  // (The end of the run counts as an event: a quiet span never runs past it.)
  quietUntilUs_ = pending_ == 0 ? std::min(nextEvent(true), trace_->stopAtUs()) : 0;
}

void Board::busyWait(uint64_t us) { advanceTo(nowUs_ + us); }

void Board::waitForInterrupt() {
  coreSleeping_ = true;
  struct Awake {
    bool& sleeping;
    ~Awake() { sleeping = false; }
  } awake{coreSleeping_};
  for (;;) {
    deliverInterrupts();
    // A pending enabled interrupt ends the sleep at once, even with interrupts masked.
    if ((pending_ & (enabled_ | (1ull << (SysTick_IRQn + kIrqBias)))) != 0) return;
    console_->pollInput();
    if (nextEvent(false) == kNever) {
      // Nothing but the tick is going to happen: the firmware is idle. Feed it console input,
      // or block until some arrives, so an idle shell costs no host CPU. In real time, the
      // ticks that fell due while blocked are caught up in one go when input arrives.
      if (console_->offerInput()) continue;
      if (console_->inputEnded()) exitSim(0);
      const uint64_t wallBefore = wallUs();
      // In real time an idle board still reaches the end of the run (--stop-after).
      int timeoutMs = -1;
      if (options_.speed > 0.0 && trace_ && trace_->stopAtUs() != UINT64_MAX) {
        const uint64_t left = trace_->stopAtUs() > nowUs_ ? trace_->stopAtUs() - nowUs_ : 0;
        timeoutMs = static_cast<int>(std::min<double>(static_cast<double>(left) / 1000.0 / options_.speed + 1, 1e9));
      }
      console_->waitForInput(timeoutMs);
      if (options_.speed > 0.0) {
        const uint64_t slept = static_cast<uint64_t>(static_cast<double>(wallUs() - wallBefore) * options_.speed);
        paceBaseVirtualUs_ = nowUs_ + slept;
        paceBaseWallUs_ = wallUs();
        advanceTo(nowUs_ + slept);
      }
      continue;
    }
    advanceTo(nextEvent(true));
    return;
  }
}

}  // namespace sim
