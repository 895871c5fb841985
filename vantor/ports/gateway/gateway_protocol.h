// The packet forwarder's UDP protocol, both ways: the datagrams' header (version, token,
// identifier, gateway EUI), the JSON of rxpk/stat (up), txpk (down) and txpk_ack, and base64.
// Pure values and texts, no sockets: the Vantor's gateway port and the simulated gateway share it.
// Every malformed input gives a clear error text instead of a value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gateway {

using Bytes = std::vector<uint8_t>;

enum class Ident : uint8_t {
  pushData = 0x00,
  pushAck = 0x01,
  pullData = 0x02,
  pullResp = 0x03,
  pullAck = 0x04,
  txAck = 0x05
};
const char* identName(Ident id);

inline constexpr uint8_t kVersion1 = 1;  // the oldest forwarders: no TX_ACK
inline constexpr uint8_t kVersion2 = 2;
inline constexpr size_t kHeaderBytes = 4;
inline constexpr size_t kEuiBytes = 8;
// Beyond what any forwarder sends: deeper nesting is refused before parsing, more frames than a
// concentrator's largest fetch (255) in one PUSH_DATA refuse the datagram.
inline constexpr int kMaxJsonDepth = 8;
inline constexpr size_t kMaxRxpk = 255;

struct Datagram {
  uint8_t version = kVersion2;
  uint16_t token = 0;
  Ident ident = Ident::pushData;
  uint64_t eui = 0;  // gateway → server datagrams (PUSH_DATA, PULL_DATA, TX_ACK)
  std::string json;  // PUSH_DATA, PULL_RESP, TX_ACK (may be empty)
};
// Whether a datagram of this identifier carries the gateway's EUI (those sent by a gateway).
bool carriesEui(Ident id);

// Parses a datagram's header, EUI and body. Fails on a short datagram, an unknown version or
// identifier, a body where none belongs, or a PUSH_DATA/PULL_RESP without one.
bool parseDatagram(const uint8_t* data, size_t len, Datagram& out, std::string& error);
Bytes encodeDatagram(const Datagram& d);
std::string euiText(uint64_t eui);  // 16 upper-case hex digits

// One received frame as a gateway reports it.
struct Rxpk {
  std::optional<std::string> time;  // UTC, ISO 8601
  uint32_t tmst = 0;                // the concentrator's µs counter at the frame's end
  double freqMHz = 0;
  int chan = 0;
  int rfch = 0;
  int stat = 0;  // CRC: 1 ok, -1 bad, 0 none
  std::string modu;
  std::string datr;
  std::string codr;
  double rssi = 0;  // dBm
  double lsnr = 0;  // dB
  Bytes data;
};

// The gateway's status.
struct Stat {
  std::optional<std::string> time;
  std::optional<double> lati;
  std::optional<double> lon;
  std::optional<double> alti;
  std::optional<int64_t> rxnb, rxok, rxfw, dwnb, txnb;
  std::optional<double> ackr;
};

struct PushData {
  std::vector<Rxpk> rxpk;               // the well-formed ones
  std::vector<std::string> rxpkErrors;  // one text per malformed rxpk, which is left out
  std::optional<Stat> stat;
};
// The JSON of a PUSH_DATA. Fails only when the whole body is unusable (not JSON, not an object,
// nested too deep, rxpk not an array, stat not an object); a malformed rxpk is reported in
// rxpkErrors and the others are kept.
bool parsePushData(const std::string& json, PushData& out, std::string& error);
std::string encodePushData(const PushData& p);

// A frame to send.
struct Txpk {
  bool imme = false;
  std::optional<uint32_t> tmst;  // when the concentrator's counter reaches it (else imme)
  double freqMHz = 868.0;
  int rfch = 0;
  int powe = 14;
  std::string modu = "LORA";
  std::string datr = "SF7BW125";
  std::string codr = "4/5";
  bool ipol = false;
  int prea = 8;
  bool ncrc = false;  // true: no payload CRC
  Bytes data;
};
std::string encodePullResp(const Txpk& t);
bool parsePullResp(const std::string& json, Txpk& out, std::string& error);

// TX_ACK's body: "NONE" for an empty body or {"txpk_ack":{"error":"NONE"}}.
std::string encodeTxAck(const std::string& error);
bool parseTxAck(const std::string& json, std::string& result, std::string& error);

std::string base64Encode(const Bytes& data);
// Padded base64 (RFC 4648); padding may be left off, as some forwarders do.
bool base64Decode(const std::string& text, Bytes& out, std::string& error);

}  // namespace gateway
