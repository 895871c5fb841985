// Packet 7 payload from measurement values, in decimal fixed point.
#include "packet7.h"

#include <cmath>

#include "packet3.h"

namespace LoRaPacket7 {

int32_t encodeFixed(float value, unsigned decimalPlaces) {
  int32_t scaleInt = 1;
  for (unsigned i = 0; i < decimalPlaces && i < 9; ++i) scaleInt *= 10;
  const float x = static_cast<float>(scaleInt) * value;
  if (std::isnan(x)) return 0;
  if (x >= 2147483648.0f) return INT32_MAX;
  if (x <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(x);
}

MeasurePayload makeMeasurePayload(const MeasureValues& m) {
  MeasurePayload p{};
  p.chanId = kNoChannel;
  if (m.hasChannel) {
    p.chanId = m.chanId;
    p.sampleCount = m.sampleCount;
    p.burdenResistor = m.burdenResistor;
  }
  p.average = m.average;
  p.rmsRawQ4 = encodeFixed(m.rmsRaw, 4);
  p.rmsVQ4 = encodeFixed(m.rmsV, 4);
  p.phaseRadQ4 = encodeFixed(m.phaseRad, 4);
  p.magnitudeQ4 = encodeFixed(m.magnitude, 4);
  if (m.phaseOk) p.flags |= MeasureFlagPhaseOk;
  return p;
}

PowerPayload makePowerPayload(const PowerValues& v) {
  PowerPayload p{};
  if (v.bFieldPhaseOk) p.phaseOkMask |= PowerFlagBFieldPhaseOk;
  if (v.eIndPhaseOk) p.phaseOkMask |= PowerFlagEIndPhaseOk;
  p.phaseCorrectionRadQ4 = encodeFixed(v.phaseCorrectionRad, 4);
  p.eFieldSlopeCorrectionQ4 = encodeFixed(v.eFieldSlopeCorrection, 4);
  p.bPhaseRadQ4 = encodeFixed(v.bPhaseRad, 4);
  p.eIndPhaseRadQ4 = encodeFixed(v.eIndPhaseRad, 4);
  p.shiftRadQ4 = encodeFixed(v.shiftRad, 4);
  p.currOriginalQ4 = encodeFixed(v.currOriginal, 4);
  p.currCorrectedQ4 = encodeFixed(v.currCorrected, 4);
  p.power2PfQ4 = encodeFixed(v.powerFactor, 4);
  p.power2WQ2 = encodeFixed(v.estimatedPowerW, 2);
  p.clampPhaseShiftRad = v.clampPhaseShiftRad;
  return p;
}

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, float vRef, const MeasurePayload& eFieldInductive,
                    const MeasurePayload& bField, const PowerPayload& power) {
  Payload p{};
  p.packetRev = PACKET_REV;
  p.measureCsvRev = MEASURE_CSV_REV;
  p.powerCsvRev = POWER_CSV_REV;
  p.packetCode = PACKET_CODE;
  p.packetCounter = counter;
  p.uid = uid;
  p.vRef = encodeVbatScaled(vRef);
  p.eFieldInductive = eFieldInductive;
  p.bField = bField;
  p.power = power;
  return p;
}

LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key) { return encodePayloadWithHmac(payload, key); }

bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  return decodePayloadWithHmac(payload, wire, len, key, PACKET_CODE);
}

}  // namespace LoRaPacket7
