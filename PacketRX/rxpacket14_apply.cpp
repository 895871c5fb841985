// Packet 14 settings: the register table and the apply rules of each setting (with their log lines).
#include <algorithm>
#include <bit>
#include <cmath>

#include "dbg1_toggle.h"
#include "rxpacket14.h"
#include "rxpacket14_debug.h"

namespace LoRaRXPacket14 {

namespace {
float argAsFloat(uint32_t arg) { return std::bit_cast<float>(arg); }
}  // namespace

ApplyResult applyDbg1Toggle(const Args&, Target&) {
  armDbg1Toggle();
  return ApplyResult::Changed;
}

ApplyResult applyPhaseShift(const Args& args, Target& target) {
  const float v = argAsFloat(args[7]);
  // Anything else would make the phase arithmetic of every later reading meaningless (or endless).
  if (!std::isfinite(v) || std::fabs(v) > kPhaseShiftAbsMax) return ApplyResult::Rejected;
  float& stored = target.config.inductive50HzPhaseCorrection;
  if (v == stored) return ApplyResult::Unchanged;
  logPhaseShiftChange(stored, v);
  stored = v;
  return ApplyResult::Changed;
}

ApplyResult applyTxDebugPacketRate(const Args& args, Target& target) {
  const auto rate = static_cast<uint16_t>(args[0] & 0xFFFFu);
  uint16_t& stored = target.config.txDebugPacketRate;
  if (rate == stored) return ApplyResult::Unchanged;
  logTxDebugPacketRateChange(stored, rate);
  stored = rate;
  return ApplyResult::Changed;
}

ApplyResult applySleepForceRX(const Args& args, Target& target) {
  float seconds = argAsFloat(args[0]);
  if (std::isnan(seconds)) return ApplyResult::Rejected;
  if (seconds < kSleepMaxSecMin) seconds = kSleepMaxSecMin;
  if (seconds > kSleepMaxSecMax) seconds = kSleepMaxSecMax;
  const bool forceRX = args[1] != 0;
  FlashConfig& c = target.config;
  if (c.sleepMaxSec == seconds && c.forceLoraRX == forceRX) return ApplyResult::Unchanged;
  logSleepForceRXChange(c.sleepMaxSec, seconds, c.forceLoraRX, forceRX);
  c.sleepMaxSec = seconds;
  c.forceLoraRX = forceRX;
  return ApplyResult::Changed;
}

ApplyResult applyTxPowerDbm(const Args& args, Target& target) {
  int dbm = static_cast<int8_t>(args[0] & 0xFFu);
  dbm = std::clamp<int>(dbm, kTxPowerDbmMin, kTxPowerDbmMax);
  const int current = target.txPowerDbm;
  if (dbm < current - kTxPowerMaxDropPerApply) dbm = current - kTxPowerMaxDropPerApply;
  // The drop limit must not lead outside the radio's range when the stored value is out of it.
  dbm = std::clamp<int>(dbm, kTxPowerDbmMin, kTxPowerDbmMax);
  if (dbm == current) return ApplyResult::Unchanged;
  logTxPowerDbmChange(current, dbm);
  target.txPowerDbm = static_cast<int8_t>(dbm);
  return ApplyResult::Changed;
}

const std::array<RegDesc, 5> kRegisters = {{
    {Op::DBG1_TOGGLE, applyDbg1Toggle, Persist::None},
    {Op::SET_PhaseShift, applyPhaseShift, Persist::Flash},
    {Op::SET_txDebugPacketRate, applyTxDebugPacketRate, Persist::Flash},
    {Op::SET_SleepForceRX, applySleepForceRX, Persist::Flash},
    {Op::SET_TxPowerDbm, applyTxPowerDbm, Persist::Rtc},
}};

const RegDesc* findRegister(Op op) {
  for (const RegDesc& r : kRegisters) {
    if (r.op == op) return &r;
  }
  return nullptr;
}

bool isSupportedOpcode(Op op) { return findRegister(op) != nullptr; }

ApplyOutcome applyDecodedTo(const Payload& p, Target& target, CommitFn commit) {
  FlashConfig& config = target.config;
  if (p.uid.bytes != config.uid.bytes) return ApplyOutcome::UidMismatch;
  const uint32_t counter = p.packetCounter.toU32();
  if (config.lastDownlinkCounter >= counter) return ApplyOutcome::StaleCounter;
  config.lastDownlinkCounter = counter;
  const RegDesc* reg = findRegister(p.opcode);
  if (reg == nullptr) return ApplyOutcome::UnknownOpcode;
  switch (reg->apply(p.args, target)) {
    case ApplyResult::Unchanged: return ApplyOutcome::Unchanged;
    case ApplyResult::Rejected: return ApplyOutcome::RejectedValue;
    case ApplyResult::Changed: break;
  }
  if (reg->persist == Persist::Flash) {
    return (commit != nullptr && commit(config)) ? ApplyOutcome::Applied : ApplyOutcome::CommitFailed;
  }
  return ApplyOutcome::Applied;
}

}  // namespace LoRaRXPacket14
