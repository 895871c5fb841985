// The LLCC68 transceiver model: pins, SPI command set, modes, registers, buffer, IRQ flags,
// transmission and reception through the medium, and fault injection.
#include "llcc68_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gpio_model.h"
#include "llcc68_commands.h"

namespace sim {

namespace {

// Registers the model gives a meaning or a reset value to.
constexpr uint16_t kRegRetentionList = 0x029F;
constexpr uint16_t kRegIqPolarity = 0x0736;
constexpr uint16_t kRegSyncWord = 0x0740;
constexpr uint16_t kRegRng = 0x0819;
constexpr uint16_t kRegTxModulation = 0x0889;
constexpr uint16_t kRegRxGain = 0x08AC;
constexpr uint16_t kRegTxClamp = 0x08D8;
constexpr uint16_t kRegAnaLna = 0x08E2;
constexpr uint16_t kRegAnaMixer = 0x08E5;

// Reset values. Sync word 0x1424 is the chip's private LoRa sync word (0x12); the others are this
// model's choice where the datasheet does not give one.
const std::map<uint16_t, uint8_t> kRegisterDefaults = {
    {kRegIqPolarity, 0x0D}, {kRegSyncWord, 0x14}, {kRegSyncWord + 1, 0x24}, {kRegTxModulation, 0x03},
    {kRegRxGain, 0x94},     {kRegTxClamp, 0xC8},  {kRegAnaLna, 0x25},       {kRegAnaMixer, 0x87},
};
// Lost by a warm-start sleep unless the retention list holds them.
constexpr uint16_t kVolatileRegisters[] = {kRegRxGain, kRegTxModulation, kRegIqPolarity};

constexpr uint8_t kCmdDataAvailable = 2;
constexpr uint8_t kCmdProcessError = 4;
constexpr uint8_t kCmdTxDone = 6;

constexpr uint16_t kIrqTxDone = 0x001, kIrqRxDone = 0x002, kIrqPreamble = 0x004, kIrqSyncWord = 0x008,
                   kIrqHeaderValid = 0x010, kIrqHeaderError = 0x020, kIrqCrcError = 0x040, kIrqTimeout = 0x200;

constexpr uint32_t kRxContinuous = 0xFFFFFF;
constexpr double kRtcStepUs = 15.625;  // 64 kHz

// Bytes a command needs, opcode included (0: any length).
size_t minimumLength(uint8_t op) {
  switch (op) {
    case Op::SetSleep:
    case Op::SetStandby:
    case Op::SetPacketType:
    case Op::SetDio2AsRfSwitchCtrl:
    case Op::SetRegulatorMode:
    case Op::StopTimerOnPreamble:
    case Op::SetLoRaSymbNumTimeout:
    case Op::SetRxTxFallbackMode:
    case Op::Calibrate:
    case Op::WriteBuffer: return 2;
    case Op::CalibrateImage:
    case Op::SetTxParams:
    case Op::SetBufferBaseAddress:
    case Op::ClearIrqStatus:
    case Op::ClearDeviceErrors: return 3;
    case Op::SetTx:
    case Op::SetRx:
    case Op::WriteRegister: return 4;
    case Op::SetPaConfig:
    case Op::SetRfFrequency:
    case Op::SetModulationParams: return 5;
    case Op::SetPacketParams: return 7;
    case Op::SetDioIrqParams: return 9;
    default: return 1;
  }
}

}  // namespace

Llcc68Model::Llcc68Model(DeviceHost& board, RadioMedium& medium, std::string name, uint64_t seed, const Pins& pins)
    : board_(board), medium_(medium), name_(std::move(name)), pins_(pins), rng_(static_cast<uint32_t>(seed)) {
  Gpio& gpio = board_.gpio();
  supply_ = false;
  resetLow_ = !gpio.level(pins_.reset);
  csLow_ = !gpio.level(pins_.cs);
  gpio.watch(pins_.supply, [this](bool level) { onSupply(level); });
  gpio.watch(pins_.reset, [this](bool level) { onReset(level); });
  gpio.watch(pins_.cs, [this](bool level) { onChipSelect(level); });
  medium_.attach(this);
  onSupply(gpio.level(pins_.supply));
  refreshBusy();
}

Llcc68Model::~Llcc68Model() { medium_.detach(this); }

bool Llcc68Model::parseFault(const std::string& spec, Llcc68Faults& faults, uint16_t& errors, bool& persist,
                             std::string& error) {
  const size_t eq = spec.find('=');
  const std::string name = spec.substr(0, eq);
  const std::string value = eq == std::string::npos ? std::string() : spec.substr(eq + 1);
  const bool bare = eq == std::string::npos;
  char* end = nullptr;
  if (name == "absent" && bare) {
    faults.absent = true;
  } else if (name == "busy-stuck" && bare) {
    faults.busyStuck = true;
  } else if (name == "busy-stuck-after-command" && bare) {
    faults.busyStuckAfterNextCommand = true;
  } else if (name == "irq-silent" && bare) {
    faults.irqSilent = true;
  } else if (name == "spi-error") {
    unsigned long n = 1;
    if (!bare) n = std::strtoul(value.c_str(), &end, 10);
    if ((!bare && (value.empty() || *end != '\0')) || n == 0 || n > 1000000) {
      error = "spi-error takes a count of transfers 1..1000000";
      return false;
    }
    faults.spiFailSkip = 0;
    faults.spiFailCount = static_cast<unsigned>(n);
  } else if (name == "device-errors" || name == "device-errors-persist") {
    const unsigned long word = std::strtoul(value.c_str(), &end, 0);
    if (value.empty() || *end != '\0' || word == 0 || word > 0xFFFF) {
      error = name + " takes an error word 0x0001..0xFFFF";
      return false;
    }
    errors = static_cast<uint16_t>(word);
    persist = name == "device-errors-persist";
  } else {
    error = "unknown radio fault '" + spec + "'";
    return false;
  }
  return true;
}

bool Llcc68Model::applyFault(const std::string& spec, std::string& error) {
  uint16_t errors = 0;
  bool persist = false;
  if (!parseFault(spec, faults_, errors, persist, error)) return false;
  if (errors != 0) setDeviceErrors(errors, persist);
  refreshBusy();
  return true;
}

void Llcc68Model::scheduleFault(const std::string& spec, uint64_t atUs) { timedFaults_.push_back({atUs, spec}); }

void Llcc68Model::setDeviceErrors(uint16_t errors, bool persist) {
  deviceErrors_ = errors;
  deviceErrorsPersist_ = persist;
}

uint8_t Llcc68Model::reg(uint16_t address) const {
  const auto it = regs_.find(address);
  return it == regs_.end() ? 0 : it->second;
}

uint32_t Llcc68Model::freqHz() const {
  return static_cast<uint32_t>(std::llround(static_cast<double>(freqSteps_) * 32e6 / 33554432.0));
}

LoraAirSettings Llcc68Model::airSettings() const {
  LoraAirSettings a;
  a.freqHz = freqHz();
  a.sf = modParams_[0];
  a.bwCode = modParams_[1];
  a.cr = modParams_[2];
  a.ldro = (modParams_[3] & 1) != 0;
  a.syncWord = static_cast<uint8_t>((reg(kRegSyncWord) & 0xF0) | (reg(kRegSyncWord + 1) >> 4));
  a.preamble = static_cast<uint16_t>((pktParams_[0] << 8) | pktParams_[1]);
  a.implicitHeader = pktParams_[2] == 1;
  a.crcOn = pktParams_[4] == 1;
  a.iqInverted = pktParams_[5] == 1;
  return a;
}

void Llcc68Model::clearTransactions() {
  transactions_.clear();
  spiBytes_ = 0;
}

// ---- pins -------------------------------------------------------------------------------------

void Llcc68Model::onSupply(bool level) {
  if (level == supply_) return;
  supply_ = level;
  if (level) {
    powerOnDefaults();
    if (resetLow_) {
      mode_ = Mode::reset;
    } else {
      boot(kColdBootUs, true);
    }
  } else {
    enterStandby();  // ends a transmission on the air
    mode_ = Mode::off;
    bootDoneUs_ = kNever;
    selected_ = false;
  }
  refreshBusy();
}

void Llcc68Model::onReset(bool level) {
  const bool low = !level;
  if (low == resetLow_) return;
  resetLow_ = low;
  if (!supply_) return;
  if (low) {
    enterStandby();
    mode_ = Mode::reset;
    bootDoneUs_ = kNever;
  } else {
    boot(kColdBootUs, true);
  }
  refreshBusy();
}

void Llcc68Model::onChipSelect(bool level) {
  const bool low = !level;
  if (low == csLow_) return;
  csLow_ = low;
  if (low) {
    if (supply_ && !faults_.absent && mode_ == Mode::sleep) {
      boot(warmSleep_ ? kWarmWakeUs : kColdBootUs, !warmSleep_);
      if (warmSleep_) {
        // Registers outside the retention list come back with their reset values.
        std::vector<uint16_t> kept;
        for (unsigned k = 0; k < std::min<unsigned>(reg(kRegRetentionList), 4); ++k) {
          kept.push_back(
              static_cast<uint16_t>((reg(kRegRetentionList + 1 + 2 * k) << 8) | reg(kRegRetentionList + 2 + 2 * k)));
        }
        for (uint16_t r : kVolatileRegisters) {
          if (std::find(kept.begin(), kept.end(), r) == kept.end()) regs_[r] = kRegisterDefaults.at(r);
        }
      }
      refreshBusy();
    }
    selected_ = true;
    frameAccepted_ = awake() && !faults_.busyStuck && board_.nowUs() >= busyUntilUs_;
    frame_.clear();
    return;
  }
  if (!selected_) return;
  selected_ = false;
  if (frame_.empty()) return;
  if (recording_) transactions_.push_back(frame_);
  if (!frameAccepted_) {
    ++ignored_;
    return;
  }
  execute(frame_);
}

void Llcc68Model::refreshBusy() {
  bool high;
  if (!supply_ || faults_.absent || faults_.busyStuck) {
    high = true;  // the line idles high when nothing drives it low
  } else if (mode_ == Mode::reset || mode_ == Mode::booting || mode_ == Mode::sleep) {
    high = true;
  } else {
    high = board_.nowUs() < busyUntilUs_;
  }
  board_.gpio().drive(pins_.busy, high);
}

bool Llcc68Model::awake() const {
  return supply_ && !faults_.absent && mode_ != Mode::off && mode_ != Mode::reset && mode_ != Mode::booting &&
         mode_ != Mode::sleep;
}

void Llcc68Model::setBusyFor(uint64_t us) {
  busyUntilUs_ = board_.nowUs() + us;
  busyEventPending_ = true;
}

void Llcc68Model::powerOnDefaults() {
  regs_ = kRegisterDefaults;
  buffer_.fill(0);
  pktType_ = 0;  // GFSK after reset
  modParams_.fill(0);
  pktParams_.fill(0);
  freqSteps_ = 0;
  txPower_ = 0;
  rampTime_ = 0;
  paConfig_.fill(0);
  txBase_ = rxBase_ = 0;
  irqMask_ = 0;
  irqFlags_ = 0;
  cmdStatus_ = 0;
  if (!deviceErrorsPersist_) deviceErrors_ = 0;
  dio2RfSwitch_ = false;
  rxLen_ = rxStart_ = 0;
  pktStatus_.fill(0);
  lastRssiRaw_ = 0;
  busyUntilUs_ = 0;
}

void Llcc68Model::boot(uint64_t durationUs, bool cold) {
  if (cold) powerOnDefaults();
  mode_ = Mode::booting;
  bootDoneUs_ = board_.nowUs() + durationUs;
}

// ---- SPI --------------------------------------------------------------------------------------

bool Llcc68Model::spiTransferAllowed(uint8_t first) {
  if (faults_.failOpcode >= 0 && first == faults_.failOpcode && (!selected_ || frame_.empty())) {
    if (faults_.failOpcodeSkip == 0) return false;
    --faults_.failOpcodeSkip;
  }
  if (faults_.spiFailCount == 0) return true;
  if (faults_.spiFailSkip > 0) {
    --faults_.spiFailSkip;
    return true;
  }
  --faults_.spiFailCount;
  return false;
}

uint8_t Llcc68Model::spiExchange(uint8_t mosi) {
  ++spiBytes_;
  if (!selected_) return 0x00;
  frame_.push_back(mosi);
  if (!frameAccepted_) return 0x00;
  return replyByte(frame_.size() - 1);
}

uint8_t Llcc68Model::statusByte() const {
  uint8_t mode = 0;
  switch (mode_) {
    case Mode::stbyRc: mode = 2; break;
    case Mode::stbyXosc: mode = 3; break;
    case Mode::fs: mode = 4; break;
    case Mode::rx: mode = 5; break;
    case Mode::tx: mode = 6; break;
    default: break;
  }
  return static_cast<uint8_t>((mode << 4) | ((cmdStatus_ & 7) << 1));
}

uint8_t Llcc68Model::replyByte(size_t index) {
  const uint8_t op = frame_[0];
  const auto forced = replyOverrides_.find(op);
  if (forced != replyOverrides_.end()) {
    const size_t first = op == Op::GetStatus ? 1 : op == Op::ReadRegister ? 4 : op == Op::ReadBuffer ? 3 : 2;
    if (index >= first && index - first < forced->second.size()) return forced->second[index - first];
  }
  auto afterNop = [&](size_t first) -> int { return index >= first ? static_cast<int>(index - first) : -1; };
  switch (op) {
    case Op::ReadRegister: {  // opcode, address, NOP, data
      const int k = afterNop(4);
      if (k < 0) break;
      const uint16_t address = static_cast<uint16_t>(((frame_[1] << 8) | frame_[2]) + k);
      if (address >= kRegRng && address < kRegRng + 4) {
        // The generator runs on receiver noise; outside reception it holds its last value.
        if (mode_ == Mode::rx && k == 0) {
          for (auto& b : rng4_) b = static_cast<uint8_t>(rng_());
        }
        return rng4_[address - kRegRng];
      }
      return reg(address);
    }
    case Op::ReadBuffer: {  // opcode, offset, NOP, data
      const int k = afterNop(3);
      if (k < 0) break;
      return buffer_[static_cast<uint8_t>(frame_[1] + k)];
    }
    case Op::GetIrqStatus: {
      const uint16_t flags = faults_.irqSilent ? 0 : irqFlags_;
      if (index == 2) return static_cast<uint8_t>(flags >> 8);
      if (index == 3) return static_cast<uint8_t>(flags);
      break;
    }
    case Op::GetRxBufferStatus:
      if (index == 2) return rxLen_;
      if (index == 3) return rxStart_;
      break;
    case Op::GetPacketStatus:
      if (index >= 2 && index <= 4) return pktStatus_[index - 2];
      break;
    case Op::GetRssiInst:
      if (index == 2) return instantRssiRaw();
      break;
    case Op::GetDeviceErrors:
      if (index == 2) return static_cast<uint8_t>(deviceErrors_ >> 8);
      if (index == 3) return static_cast<uint8_t>(deviceErrors_);
      break;
    case Op::GetPacketType:
      if (index == 2) return pktType_;
      break;
    default: break;
  }
  return statusByte();
}

// ---- commands ---------------------------------------------------------------------------------

bool Llcc68Model::loraPairSupported(uint8_t sf, uint8_t bw) const {
  if (sf < 5) return false;
  switch (bw) {
    case 4: return sf <= 9;
    case 5: return sf <= 10;
    case 6: return sf <= 11;
    default: return false;
  }
}

void Llcc68Model::execute(const std::vector<uint8_t>& cmd) {
  const uint8_t op = cmd[0];
  uint64_t busyUs = kCommandUs;
  const bool standby = mode_ == Mode::stbyRc || mode_ == Mode::stbyXosc;
  auto fail = [&] { cmdStatus_ = kCmdProcessError; };
  if (cmd.size() < minimumLength(op)) {
    fail();
  } else {
    switch (op) {
      case Op::SetStandby:
        enterStandby();
        mode_ = cmd[1] == 1 ? Mode::stbyXosc : Mode::stbyRc;
        busyUs = kStandbyUs;
        break;
      case Op::SetSleep:
        enterStandby();
        warmSleep_ = (cmd[1] & 0x04) != 0;
        mode_ = Mode::sleep;
        break;
      case Op::SetFs:
        if (mode_ == Mode::tx || mode_ == Mode::rx) enterStandby();
        mode_ = Mode::fs;
        busyUs = kFsUs;
        break;
      case Op::SetTx:
        startTx(static_cast<uint32_t>((cmd[1] << 16) | (cmd[2] << 8) | cmd[3]));
        busyUs = kTxRampUs;
        break;
      case Op::SetRx:
        startRx(static_cast<uint32_t>((cmd[1] << 16) | (cmd[2] << 8) | cmd[3]));
        busyUs = kRxStartUs;
        break;
      case Op::CalibrateImage: busyUs = kImageCalUs; break;
      case Op::Calibrate: busyUs = kColdBootUs; break;
      case Op::SetPaConfig: std::copy(cmd.begin() + 1, cmd.begin() + 5, paConfig_.begin()); break;
      case Op::WriteRegister: {
        const uint16_t address = static_cast<uint16_t>((cmd[1] << 8) | cmd[2]);
        for (size_t i = 3; i < cmd.size(); ++i) regs_[static_cast<uint16_t>(address + i - 3)] = cmd[i];
        break;
      }
      case Op::WriteBuffer:
        for (size_t i = 2; i < cmd.size(); ++i) buffer_[static_cast<uint8_t>(cmd[1] + i - 2)] = cmd[i];
        break;
      case Op::SetDioIrqParams:  // the DIO lines are not wired
        irqMask_ = static_cast<uint16_t>((cmd[1] << 8) | cmd[2]);
        break;
      case Op::ClearIrqStatus: irqFlags_ = static_cast<uint16_t>(irqFlags_ & ~((cmd[1] << 8) | cmd[2])); break;
      case Op::SetDio2AsRfSwitchCtrl: dio2RfSwitch_ = cmd[1] != 0; break;
      case Op::SetRfFrequency:
        freqSteps_ = (static_cast<uint32_t>(cmd[1]) << 24) | (cmd[2] << 16) | (cmd[3] << 8) | cmd[4];
        break;
      case Op::SetPacketType:  // only in standby
        if (!standby || cmd[1] > 1) {
          fail();
        } else {
          pktType_ = cmd[1];
        }
        break;
      case Op::SetTxParams: {  // the high-power amplifier's range
        const int power = static_cast<int8_t>(cmd[1]);
        if (power < -9 || power > 22 || cmd[2] > 7) {
          fail();
        } else {
          txPower_ = power;
          rampTime_ = cmd[2];
        }
        break;
      }
      case Op::SetModulationParams:
        if (pktType_ == 1) {
          if (!loraPairSupported(cmd[1], cmd[2]) || cmd[3] < 1 || cmd[3] > 4 || cmd[4] > 1) {
            fail();
          } else {
            std::copy(cmd.begin() + 1, cmd.begin() + 5, modParams_.begin());
          }
        } else {
          std::copy(cmd.begin() + 1, cmd.begin() + std::min<size_t>(cmd.size(), 9), modParams_.begin());
        }
        break;
      case Op::SetPacketParams:
        pktParams_.fill(0);
        std::copy(cmd.begin() + 1, cmd.begin() + std::min<size_t>(cmd.size(), 10), pktParams_.begin());
        break;
      case Op::SetBufferBaseAddress:
        txBase_ = cmd[1];
        rxBase_ = cmd[2];
        break;
      case Op::GetStatus:  // reporting the command status clears it
        cmdStatus_ = 0;
        break;
      case Op::ClearDeviceErrors:
        if (!deviceErrorsPersist_) deviceErrors_ = 0;
        break;
      case Op::ReadRegister:
      case Op::ReadBuffer:
      case Op::GetPacketType:
      case Op::GetIrqStatus:
      case Op::GetRxBufferStatus:
      case Op::GetPacketStatus:
      case Op::GetRssiInst:
      case Op::GetDeviceErrors:
      case Op::SetRegulatorMode:
      case Op::StopTimerOnPreamble:
      case Op::SetLoRaSymbNumTimeout:
      case Op::SetRxTxFallbackMode: break;  // reads answered while clocked; settings without effect on this model
      default: fail(); break;
    }
  }
  if (mode_ != Mode::sleep) setBusyFor(busyUs);
  if (faults_.busyStuckAfterNextCommand) {
    faults_.busyStuckAfterNextCommand = false;
    faults_.busyStuck = true;
  }
  refreshBusy();
}

void Llcc68Model::leaveRx() {
  // Outside reception GetRssiInst keeps answering the last level the receiver measured.
  if (mode_ == Mode::rx) lastRssiRaw_ = rssiRaw(medium_.channelPowerDbm(this, airSettings(), board_.nowUs()));
}

void Llcc68Model::enterStandby() {
  // Leaving TX or RX: a frame still on the air is cut short; a reception is abandoned.
  leaveRx();
  if (mode_ == Mode::tx && txFrameId_ != 0) medium_.truncate(txFrameId_, board_.nowUs());
  txFrameId_ = 0;
  txEndUs_ = kNever;
  rxTimeoutUs_ = kNever;
  lockedFrame_ = 0;
  if (mode_ == Mode::rx || mode_ == Mode::tx) mode_ = Mode::stbyRc;
}

void Llcc68Model::startTx(uint32_t timeoutSteps) {
  if (mode_ != Mode::stbyRc && mode_ != Mode::stbyXosc && mode_ != Mode::fs) {
    cmdStatus_ = kCmdProcessError;
    return;
  }
  const uint64_t now = board_.nowUs();
  AirFrame f;
  f.sender = name_;
  f.powerDbm = txPower_;
  f.air = airSettings();
  f.startUs = now + kTxRampUs;
  size_t len;
  uint64_t durationUs;
  if (pktType_ == 1) {
    len = pktParams_[3];
    durationUs = f.air.timeOnAirUs(len);
  } else {
    // GFSK: preamble, sync word, length byte, payload and CRC at the configured bit rate.
    f.lora = false;
    len = pktParams_[6];
    const uint32_t raw = (modParams_[0] << 16) | (modParams_[1] << 8) | modParams_[2];
    const double bitRate = raw != 0 ? 32.0 * 32e6 / raw : 4800.0;
    durationUs = static_cast<uint64_t>(std::ceil((len + 8) * 8 * 1e6 / bitRate));
  }
  for (size_t i = 0; i < len; ++i) f.bytes.push_back(buffer_[static_cast<uint8_t>(txBase_ + i)]);
  f.endUs = f.startUs + durationUs;
  txTimesOut_ = false;
  if (timeoutSteps != 0) {
    const uint64_t deadline = now + static_cast<uint64_t>(std::llround(timeoutSteps * kRtcStepUs));
    if (deadline < f.endUs) {
      f.endUs = std::max(deadline, f.startUs);
      f.truncated = true;
      txTimesOut_ = true;
    }
  }
  mode_ = Mode::tx;
  txEndUs_ = f.endUs;
  txFrameId_ = medium_.transmit(f, this);
}

void Llcc68Model::endTx(uint64_t) {
  raise(txTimesOut_ ? kIrqTimeout : kIrqTxDone);
  if (!txTimesOut_) cmdStatus_ = kCmdTxDone;
  txFrameId_ = 0;
  txEndUs_ = kNever;
  mode_ = Mode::stbyRc;
}

void Llcc68Model::startRx(uint32_t timeoutSteps) {
  if (mode_ != Mode::stbyRc && mode_ != Mode::stbyXosc && mode_ != Mode::fs && mode_ != Mode::rx) {
    cmdStatus_ = kCmdProcessError;
    return;
  }
  const uint64_t now = board_.nowUs();
  rxEnteredUs_ = mode_ == Mode::rx ? now : now + kRxStartUs;
  mode_ = Mode::rx;
  lockedFrame_ = 0;
  rxContinuous_ = timeoutSteps == kRxContinuous;
  uint64_t windowUs = kNever;
  if (timeoutSteps != 0 && !rxContinuous_) windowUs = static_cast<uint64_t>(std::llround(timeoutSteps * kRtcStepUs));
  rxTimeoutUs_ = windowUs == kNever ? kNever : rxEnteredUs_ + windowUs;
  medium_.receiverArmed(this, rxEnteredUs_, windowUs);
}

void Llcc68Model::raise(uint16_t irq) { irqFlags_ = static_cast<uint16_t>(irqFlags_ | (irq & irqMask_)); }

uint8_t Llcc68Model::rssiRaw(double dbm) const {
  const long raw = std::lround(-2.0 * dbm);
  return static_cast<uint8_t>(std::clamp(raw, 0L, 255L));
}

uint8_t Llcc68Model::instantRssiRaw() {
  const uint64_t now = board_.nowUs();
  if (mode_ == Mode::rx && now >= rxEnteredUs_) {
    lastRssiRaw_ = rssiRaw(medium_.channelPowerDbm(this, airSettings(), now));
  }
  return lastRssiRaw_;
}

// ---- reception ---------------------------------------------------------------------------------

bool Llcc68Model::listening(const AirFrame& frame) const {
  if (mode_ != Mode::rx || pktType_ != 1 || !frame.lora || lockedFrame_ != 0) return false;
  const LoraAirSettings mine = airSettings();
  // The receiver needs a few preamble symbols to detect the frame.
  const double slackSymbols = std::max(0.0, static_cast<double>(frame.air.preamble) - 5.0);
  if (static_cast<double>(rxEnteredUs_) > static_cast<double>(frame.startUs) + slackSymbols * frame.air.symbolUs()) {
    return false;
  }
  const uint32_t diff =
      mine.freqHz > frame.air.freqHz ? mine.freqHz - frame.air.freqHz : frame.air.freqHz - mine.freqHz;
  return diff < mine.bwHz() / 4 && mine.sf == frame.air.sf && mine.bwCode == frame.air.bwCode &&
         mine.syncWord == frame.air.syncWord && mine.iqInverted == frame.air.iqInverted &&
         mine.implicitHeader == frame.air.implicitHeader;
}

void Llcc68Model::frameHeader(const AirFrame& frame, const Reception& rx) {
  if (!listening(frame) || !rx.detectable) return;
  raise(kIrqPreamble);
  if (!rx.headerOk) {
    raise(kIrqHeaderError);
    if (!rxContinuous_) {
      leaveRx();
      rxTimeoutUs_ = kNever;
      mode_ = Mode::stbyRc;
    }
    return;
  }
  raise(kIrqSyncWord | kIrqHeaderValid);
  lockedFrame_ = frame.id;
  rxTimeoutUs_ = kNever;  // a detected header stops the receive timer
}

void Llcc68Model::frameEnd(const AirFrame& frame, const Reception& rx) {
  if (mode_ != Mode::rx || lockedFrame_ != frame.id) return;
  lockedFrame_ = 0;
  const size_t len = frame.bytes.size();
  for (size_t i = 0; i < len; ++i) buffer_[static_cast<uint8_t>(rxBase_ + i)] = frame.bytes[i];
  rxLen_ = static_cast<uint8_t>(len);
  rxStart_ = rxBase_;
  pktStatus_[0] = rssiRaw(rx.rssiDbm);
  pktStatus_[1] = static_cast<uint8_t>(static_cast<int8_t>(std::clamp(std::lround(rx.snrDb * 4.0), -128L, 127L)));
  pktStatus_[2] = rssiRaw(rx.signalDbm);
  const bool ok = rx.payloadOk && frame.air.ldro == airSettings().ldro;
  raise(kIrqRxDone);
  if (!ok && frame.air.crcOn) raise(kIrqCrcError);
  board_.records().frameReceived(frame, rx, ok || !frame.air.crcOn);
  if (ok) cmdStatus_ = kCmdDataAvailable;
  if (rxContinuous_) {
    rxEnteredUs_ = board_.nowUs();
  } else {
    leaveRx();
    mode_ = Mode::stbyRc;
  }
}

// ---- time -------------------------------------------------------------------------------------

uint64_t Llcc68Model::nextEventUs() const {
  uint64_t next = kNever;
  if (busyEventPending_) next = std::min(next, busyUntilUs_);
  if (mode_ == Mode::booting) next = std::min(next, bootDoneUs_);
  if (mode_ == Mode::tx) next = std::min(next, txEndUs_);
  if (mode_ == Mode::rx) next = std::min(next, rxTimeoutUs_);
  for (const TimedFault& f : timedFaults_) next = std::min(next, f.atUs);
  return next;
}

void Llcc68Model::fire(uint64_t nowUs) {
  for (size_t i = 0; i < timedFaults_.size();) {
    if (timedFaults_[i].atUs <= nowUs) {
      std::string error;
      (void)applyFault(timedFaults_[i].spec, error);  // checked when the option was parsed
      timedFaults_.erase(timedFaults_.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
  if (mode_ == Mode::booting && bootDoneUs_ <= nowUs) {
    mode_ = Mode::stbyRc;
    bootDoneUs_ = kNever;
  }
  if (mode_ == Mode::tx && txEndUs_ <= nowUs) endTx(nowUs);
  if (mode_ == Mode::rx && rxTimeoutUs_ <= nowUs) {
    raise(kIrqTimeout);
    rxTimeoutUs_ = kNever;
    leaveRx();
    mode_ = Mode::stbyRc;
  }
  if (busyEventPending_ && busyUntilUs_ <= nowUs) busyEventPending_ = false;
  refreshBusy();
}

}  // namespace sim
