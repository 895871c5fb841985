// The cycle-count image: each case runs once between two markers, where the instruction counter
// (tools/m0_cycles) starts and stops; its name is the marker's argument.
#include <cstring>

#include "MCUState.h"
#include "clamp_phase_comp.h"
#include "gstate.h"
#include "packet3.h"
#include "packet8.h"
#include "rxpacket14.h"
#include "selftest.h"

extern "C" {
__attribute__((noinline, used)) void cycleCaseBegin(const char* name) { asm volatile("" ::"r"(name)); }
__attribute__((noinline, used)) void cycleCaseEnd() { asm volatile(""); }
}

namespace {

const SelfTestCapture& captureNamed(const char* name) {
  for (unsigned i = 0; i < kSelfTestCaptureCount; ++i)
    if (std::strcmp(kSelfTestCaptures[i].name, name) == 0) return kSelfTestCaptures[i];
  return kSelfTestCaptures[0];
}

volatile float gSink;
volatile size_t gBytes;

}  // namespace

void testImageMain() {
  UID uid;
  uid.storeU24(0xABCDEF);
  const HMAC::Key key = selfTestKey();
  const auto counter = LoRaPacketCounterU24::fromU32(0x000102);

  loadCapture(captureNamed("hp_10A_pf080_lag"));
  cycleCaseBegin("computePowerFast, full capture (231 rows)");
  (void)computePowerFast();
  cycleCaseEnd();
  gSink = gstate().power.estimatedPower;

  loadCapture(captureNamed("hp_quick_10A"));
  cycleCaseBegin("quick read analysis (57 rows)");
  Measure& b = setGstate().bField;
  b.reset();
  b.computeRMS();
  gSink = volt2current(b.rmsV, ClampParam::hpRes);
  cycleCaseEnd();

  loadCapture(captureNamed("hp_10A_pf080_lag"));
  (void)computePowerFast();
  const GState& g = gstate();
  cycleCaseBegin("packet 3, built and tagged");
  LoRaFrameBuffer p3 = LoRaPacket3::encode(
      LoRaPacket3::makePayload(counter, uid, 24.5f, g.adc.VRef, g.power.powerFactor, g.currCorrected, false), key);
  cycleCaseEnd();
  gBytes = p3.used_bytes();

  const std::array<uint32_t, 3> stUid{0x00350041u, 0x3233510Du, 0x30363738u};
  cycleCaseBegin("packet 8, built and tagged");
  LoRaFrameBuffer p8 =
      LoRaPacket8::encode(LoRaPacket8::makePayloadWithBuild(counter, uid, stUid, g.config.inductive50HzPhaseCorrection,
                                                            g.adc.eFieldSlopeCorrection, g.config.clampMapping,
                                                            "1a2b3c4d", "2024-05-06 07:08:09"),
                          key);
  cycleCaseEnd();
  gBytes = p8.used_bytes();

  LoRaRXPacket14::Args args{};
  args[7] = 0xbcf5c28fu;
  const LoRaFrameBuffer wire =
      LoRaRXPacket14::encode(LoRaRXPacket14::makePayload(counter, uid, LoRaRXPacket14::Op::SET_PhaseShift, args), key);
  LoRaRXPacket14::Payload p14{};
  cycleCaseBegin("packet 14, tag checked and decoded");
  const bool ok = LoRaRXPacket14::decodeWithKey(p14, wire.data(), wire.used_bytes(), key);
  cycleCaseEnd();
  gBytes = ok ? p14.args[7] : 0;
}
