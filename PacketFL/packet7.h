// Measurement packet 7 (116 bytes): the inductive E-field and clamp channel analyses and the power
// computation, as decimal fixed-point integers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packet_encode.h"

namespace LoRaPacket7 {

constexpr uint8_t PACKET_CODE = 7;
constexpr uint8_t PACKET_REV = 5;
constexpr uint8_t MEASURE_CSV_REV = 3;
constexpr uint8_t POWER_CSV_REV = 5;
constexpr size_t WIRE_BODY_BYTES = 112;
constexpr size_t WIRE_MAX_BYTES = 116;
constexpr uint8_t kNoChannel = 255;

constexpr uint8_t MeasureFlagPhaseOk = 1;
constexpr uint8_t PowerFlagBFieldPhaseOk = 1;
constexpr uint8_t PowerFlagEIndPhaseOk = 2;
constexpr uint8_t PowerFlagECapPhaseOk = 4;  // defined for the receiver; never set

// "Q4"/"Q2": four or two decimal places (value x 10^4, x 10^2).
struct MeasurePayload {
  uint8_t chanId;
  uint8_t flags;
  uint16_t sampleCount;
  int32_t average;
  int32_t rmsRawQ4;
  int32_t rmsVQ4;
  uint16_t burdenResistor;
  uint8_t gap18[2];
  int32_t phaseRadQ4;
  int32_t magnitudeQ4;
};
static_assert(sizeof(MeasurePayload) == 28);
static_assert(offsetof(MeasurePayload, chanId) == 0);
static_assert(offsetof(MeasurePayload, flags) == 1);
static_assert(offsetof(MeasurePayload, sampleCount) == 2);
static_assert(offsetof(MeasurePayload, average) == 4);
static_assert(offsetof(MeasurePayload, rmsRawQ4) == 8);
static_assert(offsetof(MeasurePayload, rmsVQ4) == 12);
static_assert(offsetof(MeasurePayload, burdenResistor) == 16);
static_assert(offsetof(MeasurePayload, gap18) == 18);
static_assert(offsetof(MeasurePayload, phaseRadQ4) == 20);
static_assert(offsetof(MeasurePayload, magnitudeQ4) == 24);

struct PowerPayload {
  uint8_t phaseOkMask;
  uint8_t gap1[3];
  int32_t phaseCorrectionRadQ4;
  int32_t eFieldSlopeCorrectionQ4;
  int32_t bPhaseRadQ4;
  int32_t eIndPhaseRadQ4;
  int32_t shiftRadQ4;
  int32_t currOriginalQ4;
  int32_t currCorrectedQ4;
  int32_t power2PfQ4;
  int32_t power2WQ2;
  float clampPhaseShiftRad;
};
static_assert(sizeof(PowerPayload) == 44);
static_assert(offsetof(PowerPayload, phaseOkMask) == 0);
static_assert(offsetof(PowerPayload, gap1) == 1);
static_assert(offsetof(PowerPayload, phaseCorrectionRadQ4) == 4);
static_assert(offsetof(PowerPayload, eFieldSlopeCorrectionQ4) == 8);
static_assert(offsetof(PowerPayload, bPhaseRadQ4) == 12);
static_assert(offsetof(PowerPayload, eIndPhaseRadQ4) == 16);
static_assert(offsetof(PowerPayload, shiftRadQ4) == 20);
static_assert(offsetof(PowerPayload, currOriginalQ4) == 24);
static_assert(offsetof(PowerPayload, currCorrectedQ4) == 28);
static_assert(offsetof(PowerPayload, power2PfQ4) == 32);
static_assert(offsetof(PowerPayload, power2WQ2) == 36);
static_assert(offsetof(PowerPayload, clampPhaseShiftRad) == 40);

struct Payload {
  uint8_t packetCode;
  UID uid;
  LoRaPacketCounterU24 packetCounter;
  uint8_t packetRev;
  uint8_t measureCsvRev;
  uint8_t powerCsvRev;
  uint8_t vRef;
  uint8_t gap11;
  MeasurePayload eFieldInductive;
  MeasurePayload bField;
  PowerPayload power;
};
static_assert(hasWireHeader<Payload>());
static_assert(sizeof(Payload) == WIRE_BODY_BYTES);
static_assert(offsetof(Payload, packetRev) == 7);
static_assert(offsetof(Payload, measureCsvRev) == 8);
static_assert(offsetof(Payload, powerCsvRev) == 9);
static_assert(offsetof(Payload, vRef) == 10);
static_assert(offsetof(Payload, gap11) == 11);
static_assert(offsetof(Payload, eFieldInductive) == 12);
static_assert(offsetof(Payload, bField) == 40);
static_assert(offsetof(Payload, power) == 68);

// What the frame carries of one channel analysis and its channel view.
struct MeasureValues {
  bool hasChannel;  // false: chanId 255, sampleCount and burdenResistor 0
  uint8_t chanId;
  uint16_t sampleCount;
  uint16_t burdenResistor;
  int32_t average;
  float rmsRaw;
  float rmsV;
  bool phaseOk;
  float phaseRad;  // with the channel's fixed correction applied
  float magnitude;
};

// What the frame carries of the power computation.
struct PowerValues {
  bool bFieldPhaseOk;
  bool eIndPhaseOk;
  float phaseCorrectionRad;     // configured inductive phase correction
  float eFieldSlopeCorrection;  // counts per scan
  float bPhaseRad;              // clamp phase as measured, before clamp compensation
  float eIndPhaseRad;
  float shiftRad;  // angle between current (clamp-compensated) and voltage
  float currOriginal;
  float currCorrected;
  float powerFactor;
  float estimatedPowerW;
  float clampPhaseShiftRad;
};

// value x 10^decimalPlaces truncated toward zero, saturated to the signed 32-bit range; NaN gives 0.
int32_t encodeFixed(float value, unsigned decimalPlaces);

MeasurePayload makeMeasurePayload(const MeasureValues& m);
PowerPayload makePowerPayload(const PowerValues& p);
Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, float vRef, const MeasurePayload& eFieldInductive,
                    const MeasurePayload& bField, const PowerPayload& power);

LoRaFrameBuffer encode(const Payload& payload);
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key);
// Receiving side: a frame of exactly WIRE_MAX_BYTES, tagged under key, with this packet's code.
bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key);

}  // namespace LoRaPacket7
