// The downlink path over arbitrary frames from the air: inbound dispatch (length, addressee, packet
// code), both decoders, the apply functions on the live configuration, its flash page and the RTC
// power, and the packet 17 answer sent through the simulated radio. Nothing may crash or read
// outside the frame; a setting never leaves its range; a frame that consumed its counter is never
// taken again, not even after a restart; a refused frame changes nothing.
//
// Input: byte 0 chooses the node's state (bit 0: a valid record, bit 1: provisioning running, bit 4:
// page erases fail) and the frame's shape (bits 2-3: as it came, a tagged packet 14, a tagged packet 13); the next
// bytes give the counter already consumed and the stored transmit power; the rest fills the frame.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DeviceConfig.h"
#include "MCUState.h"
#include "RTCMem.h"
#include "dbg1_toggle.h"
#include "flash_model.h"
#include "functionsMCU.h"
#include "fuzz_input.h"
#include "gstate.h"
#include "hex_text.h"
#include "llcc68handler.h"
#include "lora_inbound.h"
#include "main.h"
#include "radio_medium.h"
#include "rxpacket13.h"
#include "rxpacket14.h"
#include "test_board.h"

namespace {

namespace P13 = LoRaRXPacket13;
namespace P14 = LoRaRXPacket14;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "inbound_fuzz: %s\n", what);
    std::abort();
  }
}

bool init() {
  testing_support::freshBoard();
  (void)mcustate().pin.switch_.lora.setOn();
  return true;
}

using Input = testing_support::FuzzInput;
using testing_support::bytesOf;

std::vector<uint8_t> shapePacket14(Input& in, const FlashConfig& live) {
  P14::Payload p{};
  uint8_t body[P14::WIRE_BODY_BYTES];
  in.fill(body, sizeof body);
  std::memcpy(&p, body, sizeof body);
  const uint8_t shape = in.next();
  p.packetCode = P14::PACKET_CODE;
  if (shape & 0x01) p.uid = live.uid;
  if (shape & 0x02) p.opcode = static_cast<P14::Op>(shape >> 5);  // 0..7: every opcode and some beyond
  if (shape & 0x04) p.opcode2 = p.opcode, p.args2 = p.args;
  if (shape & 0x08) p.packetCounter = LoRaPacketCounterU24::fromU32(live.lastDownlinkCounter + (shape & 0x10 ? 0 : 1));
  return bytesOf(P14::encode(p, HMAC::liveKey()));
}

std::vector<uint8_t> shapePacket13(Input& in, const FlashConfig& live) {
  std::vector<uint8_t> body(P13::WIRE_BODY_BYTES);
  in.fill(body.data(), body.size());
  P13::Payload p{};
  P13::readWireBody(p, body.data());
  const uint8_t shape = in.next();
  p.header.packetCode = P13::PACKET_CODE;
  p.phaseTag[0] = (shape & 0x01) ? LoRaPacket10::kPhaseTagConfirm : LoRaPacket10::kPhaseTagAssign;
  if (shape & 0x02) p.header.uid = live.uid;
  if (shape & 0x04) p.stUid[0] = LoRaPacket10::packStUidBytes(readChipID());
  if (shape & 0x08) p.hmacKey[0] = live.hmacKey;
  if (shape & 0x10) {
    LoRaPacket10::sealProvisionedUidCopies(p);
    LoRaPacket10::sealStUidCopies(p);
    LoRaPacket10::sealPhaseTagCopies(p);
    P13::sealHmacKeyCopies(p);
  }
  return bytesOf(P13::encode(p, HMAC::liveKey()));
}

size_t airFrames() { return sim::board().radioMedium().history().size(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = init();
  (void)ready;
  // A new board now and then: its medium keeps every frame sent (the answers are counted there),
  // which over millions of inputs would outgrow the fuzzer's memory limit.
  static size_t inputs = 0;
  if (++inputs % 10000 == 0) init();
  if (size < 3) return 0;
  Input in{data + 3, size - 3};
  const uint8_t mode = data[0];

  // The node's state: a record (valid or staged), the counter it has consumed, its RTC power.
  std::memset(reinterpret_cast<void*>(__device_config_flash_start), 0xFF, 2048);
  FlashConfig& live = setGstate().config;
  live.applyRuntimeDefaults();
  live.uid.storeU24(0x00A1B2);
  live.hmacKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  live.lastDownlinkCounter = data[1];
  if (mode & 0x01) (void)DeviceConfig::commit();
  sim::board().flash().faults().eraseFails = (mode & 0x10) != 0;  // a setting's commit fails
  rtcMem().txPowerDbm.set(static_cast<int8_t>(data[2]));
  setLoraProvisioningActive((mode & 0x02) != 0);
  clearLoraProvisionAck();
  // Each input starts like a transmission cycle after its supply came on: the radio configured
  // afresh at its first use. (Left configured, every answer would first sleep the chip for the
  // gap between frames, and its command's BUSY wait runs out only after 100 ms of polling.)
  loraSupplyMarkRadioDown();

  std::vector<uint8_t> frame;
  switch ((mode >> 2) & 0x3) {
    case 1: frame = shapePacket14(in, live); break;
    case 2: frame = shapePacket13(in, live); break;
    default: frame.assign(in.data + in.pos, in.data + in.size); break;  // exactly sized
  }
  if (frame.size() > 255) frame.resize(255);

  const FlashConfig before = live;
  const int8_t powerBefore = rtcMem().txPowerDbm.get();
  const size_t sentBefore = airFrames();
  const bool handled = handleLoraRawPayload(frame.data(), frame.size());
  const size_t answers = airFrames() - sentBefore;
  const bool p14 = !frame.empty() && frame[0] == P14::PACKET_CODE;

  check(answers <= 1, "more than one answer");
  if (p14) check(handled == (answers == 1), "a packet 14 handled without an answer, or answered without handling");
  if (!p14) check(answers == 0, "an answer to something that is not a remote setting");
  // Without a valid record the key is the zero key: no remote setting is taken then.
  if (p14 && !before.ok()) check(!handled, "a remote setting taken without a valid record");
  // (A failed commit of an assign drops what was staged, by design: the live record follows the page.)
  if (!handled && !(frame.size() > 0 && frame[0] == P13::PACKET_CODE && (mode & 0x10))) {
    check(std::memcmp(&live, &before, sizeof live) == 0 && rtcMem().txPowerDbm.get() == powerBefore,
          "a refused frame changed the node");
  }
  check(live.sleepMaxSec >= P14::kSleepMaxSecMin && live.sleepMaxSec <= P14::kSleepMaxSecMax,
        "sleep limit out of range");
  check(std::isfinite(live.inductive50HzPhaseCorrection), "phase correction not finite");
  if (rtcMem().txPowerDbm.get() != powerBefore) {
    check(rtcMem().txPowerDbm.get() >= P14::kTxPowerDbmMin && rtcMem().txPowerDbm.get() <= P14::kTxPowerDbmMax,
          "power out of range");
  }
  (void)takeDbg1ToggleRequest();

  // A frame that consumed its counter is stale from then on: again at once, and after a restart.
  if (p14 && live.lastDownlinkCounter != before.lastDownlinkCounter) {
    for (int restart = 0; restart < 2; ++restart) {
      if (restart == 1) {
        GState::make();
        DeviceConfig::init();
      }
      const FlashConfig settled = gstate().config;
      const size_t sent = airFrames();
      const bool again = handleLoraRawPayload(frame.data(), frame.size());
      if (settled.uid.bytes == before.uid.bytes) {
        check(!again && airFrames() == sent, "a consumed frame was taken again");
        check(std::memcmp(&gstate().config, &settled, sizeof settled) == 0, "a replay changed the record");
      }
    }
  }
  sim::board().flash().faults().eraseFails = false;
  testing_support::dropOutput();
  return 0;
}
