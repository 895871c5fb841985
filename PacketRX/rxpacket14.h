// Downlink packet 14 (80 bytes): one remote setting (an opcode and up to eight 32-bit arguments,
// sent twice) for a provisioned node, under its tag key and with a downlink counter that must
// increase from frame to frame. A register table maps each opcode to the function that applies it
// and to where the change is kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "flashconfig.h"
#include "packet_encode.h"

namespace LoRaRXPacket14 {

constexpr uint8_t PACKET_CODE = 14;
constexpr size_t WIRE_BODY_BYTES = 76;
constexpr size_t WIRE_MAX_BYTES = 80;
constexpr size_t ARG_COUNT = 8;

enum class Op : uint16_t {
  DBG1_TOGGLE = 1,
  SET_PhaseShift = 2,
  SET_txDebugPacketRate = 3,
  SET_SleepForceRX = 4,
  SET_TxPowerDbm = 5,
};
enum class ApplyResult : uint8_t { Rejected = 0, Unchanged = 1, Changed = 2 };
enum class ApplyOutcome : uint8_t {
  Applied = 0,
  Unchanged = 1,
  RejectedValue = 2,
  UnknownOpcode = 3,
  StaleCounter = 4,
  UidMismatch = 5,
  CommitFailed = 6,
};
enum class Persist : uint8_t { None = 0, Flash = 1, Rtc = 2 };

using Args = std::array<uint32_t, ARG_COUNT>;

struct Payload {
  uint8_t packetCode;
  UID uid;
  LoRaPacketCounterU24 packetCounter;
  uint8_t _pad0;
  Op opcode;
  Op opcode2;
  Args args;
  Args args2;
};
static_assert(hasWireHeader<Payload>());
static_assert(sizeof(Payload) == WIRE_BODY_BYTES);
static_assert(offsetof(Payload, _pad0) == 7);
static_assert(offsetof(Payload, opcode) == 8);
static_assert(offsetof(Payload, opcode2) == 10);
static_assert(offsetof(Payload, args) == 12);
static_assert(offsetof(Payload, args2) == 44);

constexpr float kSleepMaxSecMin = 1.0f;
constexpr float kSleepMaxSecMax = 86400.0f;
constexpr int8_t kTxPowerDbmMin = 0;
constexpr int8_t kTxPowerDbmMax = 14;
constexpr int kTxPowerMaxDropPerApply = 5;
// The phase correction the shell can set (fixed point, 5 decimals, 32-bit): the same bound here.
constexpr float kPhaseShiftAbsMax = 21474.83647f;

// What a setting can change: the configuration record, and the transmit power kept in RTC memory.
struct Target {
  FlashConfig& config;
  int8_t txPowerDbm;
};

struct RegDesc {
  Op op;
  ApplyResult (*apply)(const Args& args, Target& target);
  Persist persist;
};

ApplyResult applyDbg1Toggle(const Args& args, Target& target);
ApplyResult applyPhaseShift(const Args& args, Target& target);
ApplyResult applyTxDebugPacketRate(const Args& args, Target& target);
ApplyResult applySleepForceRX(const Args& args, Target& target);
ApplyResult applyTxPowerDbm(const Args& args, Target& target);

extern const std::array<RegDesc, 5> kRegisters;
const RegDesc* findRegister(Op op);
bool isSupportedOpcode(Op op);
// Opcode and all eight arguments agree with their copies.
bool verifyFecCopies(const Payload& p);

// True only for an 80-byte frame whose tag verifies under key and whose code is 14. Never reads
// outside wire[0, len).
bool decodeWithKey(Payload& p, const uint8_t* wire, size_t len, const HMAC::Key& key);
bool decode(Payload& p, const uint8_t* wire, size_t len);  // with the node's live key

// The receiving side's frame, with the copies sealed.
Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, Op op, const Args& args);
LoRaFrameBuffer encode(const Payload& p, const HMAC::Key& key);

using CommitFn = bool (*)(FlashConfig& config);
// Identity, then the counter (consumed from here on, whatever follows), then the register.
ApplyOutcome applyDecodedTo(const Payload& p, Target& target, CommitFn commit);

}  // namespace LoRaRXPacket14
