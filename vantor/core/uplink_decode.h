// Decoding of every uplink frame the node sends (packets 3/5, 4, 7, 8, 9, 10, 17) with the node's
// own layouts and keyed decoders: length, tag under a given key, and the fields in physical units.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "HMAC.h"
#include "packet10.h"

namespace vantor {

// One scan row of a capture frame; packet 4 carries no capacitive value.
struct CaptureRow {
  int16_t bField;
  int16_t eFieldInd;
  std::optional<int16_t> eFieldCap;
};

struct DecodedUplink {
  uint8_t code = 0;
  uint32_t uid = 0;
  uint32_t counter = 0;
  bool hasHeader = false;  // at least the 7 header bytes
  bool lengthOk = false;   // the length this code must have
  bool tagOk = false;      // the tag verifies under the key given
  bool copiesOk = true;    // the copies of packets 10 and 17 agree
  nlohmann::json fields = nlohmann::json::object();

  LoRaPacket10::StUid chip{};  // packet 10: the chip's unique ID (copy 0)
  bool ackOk = false;          // packet 17
  uint8_t ackReason = 0;
  uint8_t sequence = 0;  // packets 4 and 9
  size_t maxReadings = 0;
  std::vector<CaptureRow> rows;
};

bool isUplinkCode(uint8_t code);
// The length a frame of this code must have (captures: for the frame's own reading count); 0 for
// a code that is not an uplink.
size_t expectedLength(const uint8_t* wire, size_t len);
DecodedUplink decodeUplink(const uint8_t* wire, size_t len, const HMAC::Key& key);

// "Applied", "Unchanged", ...; "reason N" for a value outside the table.
std::string ackReasonName(uint8_t reason);
// The shortest text that reads back as the same single-precision value, and that value as a
// double (so 0.001f shows as 0.001, not as its binary expansion).
std::string floatText(float v);
double floatValue(float v);
// Upper-case hex digits, no separators.
std::string hexText(const uint8_t* data, size_t len);
// 24 upper-case hex digits, the unique-ID bytes as on the wire (as the node's "info" shows them).
std::string chipIdText(const LoRaPacket10::StUid& chip);
// A node's identity as the CLI and the pictures name it: "0x" and six hex digits.
std::string uidText(uint32_t uid);
// "0x1A2B3C" or "1A2B3C": 1 to 6 hex digits; nothing for any other text.
std::optional<uint32_t> parseUid(const std::string& text);

}  // namespace vantor
