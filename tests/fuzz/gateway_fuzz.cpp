// The packet forwarder's protocol over arbitrary datagrams, as the gateway port reads them: nothing
// may crash or read outside the datagram, and what is read is what was sent:
// - a datagram that parses is written back byte for byte by the encoder;
// - every rxpk taken has its "size" bytes of data (never more than a frame holds), its base64 read
//   back as written (padding aside);
// - a TX_ACK's body gives a result or an error text, never neither; so does a PULL_RESP's.
// The JSON body of a datagram without one (PULL_DATA) is tried as each body in turn too, so the
// corpus seeds reach the JSON readers whatever their header says.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gateway_protocol.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "gateway_fuzz: %s\n", what);
    std::abort();
  }
}

std::string withoutPadding(std::string s) {
  while (!s.empty() && s.back() == '=') s.pop_back();
  return s;
}

void bodies(const std::string& json) {
  gateway::PushData p;
  std::string error;
  if (gateway::parsePushData(json, p, error)) {
    for (const gateway::Rxpk& r : p.rxpk) {
      check(r.data.size() <= 255, "an rxpk longer than a frame");
      check(!gateway::base64Encode(r.data).empty() || r.data.empty(), "base64 of data lost");
    }
    check(p.rxpk.size() + p.rxpkErrors.size() <= gateway::kMaxRxpk, "more rxpk than taken");
    for (const std::string& e : p.rxpkErrors) check(!e.empty(), "an rxpk refused without a reason");
  } else {
    check(!error.empty(), "a PUSH_DATA refused without a reason");
  }
  std::string result;
  error.clear();
  if (gateway::parseTxAck(json, result, error)) {
    check(!result.empty(), "a TX_ACK without a result");
  } else {
    check(!error.empty(), "a TX_ACK refused without a reason");
  }
  gateway::Txpk t;
  error.clear();
  if (!gateway::parsePullResp(json, t, error)) check(!error.empty(), "a PULL_RESP refused without a reason");
  // Base64 read back as written.
  gateway::Bytes b;
  error.clear();
  if (gateway::base64Decode(json, b, error)) {
    check(withoutPadding(gateway::base64Encode(b)) == withoutPadding(json), "base64 not read back as written");
  } else {
    check(!error.empty(), "base64 refused without a reason");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  gateway::Datagram d;
  std::string error;
  if (gateway::parseDatagram(data, size, d, error)) {
    const gateway::Bytes again = gateway::encodeDatagram(d);
    check(again.size() == size && std::equal(again.begin(), again.end(), data), "a datagram not written back as read");
    bodies(d.json);
  } else {
    check(!error.empty(), "a datagram refused without a reason");
  }
  // The bytes after a header and an EUI as a body, whatever the header said.
  if (size > gateway::kHeaderBytes + gateway::kEuiBytes) {
    bodies(std::string(reinterpret_cast<const char*>(data) + 12, size - 12));
  }
  return 0;
}
