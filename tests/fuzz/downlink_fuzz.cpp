// Downlink decoders and their apply functions (and the receiving side's uplink decoders) over
// arbitrary bytes from the air: nothing may crash, read outside the frame, or leave a setting out of
// its range. The first input byte chooses how the rest is shaped: as it is, or built into a frame
// that passes the tag (and optionally the copy and chip checks) so that the deeper paths are reached.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "HMAC.h"
#include "MCUState.h"
#include "dbg1_toggle.h"
#include "fuzz_input.h"
#include "gstate.h"
#include "packet10.h"
#include "packet17.h"
#include "packet3.h"
#include "packet4.h"
#include "packet7.h"
#include "packet8.h"
#include "packet9.h"
#include "rxpacket13.h"
#include "rxpacket13_debug.h"
#include "rxpacket14.h"
#include "rxpacket14_debug.h"
#include "test_board.h"

namespace {

namespace P13 = LoRaRXPacket13;
namespace P14 = LoRaRXPacket14;

const LoRaPacket10::StUid kChip = LoRaPacket10::packStUidBytes({0x0BADF00Du, 0x12345678u, 0xCAFEBABEu});

bool gCommitOk = true;
bool scratchCommit(FlashConfig& c) {
  c.magic = FlashConfig::MAGIC;
  c.version = FlashConfig::VERSION;
  return gCommitOk;
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "downlink_fuzz: %s\n", what);
    std::abort();
  }
}

bool init() {
  testing_support::freshBoard();
  setMCUGstate().hlpuart1 = nullptr;  // printouts are formatted but not sent
  return true;
}

using Input = testing_support::FuzzInput;

FlashConfig scratchConfig(Input& in, uint8_t flags) {
  FlashConfig c;
  in.fill(c.hmacKey.data(), 16);
  c.uid.storeU24(0x00A1B2);
  c.lastDownlinkCounter = in.next();
  c.inductive50HzPhaseCorrection = 0.1f;
  if (flags & 0x01) {
    c.magic = FlashConfig::MAGIC;
    c.version = FlashConfig::VERSION;
  }
  return c;
}

void run13(const std::vector<uint8_t>& frame, const FlashConfig& live) {
  P13::Payload p{};
  const P13::DecodeFail why = P13::decodeFailReason(frame.data(), frame.size());
  const bool ok = P13::decode(p, frame.data(), frame.size());
  check(ok == (why == P13::DecodeFail::None), "packet 13 decode and its reason disagree");
  (void)P13::decodeFailLabel(why);
  if (!ok) return;
  P13::debugPkt(p);
  FlashConfig c = live;
  const bool assigned = P13::applyAssignTo(p, kChip, c, scratchCommit);
  if (assigned) {
    check(c.uid.toU24() != 0 && c.uid.bytes == p.provisionedUid[0].bytes, "assign stored a wrong identity");
    check(c.hmacKey == p.hmacKey[0], "assign stored a wrong key");
  } else if (gCommitOk) {
    check(std::memcmp(&c, &live, sizeof c) == 0, "refused assign changed the record");
  }
  FlashConfig d = live;
  (void)P13::applyConfirmTo(p, kChip, d);
  check(std::memcmp(&d, &live, sizeof d) == 0, "confirm changed the record");
}

void run14(const std::vector<uint8_t>& frame, const FlashConfig& live, int8_t txPower) {
  P14::Payload p{};
  if (!P14::decode(p, frame.data(), frame.size())) return;
  check(frame.size() == P14::WIRE_MAX_BYTES && p.packetCode == P14::PACKET_CODE, "packet 14 accepted a bad frame");
  P14::debugPkt(p);
  (void)P14::verifyFecCopies(p);
  (void)P14::isSupportedOpcode(p.opcode);
  FlashConfig c = live;
  P14::Target t{c, txPower};
  const P14::ApplyOutcome out = P14::applyDecodedTo(p, t, scratchCommit);
  if (out == P14::ApplyOutcome::UidMismatch || out == P14::ApplyOutcome::StaleCounter) {
    check(std::memcmp(&c, &live, sizeof c) == 0 && t.txPowerDbm == txPower, "refused frame changed state");
    return;
  }
  check(c.lastDownlinkCounter == p.packetCounter.toU32(), "counter not consumed");
  check(!std::isnan(c.sleepMaxSec) && c.sleepMaxSec >= P14::kSleepMaxSecMin && c.sleepMaxSec <= P14::kSleepMaxSecMax,
        "sleep limit out of range");
  check(std::isfinite(c.inductive50HzPhaseCorrection) &&
            std::fabs(c.inductive50HzPhaseCorrection) <= P14::kPhaseShiftAbsMax,
        "phase correction unusable");
  if (t.txPowerDbm != txPower) {
    check(t.txPowerDbm >= P14::kTxPowerDbmMin && t.txPowerDbm <= P14::kTxPowerDbmMax, "power out of range");
    check(t.txPowerDbm >= std::min<int>(txPower, P14::kTxPowerDbmMax) - P14::kTxPowerMaxDropPerApply ||
              txPower > P14::kTxPowerDbmMax,
          "power dropped too far");
  }
  takeDbg1ToggleRequest();
}

// The receiving side's decoders of uplink frames take air bytes too.
void runUplinkDecoders(const std::vector<uint8_t>& frame, const HMAC::Key& key) {
  const uint8_t* w = frame.data();
  const size_t n = frame.size();
  LoRaPacket3::Payload p3{};
  LoRaPacket7::Payload p7{};
  LoRaPacket8::Payload p8{};
  LoRaPacket10::Payload p10{};
  LoRaPacket17::Payload p17{};
  LoRaPacket4::Payload p4{};
  LoRaPacket9::Payload p9{};
  (void)LoRaPacket3::decode(p3, w, n, key);
  (void)LoRaPacket7::decode(p7, w, n, key);
  (void)LoRaPacket8::decode(p8, w, n, key);
  (void)LoRaPacket10::decode(p10, w, n, key);
  (void)LoRaPacket17::decode(p17, w, n, key);
  (void)LoRaPacket4::decode(p4, w, n, key);
  (void)LoRaPacket9::decode(p9, w, n, key);
  // A capture frame whose tag verifies: its own count and length agree.
  if (n >= 13 && HMAC::verifyTag(key, w, n - 4, n) && w[0] == 9 && LoRaPacket9::decode(p9, w, n, key)) {
    check(p9.bodyBytes() + 4 == n, "capture frame length");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = init();
  (void)ready;
  if (size == 0) return 0;
  Input in{data + 1, size - 1};
  const uint8_t mode = data[0];
  gCommitOk = (mode & 0x80) == 0;
  const FlashConfig live = scratchConfig(in, mode);
  setGstate().config = live;  // the decoders check tags with the live key
  const HMAC::Key key = HMAC::liveKey();
  const auto txPower = static_cast<int8_t>(in.next());

  switch ((mode >> 1) & 0x3) {
    case 0: {  // the rest, as it came from the air (exactly sized, so a read past it is caught)
      std::vector<uint8_t> frame(in.data + in.pos, in.data + in.size);
      run13(frame, live);
      run14(frame, live, txPower);
      runUplinkDecoders(frame, key);
      break;
    }
    case 1: {  // a tagged packet 13 built from the input, copies and chip made to agree on request
      std::vector<uint8_t> body(P13::WIRE_BODY_BYTES);
      in.fill(body.data(), body.size());
      P13::Payload p{};
      P13::readWireBody(p, body.data());
      // One defect at most (defect 0..3: none), so that well-formed frames are common.
      const uint8_t shape = in.next();
      const uint8_t defect = shape % 8;
      if (defect != 4) p.header.packetCode = P13::PACKET_CODE;
      p.phaseTag[0] = (shape & 0x08) ? LoRaPacket10::kPhaseTagConfirm : LoRaPacket10::kPhaseTagAssign;
      if (shape & 0x10) p.header.uid = live.uid;  // a confirm of what the node holds
      if (defect != 6) p.stUid[0] = kChip;
      if (shape & 0x20) p.hmacKey[0] = live.hmacKey;
      if (shape & 0x40) p.hmacKey[0] = P13::HmacKey{};
      if (defect != 5) {
        LoRaPacket10::sealProvisionedUidCopies(p);
        LoRaPacket10::sealStUidCopies(p);
        LoRaPacket10::sealPhaseTagCopies(p);
        P13::sealHmacKeyCopies(p);
      }
      std::vector<uint8_t> frame;
      const LoRaFrameBuffer f = P13::encode(p, key);
      frame.assign(f.data(), f.data() + f.used_bytes());
      if (defect == 7) frame[in.next() % frame.size()] ^= static_cast<uint8_t>(1u << (in.next() % 8));
      run13(frame, live);
      break;
    }
    default: {  // a tagged packet 14 built from the input
      P14::Payload p{};
      uint8_t body[P14::WIRE_BODY_BYTES];
      in.fill(body, sizeof body);
      std::memcpy(&p, body, sizeof body);
      const uint8_t shape = in.next();
      if (shape & 0x01) p.packetCode = P14::PACKET_CODE;
      if (shape & 0x02) p.uid = live.uid;
      if (shape & 0x04) p.opcode = static_cast<P14::Op>(shape >> 5);
      if (shape & 0x08) p.opcode2 = p.opcode, p.args2 = p.args;
      const uint8_t tweak = in.next();
      if (shape & 0x10) {
        p.packetCounter = LoRaPacketCounterU24::fromU32(live.lastDownlinkCounter + ((tweak & 0x01) ? 0 : 1));
      }
      if (tweak & 0x02) {  // ask for the value already in place
        p.args[0] = (p.opcode == P14::Op::SET_TxPowerDbm) ? static_cast<uint8_t>(txPower) : live.txDebugPacketRate;
        if (p.opcode == P14::Op::SET_SleepForceRX) p.args[0] = std::bit_cast<uint32_t>(live.sleepMaxSec), p.args[1] = 0;
        p.args[7] = std::bit_cast<uint32_t>(live.inductive50HzPhaseCorrection);
        p.args2 = p.args;
      }
      const LoRaFrameBuffer f = P14::encode(p, key);
      std::vector<uint8_t> frame(f.data(), f.data() + f.used_bytes());
      const uint8_t cut = in.next();
      if (cut < 16) frame.resize(cut % 2 ? frame.size() + 1 : frame.size() - 1 - cut);
      run14(frame, live, txPower);
      run13(frame, live);
      break;
    }
  }
  return 0;
}
