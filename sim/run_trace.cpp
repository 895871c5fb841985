// Records of a run of orvane-sim: energy account, event log, VCD trace and the run's limit.
#include "run_trace.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "adc_model.h"
#include "board.h"
#include "gpio_model.h"
#include "llcc68_model.h"
#include "radio_medium.h"
#include "state_store.h"
#include "stm32g0xx_hal.h"

namespace sim {

namespace {

constexpr const char* kContinuesEnv = "ORVANE_SIM_RUN_CONTINUES";
constexpr const char* kCarryFile = "run-trace";

// The pins of the trace, by what they are wired to: radio supply and bus, antenna switches, front
// end, debug lines, button. Each wire is named by its role and its pin ("radio_supply_PA8").
struct TracedPin {
  const char* role;
  Wiring::Line line;
};
constexpr TracedPin kPins[] = {
    {"radio_supply", Wiring::radioSupply},
    {"radio_reset", Wiring::radioReset},
    {"radio_cs", Wiring::radioCs},
    {"radio_busy", Wiring::radioBusy},
    {"ant_tx", Wiring::radioAntTx},
    {"ant_rx", Wiring::radioAntRx},
    {"stage1_supply", Wiring::frontEndSupply},
    {"gain_s0", Wiring::gainSelect0},
    {"gain_s1", Wiring::gainSelect1},
    {"range_hp", Wiring::rangeHighPower},
    {"range_lp", Wiring::rangeLowPower},
    {"dbg1", Wiring::debug1},
    {"dbg2", Wiring::debug2},
    {"dbg3", Wiring::debug3},
    {"dbg4", Wiring::debug4},
    {"button", Wiring::provisioningButton},
};
constexpr size_t kPinCount = sizeof kPins / sizeof kPins[0];
constexpr int bitOf(const Wiring::Line& line) {
  for (size_t i = 0; i < kPinCount; ++i) {
    if (kPins[i].line == line) return static_cast<int>(i);
  }
  return -1;
}
constexpr int kRadioSupplyBit = bitOf(Wiring::radioSupply);
constexpr int kFrontEndSupplyBit = bitOf(Wiring::frontEndSupply);
static_assert(kRadioSupplyBit >= 0 && kFrontEndSupplyBit >= 0, "the supplies are traced");

// One-hot lanes of the power states after the pins, in this order.
constexpr const char* kStateNames[] = {"mcu_run",       "mcu_sleep", "mcu_standby", "radio_off", "radio_sleep",
                                       "radio_standby", "radio_fs",  "radio_rx",    "radio_tx",  "adc_converting"};
enum StateLane {
  laneRun,
  laneSleep,
  laneStandby,
  laneRadioOff,
  laneRadioSleep,
  laneRadioStandby,
  laneFs,
  laneRx,
  laneTx,
  laneAdc
};

using Mode = Llcc68Model::Mode;

int radioLane(uint8_t mode) {
  switch (static_cast<Mode>(mode)) {
    case Mode::off: return laneRadioOff;
    case Mode::sleep: return laneRadioSleep;
    case Mode::fs: return laneFs;
    case Mode::rx: return laneRx;
    case Mode::tx: return laneTx;
    default: return laneRadioStandby;  // standby, and reset or boot (powered, not yet running)
  }
}

const char* radioModeName(uint8_t mode, bool warm) {
  switch (static_cast<Mode>(mode)) {
    case Mode::off: return "off";
    case Mode::reset: return "reset";
    case Mode::booting: return "booting";
    case Mode::sleep: return warm ? "sleep-warm" : "sleep-cold";
    case Mode::stbyRc: return "standby-rc";
    case Mode::stbyXosc: return "standby-xosc";
    case Mode::fs: return "fs";
    case Mode::rx: return "rx";
    case Mode::tx: return "tx";
  }
  return "?";
}

const char* startKind(uint32_t csr, uint32_t sr1) {
  if (csr & HAL_RESET_FLAG_POWER_ON) return "power-on";
  if (csr & HAL_RESET_FLAG_SOFTWARE) return "software-reset";
  if (csr & HAL_RESET_FLAG_PIN) return "pin-reset";
  if (sr1 & HAL_WAKE_FLAG_STANDBY) return "standby-wake";
  return "other";
}

// A wire by its role and its pin: "radio_supply_PA8".
std::string signalName(const TracedPin& p) {
  return std::string(p.role) + "_P" + static_cast<char>('A' + static_cast<int>(p.line.port)) +
         std::to_string(p.line.index);
}

std::vector<std::string> signalNames() {
  std::vector<std::string> names;
  for (const TracedPin& p : kPins) names.push_back(signalName(p));
  for (const char* s : kStateNames) names.push_back(s);
  return names;
}

}  // namespace

RunTrace::RunTrace(Board& board, uint32_t csr, uint32_t sr1) : board_(board) {
  const TraceOptions& o = board_.options().trace;
  const char* env = std::getenv(kContinuesEnv);
  continues_ = env != nullptr && env[0] == '1';
  ::unsetenv(kContinuesEnv);
  runStartUs_ = board_.nowUs();
  if (continues_) {
    loadCarry();
  } else {
    removeFile(carryPath());
    if (o.stopAfterS >= 0) stopAtUs_ = runStartUs_ + static_cast<uint64_t>(o.stopAfterS * 1e6 + 0.5);
  }
  if (!o.eventsPath.empty() && !events_.open(o.eventsPath)) {
    std::fprintf(stderr, "orvane-sim: cannot write the event log %s\n", o.eventsPath.c_str());
  }
  if (!o.vcdPath.empty() && !vcd_.open(o.vcdPath, signalNames(), continues_)) {
    std::fprintf(stderr, "orvane-sim: cannot write the VCD trace %s\n", o.vcdPath.c_str());
  }
  events_.write(events_.line(board_.nowUs(), "start")
                    .text("kind", startKind(csr, sr1))
                    .word("csr", csr)
                    .word("sr1", sr1)
                    .number("cycle", static_cast<int64_t>(cycles_)));
  last_ = take();
  lastUs_ = board_.nowUs();
  record(last_, last_, true);
}

std::string RunTrace::carryPath() const { return board_.statePath(kCarryFile); }

void RunTrace::loadCarry() {
  std::string text;
  if (!readText(carryPath(), text)) return;
  removeFile(carryPath());
  std::istringstream in(text);
  std::string key;
  while (in >> key) {
    if (key == "run_start_us") {
      in >> runStartUs_;
    } else if (key == "stop_at_us") {
      in >> stopAtUs_;
    } else if (key == "cycles") {
      in >> cycles_;
      ++cycles_;  // this start begins the next one
    } else if (key == "frames_uc") {
      in >> framesUc_;
    } else if (key == "account") {
      std::string rest;
      std::getline(in, rest);
      (void)account_.parse(rest);
    }
  }
}

RunTrace::Snapshot RunTrace::take() const {
  Snapshot s;
  const Gpio& gpio = board_.pinLevels();
  if (gpio.changes() != pinsAtChange_) {
    pins_ = 0;
    for (size_t i = 0; i < kPinCount; ++i) {
      if (gpio.level(kPins[i].line)) pins_ |= 1u << i;
    }
    pinsAtChange_ = gpio.changes();
  }
  s.pins = pins_;
  s.core = board_.coreSleeping() ? 1 : 0;
  const Llcc68Model& radio = board_.radioState();
  s.radio = static_cast<uint8_t>(radio.mode());
  s.warm = radio.warmSleep();
  s.txDbm = static_cast<int8_t>(radio.txPowerDbm());
  s.adc = board_.adcState().running();
  return s;
}

void RunTrace::account(const Snapshot& s, uint64_t us) {
  if (us == 0) return;
  account_.add(s.core == 2 ? Drain::mcuStandby : s.core == 1 ? Drain::mcuSleep : Drain::mcuRun, us);
  switch (static_cast<Mode>(s.radio)) {
    case Mode::off: break;
    case Mode::sleep: account_.add(s.warm ? Drain::radioSleepWarm : Drain::radioSleepCold, us); break;
    case Mode::stbyXosc: account_.add(Drain::radioStandbyXosc, us); break;
    case Mode::fs: account_.add(Drain::radioFs, us); break;
    case Mode::rx: account_.add(Drain::radioRx, us); break;
    case Mode::tx: account_.addTx(s.txDbm, us); break;
    default: account_.add(Drain::radioStandbyRc, us); break;
  }
  if (s.pins & (1u << kFrontEndSupplyBit)) account_.add(Drain::frontEnd, us);
  if (s.adc) account_.add(Drain::adc, us);
}

void RunTrace::record(const Snapshot& before, const Snapshot& after, bool all) {
  const uint64_t now = board_.nowUs();
  if (vcd_.isOpen()) {
    for (size_t i = 0; i < kPinCount; ++i) vcd_.set(now, i, (after.pins >> i) & 1u, all);
    const int radio = radioLane(after.radio);
    for (int lane = laneRun; lane <= laneAdc; ++lane) {
      bool on;
      if (lane <= laneStandby) {
        on = after.core == lane - laneRun;
      } else if (lane == laneAdc) {
        on = after.adc;
      } else {
        on = lane == radio;
      }
      vcd_.set(now, kPinCount + static_cast<size_t>(lane), on, all);
    }
  }
  if (!events_.isOpen()) return;
  const uint32_t changed = before.pins ^ after.pins;
  for (int bit : {kRadioSupplyBit, kFrontEndSupplyBit}) {
    if (all || (changed >> bit & 1u)) {
      events_.write(events_.line(now, "supply")
                        .text("rail", bit == kRadioSupplyBit ? "radio" : "front-end")
                        .flag("on", (after.pins >> bit) & 1u));
    }
  }
  const bool radioChanged =
      before.radio != after.radio || (after.radio == static_cast<uint8_t>(Mode::sleep) && before.warm != after.warm);
  if (all || radioChanged) {
    EventLog::Line l = events_.line(now, "radio").text("mode", radioModeName(after.radio, after.warm));
    if (after.radio == static_cast<uint8_t>(Mode::tx)) l.number("power_dbm", after.txDbm);
    events_.write(l);
  }
}

void RunTrace::observe() {
  if (finished_ || inStandby_) return;
  const Snapshot now = take();
  if (now == last_) return;
  account(last_, board_.nowUs() - lastUs_);
  record(last_, now, false);
  last_ = now;
  lastUs_ = board_.nowUs();
}

void RunTrace::standby(uint64_t wakeUs, uint64_t periods, uint64_t periodNs) {
  observe();
  const uint64_t from = board_.nowUs();
  // The traced pins nothing holds in standby (the chip lets go of its pins; PWR's pulls may hold some).
  std::string floating;
  const Gpio& gpio = board_.gpio();
  for (const TracedPin& p : kPins) {
    if (gpio.standbyPull(p.line) != PinPull::none) continue;
    if (!floating.empty()) floating += ' ';
    floating += signalName(p);
  }
  events_.write(events_.line(from, "standby")
                    .number("wake_us", static_cast<int64_t>(wakeUs))
                    .number("periods", static_cast<int64_t>(periods))
                    .real("period_s", static_cast<double>(periodNs) / 1e9)
                    .text("floating", floating));
  // In standby the board's switches fall off (held low, or floating): only the core's standby
  // current remains. A pin pulled up shows high.
  account(last_, from - lastUs_);
  Snapshot down;
  down.core = 2;
  down.radio = static_cast<uint8_t>(Mode::off);
  for (size_t i = 0; i < kPinCount; ++i) {
    if (gpio.standbyPull(kPins[i].line) == PinPull::up) down.pins |= 1u << i;
  }
  record(last_, down, false);
  last_ = down;
  lastUs_ = from;
  inStandby_ = true;
}

void RunTrace::frameOnAir(const AirFrame& frame) {
  if (frame.sender != board_.radioState().endpointName()) return;
  const uint64_t toa = frame.endUs - frame.startUs;
  framesUc_ += static_cast<double>(toa) * txCurrentMa(frame.powerDbm) / 1000.0;
  if (!events_.isOpen()) return;
  events_.write(events_.line(frame.startUs, "frame-sent")
                    .number("len", static_cast<int64_t>(frame.bytes.size()))
                    .number("power_dbm", frame.powerDbm)
                    .number("toa_us", static_cast<int64_t>(toa))
                    .hex("hex", frame.bytes.data(), frame.bytes.size()));
}

void RunTrace::frameReceived(const AirFrame& frame, const Reception& rx, bool crcOk) {
  if (!events_.isOpen()) return;
  events_.write(events_.line(board_.nowUs(), "frame-received")
                    .text("sender", frame.sender)
                    .number("len", static_cast<int64_t>(frame.bytes.size()))
                    .real("rssi_dbm", rx.rssiDbm)
                    .real("snr_db", rx.snrDb)
                    .flag("crc_ok", crcOk)
                    .hex("hex", frame.bytes.data(), frame.bytes.size()));
}

// Lines are built only for an open log: a committed record programs 16 double words.
void RunTrace::flashErase(uint32_t page) {
  if (!events_.isOpen()) return;
  events_.write(events_.line(board_.nowUs(), "flash-erase").number("page", page));
}

void RunTrace::flashProgram(size_t offset, uint64_t value) {
  if (!events_.isOpen()) return;
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  events_.write(events_.line(board_.nowUs(), "flash-program")
                    .number("offset", static_cast<int64_t>(offset))
                    .hex("bytes", bytes, 8));
}

void RunTrace::beforeRestart(ResetKind) {
  observe();
  account(last_, board_.nowUs() - lastUs_);
  lastUs_ = board_.nowUs();
  vcd_.flush();
  if (carryPath().empty()) return;
  std::ostringstream out;
  out << "run_start_us " << runStartUs_ << "\nstop_at_us " << stopAtUs_ << "\ncycles " << cycles_ << "\nframes_uc "
      << framesUc_ << "\naccount " << account_.serialise() << "\n";
  writeText(carryPath(), out.str());
  ::setenv(kContinuesEnv, "1", 1);
}

double RunTrace::floorUcPerCycle() const {
  const double cycles = static_cast<double>(cycles_);
  const double runUs = static_cast<double>(board_.nowUs() - runStartUs_);
  const double captureMa = kCurrents[static_cast<size_t>(Drain::adc)].currentMa +
                           kCurrents[static_cast<size_t>(Drain::frontEnd)].currentMa +
                           kCurrents[static_cast<size_t>(Drain::mcuSleep)].currentMa;
  const double standbyMa = kCurrents[static_cast<size_t>(Drain::mcuStandby)].currentMa;
  return framesUc_ / cycles + static_cast<double>(kCaptureUs) * captureMa / 1000.0 +
         runUs / cycles * standbyMa / 1000.0;
}

void RunTrace::finish(const char* reason) {
  if (finished_) return;
  observe();
  account(last_, board_.nowUs() - lastUs_);
  lastUs_ = board_.nowUs();
  finished_ = true;
  events_.write(events_.line(board_.nowUs(), "end").text("reason", reason));
  vcd_.flush();
  const TraceOptions& o = board_.options().trace;
  if (o.energyReport) {
    const std::string text = account_.report(board_.nowUs() - runStartUs_, cycles_, o.batteryMah, floorUcPerCycle());
    std::fputs(text.c_str(), stderr);
  }
}

}  // namespace sim
