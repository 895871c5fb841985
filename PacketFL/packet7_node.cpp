// Packet 7 from GState: the two channel analyses and the power computation with its phase terms.
#include "packet7_node.h"

#include "clamp_phase_comp.h"
#include "gstate.h"
#include "rms_signal.h"

namespace LoRaPacket7 {

namespace {
uint16_t burdenOf(const Measure& m) { return m.chan != nullptr ? m.chan->burdenResistor : 0; }
}  // namespace

MeasurePayload makeMeasurePayload(const Measure& measure) {
  MeasureValues v{};
  if (measure.chan != nullptr) {
    v.hasChannel = true;
    v.chanId = static_cast<uint8_t>(measure.chan->chanId);
    v.sampleCount = measure.chan->size();
    v.burdenResistor = measure.chan->burdenResistor;
  }
  v.average = measure.average;
  v.rmsRaw = measure.rmsRaw;
  v.rmsV = measure.rmsV;
  v.phaseOk = measure.phaseOk;
  v.phaseRad = measure.getPhaseRad();
  v.magnitude = measure.magnitude;
  return makeMeasurePayload(v);
}

PowerPayload makePowerPayload(const GState& g) {
  const uint16_t burden = burdenOf(g.bField);
  const float eIndPhase = g.eFieldInductive.getPhaseRad();
  const float compensatedB = clampCorrectedBPhaseRad(g.bField.phaseRad, g.currOriginal, burden);
  PowerValues v{};
  v.bFieldPhaseOk = g.bField.phaseOk;
  v.eIndPhaseOk = g.eFieldInductive.phaseOk;
  v.phaseCorrectionRad = g.config.inductive50HzPhaseCorrection;
  v.eFieldSlopeCorrection = g.adc.eFieldSlopeCorrection;
  v.bPhaseRad = g.bField.phaseRad;  // as measured: the receiver sees both it and the shift
  v.eIndPhaseRad = eIndPhase;
  v.shiftRad = powerShiftRad(compensatedB, eIndPhase);
  v.currOriginal = g.currOriginal;
  v.currCorrected = g.currCorrected;
  v.powerFactor = g.power.powerFactor;
  v.estimatedPowerW = g.power.estimatedPower;
  v.clampPhaseShiftRad = clampPhaseShiftRad(g.currOriginal, burden);
  return makePowerPayload(v);
}

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, const GState& g) {
  return makePayload(counter, uid, g.adc.VRef, makeMeasurePayload(g.eFieldInductive), makeMeasurePayload(g.bField),
                     makePowerPayload(g));
}

}  // namespace LoRaPacket7
