// Uplink frames to fields, through the node's own decoders under the key the Vantor holds.
#include "uplink_decode.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "packet10.h"
#include "packet17.h"
#include "packet3.h"
#include "packet4.h"
#include "packet7.h"
#include "packet8.h"
#include "packet9.h"

namespace vantor {

namespace {

using nlohmann::json;

double q4(int32_t v) { return static_cast<double>(v) / 1e4; }
double q2(int32_t v) { return static_cast<double>(v) / 1e2; }

// A text field of the frame as JSON can hold it: printable ASCII as it stands, any other byte as
// \xHH (a field that is not UTF-8 would make every write of the frame's record throw).
std::string fixedText(const char* field, size_t width) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < width && field[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(field[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x";
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 15]);
    }
  }
  return out;
}

void telemetry(DecodedUplink& d, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  LoRaPacket3::Payload p{};
  d.tagOk = LoRaPacket3::decode(p, wire, len, key);
  if (!d.tagOk) return;
  // Each field back to its unit at the resolution it was sent with.
  d.fields["temperature_c"] = (static_cast<double>(p.temperature) - 75.0) / 3.0;
  d.fields["supply_v"] = (2500.0 + 5.0 * p.vbat) / 1000.0;
  d.fields["power_factor"] = static_cast<double>(p.pf) / 100.0;
  d.fields["current_a"] = static_cast<double>(p.curr) / 1000.0;
  d.fields["listen"] = p.packetCode == LoRaPacket3::PACKET_CODE_OPEN_RX;
}

json measureFields(const LoRaPacket7::MeasurePayload& m) {
  json j;
  j["chan_id"] = m.chanId;
  j["phase_ok"] = (m.flags & LoRaPacket7::MeasureFlagPhaseOk) != 0;
  j["sample_count"] = m.sampleCount;
  j["average"] = m.average;
  j["rms_raw"] = q4(m.rmsRawQ4);
  j["rms_v"] = q4(m.rmsVQ4);
  j["burden_resistor"] = m.burdenResistor;
  j["phase_rad"] = q4(m.phaseRadQ4);
  j["magnitude"] = q4(m.magnitudeQ4);
  return j;
}

void measurements(DecodedUplink& d, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  LoRaPacket7::Payload p{};
  d.tagOk = LoRaPacket7::decode(p, wire, len, key);
  if (!d.tagOk) return;
  d.fields["packet_rev"] = p.packetRev;
  d.fields["supply_v"] = (2500.0 + 5.0 * p.vRef) / 1000.0;
  d.fields["e_field_inductive"] = measureFields(p.eFieldInductive);
  d.fields["b_field"] = measureFields(p.bField);
  const LoRaPacket7::PowerPayload& w = p.power;
  json power;
  power["b_phase_ok"] = (w.phaseOkMask & LoRaPacket7::PowerFlagBFieldPhaseOk) != 0;
  power["e_ind_phase_ok"] = (w.phaseOkMask & LoRaPacket7::PowerFlagEIndPhaseOk) != 0;
  power["phase_correction_rad"] = q4(w.phaseCorrectionRadQ4);
  power["e_field_slope_correction"] = q4(w.eFieldSlopeCorrectionQ4);
  power["b_phase_rad"] = q4(w.bPhaseRadQ4);
  power["e_ind_phase_rad"] = q4(w.eIndPhaseRadQ4);
  power["shift_rad"] = q4(w.shiftRadQ4);
  power["current_original_a"] = q4(w.currOriginalQ4);
  power["current_a"] = q4(w.currCorrectedQ4);
  power["power_factor"] = q4(w.power2PfQ4);
  power["power_w"] = q2(w.power2WQ2);
  power["clamp_phase_shift_rad"] = floatValue(w.clampPhaseShiftRad);
  d.fields["power"] = power;
}

void configuration(DecodedUplink& d, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  LoRaPacket8::Payload p{};
  d.tagOk = LoRaPacket8::decode(p, wire, len, key);
  if (!d.tagOk) return;
  d.fields["git_revision"] = fixedText(p.gitRevision, sizeof p.gitRevision);
  d.fields["build_timestamp"] = fixedText(p.buildTimestamp, sizeof p.buildTimestamp);
  d.fields["phase_correction_rad"] = floatValue(p.phaseCorrection);
  d.fields["e_field_slope_correction"] = floatValue(p.eFieldSlopeCorrection);
  std::array<uint32_t, 3> words{};
  std::memcpy(words.data(), p.stUID, sizeof p.stUID);
  d.fields["chip_id"] = chipIdText(LoRaPacket10::packStUidBytes(words));
  json table = json::array();
  for (const TablePoint& t : p.clampMapping) table.push_back({floatValue(t.input), floatValue(t.output)});
  d.fields["clamp_mapping"] = table;
  d.fields["hw_revision"] = p.hwRevision;
}

void provisioning(DecodedUplink& d, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  LoRaPacket10::Payload p{};
  d.tagOk = LoRaPacket10::decode(p, wire, len, key);
  if (!d.tagOk) return;
  d.copiesOk = LoRaPacket10::verifyProvisionedUidCopies(p) && LoRaPacket10::verifyStUidCopies(p) &&
               LoRaPacket10::verifyPhaseTagCopies(p);
  d.chip = p.stUid[0];
  d.fields["chip_id"] = chipIdText(d.chip);
  d.fields["phase_tag"] = p.phaseTag[0];
  d.fields["copies_ok"] = d.copiesOk;
}

void acknowledgement(DecodedUplink& d, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  LoRaPacket17::Payload p{};
  d.tagOk = LoRaPacket17::decode(p, wire, len, key);
  if (!d.tagOk) return;
  d.copiesOk = LoRaPacket17::verifyOkCopies(p) && LoRaPacket17::verifyReasonCopies(p);
  d.ackOk = p.ok[0] != 0;
  d.ackReason = p.reason[0];
  d.fields["ok"] = d.ackOk;
  d.fields["reason"] = ackReasonName(d.ackReason);
  d.fields["copies_ok"] = d.copiesOk;
}

template <typename Payload, typename DecodeRow>
void capture(DecodedUplink& d, const uint8_t* wire, size_t len, const HMAC::Key& key, uint8_t code,
             DecodeRow decodeRow) {
  Payload p{};
  d.tagOk = decodeCapture(p, wire, len, key, code);
  if (!d.tagOk) return;
  d.sequence = p.header.sequence;
  d.maxReadings = Payload::kMaxReadings;
  for (size_t i = 0; i < p.header.readings; ++i) d.rows.push_back(decodeRow(p.adc[i].word()));
  d.fields["sequence"] = p.header.sequence;
  d.fields["readings"] = p.header.readings;
}

CaptureRow packet4Row(uint32_t w) {
  const int32_t b12 = static_cast<int32_t>(w & 0xFFFu);
  return CaptureRow{static_cast<int16_t>(b12 >= 2048 ? b12 - 4096 : b12), static_cast<int16_t>((w >> 12) & 0xFFFu),
                    std::nullopt};
}

CaptureRow packet9Row(uint32_t w) {
  const LoRaPacket9::SampleValues v = LoRaPacket9::decodeAdcSampleValues(w);
  return CaptureRow{v.bField, v.eFieldInd, v.eFieldCap};
}

}  // namespace

bool isUplinkCode(uint8_t code) {
  switch (code) {
    case 3:
    case 4:
    case 5:
    case 7:
    case 8:
    case 9:
    case 10:
    case 17: return true;
    default: return false;
  }
}

size_t expectedLength(const uint8_t* wire, size_t len) {
  if (wire == nullptr || len == 0) return 0;
  switch (wire[0]) {
    case LoRaPacket3::PACKET_CODE:
    case LoRaPacket3::PACKET_CODE_OPEN_RX: return LoRaPacket3::WIRE_MAX_BYTES;
    case LoRaPacket7::PACKET_CODE: return LoRaPacket7::WIRE_MAX_BYTES;
    case LoRaPacket8::PACKET_CODE: return LoRaPacket8::WIRE_MAX_BYTES;
    case LoRaPacket10::PACKET_CODE: return LoRaPacket10::WIRE_MAX_BYTES;
    case LoRaPacket17::PACKET_CODE: return LoRaPacket17::WIRE_MAX_BYTES;
    case LoRaPacket4::PACKET_CODE:
    case LoRaPacket9::PACKET_CODE: {
      if (len < kCaptureHeaderBytes) return kCaptureHeaderBytes;
      const size_t sample = wire[0] == LoRaPacket4::PACKET_CODE ? 3 : 4;
      const size_t most = wire[0] == LoRaPacket4::PACKET_CODE ? LoRaPacket4::MaxReadings : LoRaPacket9::MaxReadings;
      const size_t readings = wire[offsetof(CaptureHeader, readings)];
      return readings > most ? 0 : kCaptureHeaderBytes + sample * readings;
    }
    default: return 0;
  }
}

DecodedUplink decodeUplink(const uint8_t* wire, size_t len, const HMAC::Key& key) {
  DecodedUplink d;
  PacketHeader h{};
  if (!PacketHeader::read(h, wire, len)) {
    if (wire != nullptr && len > 0) d.code = wire[0];
    return d;
  }
  d.hasHeader = true;
  d.code = h.packetCode;
  d.uid = h.uid.toU24();
  d.counter = h.packetCounter.toU32();
  d.lengthOk = isUplinkCode(d.code) && len == expectedLength(wire, len);
  if (!d.lengthOk) return d;
  switch (d.code) {
    case 3:
    case 5: telemetry(d, wire, len, key); break;
    case 7: measurements(d, wire, len, key); break;
    case 8: configuration(d, wire, len, key); break;
    case 10: provisioning(d, wire, len, key); break;
    case 17: acknowledgement(d, wire, len, key); break;
    case 4: capture<LoRaPacket4::Payload>(d, wire, len, key, 4, packet4Row); break;
    case 9: capture<LoRaPacket9::Payload>(d, wire, len, key, 9, packet9Row); break;
    default: break;
  }
  if (!d.tagOk) d.fields = json::object();
  return d;
}

std::string ackReasonName(uint8_t reason) {
  switch (static_cast<LoRaPacket17::Reason>(reason)) {
    case LoRaPacket17::Reason::FECFail: return "FECFail";
    case LoRaPacket17::Reason::InvalidOpcode: return "InvalidOpcode";
    case LoRaPacket17::Reason::Applied: return "Applied";
    case LoRaPacket17::Reason::Unchanged: return "Unchanged";
    case LoRaPacket17::Reason::RejectedValue: return "RejectedValue";
    case LoRaPacket17::Reason::CommitFailed: return "CommitFailed";
  }
  return "reason " + std::to_string(reason);
}

std::string hexText(const uint8_t* data, size_t len) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < len; ++i) {
    s.push_back(kDigits[data[i] >> 4]);
    s.push_back(kDigits[data[i] & 15]);
  }
  return s;
}

std::string floatText(float v) {
  char buf[48];
  // An exponent only where plain digits would need leading or trailing zeros beyond a float's nine
  // (600 reads "600", not "6e+02").
  const double a = std::fabs(static_cast<double>(v));
  const bool plain = a >= 1e-4 && a < 1e9;
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v));
    if (std::strtof(buf, nullptr) == v && !(plain && std::strchr(buf, 'e') != nullptr)) break;
  }
  return buf;
}

double floatValue(float v) { return std::strtod(floatText(v).c_str(), nullptr); }

std::string uidText(uint32_t uid) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06" PRIX32, uid);
  return buf;
}

std::optional<uint32_t> parseUid(const std::string& text) {
  std::string digits = text;
  if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) digits = digits.substr(2);
  if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
}

std::string chipIdText(const LoRaPacket10::StUid& chip) { return hexText(chip.data(), chip.size()); }

}  // namespace vantor
