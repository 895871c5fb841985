// The packet forwarder's protocol: datagrams, their JSON and base64.
#include "gateway_protocol.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

namespace gateway {

using nlohmann::json;

namespace {

std::string hex2(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "0x%02X", v & 0xFFu);
  return b;
}

// The deepest nesting of arrays and objects in a JSON text, strings skipped; stops counting once
// beyond `limit`.
int nestingDepth(const std::string& text, int limit) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, ++depth);
      if (deepest > limit) break;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}

// The body as a JSON object, or why not.
bool parseObject(const std::string& text, json& out, std::string& error) {
  if (nestingDepth(text, kMaxJsonDepth) > kMaxJsonDepth) {
    error = "JSON body nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    return false;
  }
  try {
    out = json::parse(text);
  } catch (const json::parse_error& e) {
    std::string what = e.what();
    if (const size_t at = what.find("] "); what.rfind("[json.exception", 0) == 0 && at != std::string::npos) {
      what = what.substr(at + 2);
    }
    error = "JSON body does not parse: " + what;
    return false;
  }
  if (!out.is_object()) {
    error = "JSON body is not an object";
    return false;
  }
  return true;
}

// Reading the fields of one JSON object, each failure a text naming the object and the field.
class Fields {
 public:
  Fields(const json& object, std::string where) : o_(object), where_(std::move(where)) {}

  bool has(const char* name) const { return o_.contains(name); }
  bool number(const char* name, double& out) {
    const json* v = find(name);
    if (v == nullptr) return false;
    if (!v->is_number()) return fail(name, "is not a number");
    out = v->get<double>();
    if (!std::isfinite(out)) return fail(name, "is not a finite number");
    return true;
  }
  bool integer(const char* name, int64_t lo, int64_t hi, int64_t& out) {
    const json* v = find(name);
    if (v == nullptr) return false;
    if (!v->is_number_integer() || (v->is_number_unsigned() && v->get<uint64_t>() > static_cast<uint64_t>(hi))) {
      return fail(name, "is not an integer from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    out = v->get<int64_t>();
    if (out < lo || out > hi)
      return fail(name, "is not an integer from " + std::to_string(lo) + " to " + std::to_string(hi));
    return true;
  }
  bool text(const char* name, std::string& out) {
    const json* v = find(name);
    if (v == nullptr) return false;
    if (!v->is_string()) return fail(name, "is not a string");
    out = v->get<std::string>();
    return true;
  }
  bool boolean(const char* name, bool& out) {
    const json* v = find(name);
    if (v == nullptr) return false;
    if (!v->is_boolean()) return fail(name, "is not true or false");
    out = v->get<bool>();
    return true;
  }
  // The optional ones: absent is fine, present must be right.
  template <typename T, typename Read>
  bool optional(const char* name, std::optional<T>& out, Read read) {
    if (!has(name)) return true;
    T v{};
    if (!read(name, v)) return false;
    out = v;
    return true;
  }
  bool fail(const char* name, const std::string& what) {
    error = where_ + ": \"" + name + "\" " + what;
    return false;
  }
  std::string error;

 private:
  const json* find(const char* name) {
    const auto it = o_.find(name);
    if (it == o_.end()) {
      fail(name, "is missing");
      return nullptr;
    }
    return &*it;
  }
  const json& o_;
  std::string where_;
};

// The payload of an rxpk or txpk: "data" in base64, its length in "size".
bool payload(Fields& f, const char* where, Bytes& out) {
  int64_t size = 0;
  std::string data;
  if (!f.integer("size", 0, 255, size) || !f.text("data", data)) return false;
  std::string error;
  if (!base64Decode(data, out, error)) return f.fail("data", error);
  if (out.size() != static_cast<size_t>(size)) {
    f.error = std::string(where) + ": \"size\" is " + std::to_string(size) + " but \"data\" holds " +
              std::to_string(out.size()) + " bytes";
    return false;
  }
  return true;
}

bool parseRxpk(const json& o, Rxpk& r, std::string& error) {
  if (!o.is_object()) {
    error = "rxpk: an element is not an object";
    return false;
  }
  Fields f(o, "rxpk");
  int64_t tmst = 0;
  int64_t stat = 0;
  int64_t chan = 0;
  int64_t rfch = 0;
  bool ok = f.optional<std::string>("time", r.time, [&](const char* n, std::string& v) { return f.text(n, v); }) &&
            f.integer("tmst", 0, UINT32_MAX, tmst) && f.number("freq", r.freqMHz) &&
            (!f.has("chan") || f.integer("chan", 0, 255, chan)) &&
            (!f.has("rfch") || f.integer("rfch", 0, 255, rfch)) && f.integer("stat", -1, 1, stat) &&
            f.text("modu", r.modu) && f.number("rssi", r.rssi);
  if (ok) {
    // FSK gives its rate in bit/s as a number; LoRa as "SF7BW125", with a coding rate and an SNR.
    if (o.contains("datr") && o["datr"].is_number()) {
      r.datr = o["datr"].dump();
    } else {
      ok = f.text("datr", r.datr);
    }
  }
  if (ok && r.modu == "LORA") ok = f.text("codr", r.codr) && f.number("lsnr", r.lsnr);
  if (ok) ok = payload(f, "rxpk", r.data);
  if (!ok) {
    error = f.error;
    return false;
  }
  r.tmst = static_cast<uint32_t>(tmst);
  r.stat = static_cast<int>(stat);
  r.chan = static_cast<int>(chan);
  r.rfch = static_cast<int>(rfch);
  return true;
}

bool parseStat(const json& o, Stat& s, std::string& error) {
  Fields f(o, "stat");
  const auto text = [&](const char* n, std::string& v) { return f.text(n, v); };
  const auto number = [&](const char* n, double& v) { return f.number(n, v); };
  const auto count = [&](const char* n, int64_t& v) { return f.integer(n, 0, INT64_MAX, v); };
  const bool ok = f.optional<std::string>("time", s.time, text) && f.optional<double>("lati", s.lati, number) &&
                  f.optional<double>("long", s.lon, number) && f.optional<double>("alti", s.alti, number) &&
                  f.optional<int64_t>("rxnb", s.rxnb, count) && f.optional<int64_t>("rxok", s.rxok, count) &&
                  f.optional<int64_t>("rxfw", s.rxfw, count) && f.optional<double>("ackr", s.ackr, number) &&
                  f.optional<int64_t>("dwnb", s.dwnb, count) && f.optional<int64_t>("txnb", s.txnb, count);
  if (!ok) error = f.error;
  return ok;
}

}  // namespace

const char* identName(Ident id) {
  switch (id) {
    case Ident::pushData: return "PUSH_DATA";
    case Ident::pushAck: return "PUSH_ACK";
    case Ident::pullData: return "PULL_DATA";
    case Ident::pullResp: return "PULL_RESP";
    case Ident::pullAck: return "PULL_ACK";
    case Ident::txAck: return "TX_ACK";
  }
  return "?";
}

bool carriesEui(Ident id) { return id == Ident::pushData || id == Ident::pullData || id == Ident::txAck; }

std::string euiText(uint64_t eui) {
  char b[20];
  std::snprintf(b, sizeof b, "%016llX", static_cast<unsigned long long>(eui));
  return b;
}

bool parseDatagram(const uint8_t* data, size_t len, Datagram& out, std::string& error) {
  if (len < kHeaderBytes) {
    error = "datagram of " + std::to_string(len) + " bytes, shorter than the 4-byte header";
    return false;
  }
  if (data[0] != kVersion1 && data[0] != kVersion2) {
    error = "unknown protocol version " + std::to_string(data[0]);
    return false;
  }
  if (data[3] > static_cast<uint8_t>(Ident::txAck)) {
    error = "unknown identifier " + hex2(data[3]);
    return false;
  }
  out = Datagram{};
  out.version = data[0];
  out.token = static_cast<uint16_t>(data[1] << 8 | data[2]);
  out.ident = static_cast<Ident>(data[3]);
  size_t at = kHeaderBytes;
  if (carriesEui(out.ident)) {
    if (len < at + kEuiBytes) {
      error = std::string(identName(out.ident)) + " of " + std::to_string(len) +
              " bytes, shorter than its header and gateway EUI (12 bytes)";
      return false;
    }
    for (size_t i = 0; i < kEuiBytes; ++i) out.eui = out.eui << 8 | data[at + i];
    at += kEuiBytes;
  }
  const size_t body = len - at;
  const bool takesBody = out.ident == Ident::pushData || out.ident == Ident::pullResp || out.ident == Ident::txAck;
  if (!takesBody && body != 0) {
    error = std::string(identName(out.ident)) + " with " + std::to_string(body) + " bytes after its header";
    return false;
  }
  if ((out.ident == Ident::pushData || out.ident == Ident::pullResp) && body == 0) {
    error = std::string(identName(out.ident)) + " without its JSON body";
    return false;
  }
  out.json.assign(reinterpret_cast<const char*>(data + at), body);
  return true;
}

Bytes encodeDatagram(const Datagram& d) {
  Bytes out{d.version, static_cast<uint8_t>(d.token >> 8), static_cast<uint8_t>(d.token),
            static_cast<uint8_t>(d.ident)};
  if (carriesEui(d.ident)) {
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<uint8_t>(d.eui >> (8 * i)));
  }
  out.insert(out.end(), d.json.begin(), d.json.end());
  return out;
}

bool parsePushData(const std::string& text, PushData& out, std::string& error) {
  out = PushData{};
  json o;
  if (!parseObject(text, o, error)) return false;
  if (const auto it = o.find("rxpk"); it != o.end()) {
    if (!it->is_array()) {
      error = "\"rxpk\" is not an array";
      return false;
    }
    if (it->size() > kMaxRxpk) {
      error = "\"rxpk\" holds " + std::to_string(it->size()) + " frames, more than " + std::to_string(kMaxRxpk);
      return false;
    }
    for (const json& e : *it) {
      Rxpk r;
      std::string why;
      if (parseRxpk(e, r, why)) {
        out.rxpk.push_back(std::move(r));
      } else {
        out.rxpkErrors.push_back(why);
      }
    }
  }
  if (const auto it = o.find("stat"); it != o.end()) {
    if (!it->is_object()) {
      error = "\"stat\" is not an object";
      return false;
    }
    Stat s;
    if (!parseStat(*it, s, error)) return false;
    out.stat = s;
  }
  return true;
}

std::string encodePushData(const PushData& p) {
  json o = json::object();
  if (!p.rxpk.empty()) {
    json list = json::array();
    for (const Rxpk& r : p.rxpk) {
      json e = json::object();
      if (r.time) e["time"] = *r.time;
      e["tmst"] = r.tmst;
      e["freq"] = r.freqMHz;
      e["chan"] = r.chan;
      e["rfch"] = r.rfch;
      e["stat"] = r.stat;
      e["modu"] = r.modu;
      e["datr"] = r.datr;
      e["codr"] = r.codr;
      // As forwarders write them: RSSI in whole dBm, SNR to a tenth of a dB.
      e["rssi"] = std::lround(r.rssi);
      e["lsnr"] = std::round(r.lsnr * 10.0) / 10.0;
      e["size"] = r.data.size();
      e["data"] = base64Encode(r.data);
      list.push_back(std::move(e));
    }
    o["rxpk"] = std::move(list);
  }
  if (p.stat) {
    const Stat& s = *p.stat;
    json st = json::object();
    if (s.time) st["time"] = *s.time;
    if (s.lati) st["lati"] = *s.lati;
    if (s.lon) st["long"] = *s.lon;
    if (s.alti) st["alti"] = *s.alti;
    if (s.rxnb) st["rxnb"] = *s.rxnb;
    if (s.rxok) st["rxok"] = *s.rxok;
    if (s.rxfw) st["rxfw"] = *s.rxfw;
    if (s.ackr) st["ackr"] = *s.ackr;
    if (s.dwnb) st["dwnb"] = *s.dwnb;
    if (s.txnb) st["txnb"] = *s.txnb;
    o["stat"] = std::move(st);
  }
  return o.dump();
}

std::string encodePullResp(const Txpk& t) {
  json p = json::object();
  if (t.tmst) {
    p["tmst"] = *t.tmst;
  } else {
    p["imme"] = true;
  }
  p["freq"] = t.freqMHz;
  p["rfch"] = t.rfch;
  p["powe"] = t.powe;
  p["modu"] = t.modu;
  p["datr"] = t.datr;
  p["codr"] = t.codr;
  p["ipol"] = t.ipol;
  p["prea"] = t.prea;
  p["ncrc"] = t.ncrc;
  p["size"] = t.data.size();
  p["data"] = base64Encode(t.data);
  return json{{"txpk", p}}.dump();
}

bool parsePullResp(const std::string& text, Txpk& out, std::string& error) {
  out = Txpk{};
  json o;
  if (!parseObject(text, o, error)) return false;
  const auto it = o.find("txpk");
  if (it == o.end() || !it->is_object()) {
    error = "PULL_RESP without a \"txpk\" object";
    return false;
  }
  Fields f(*it, "txpk");
  int64_t tmst = 0;
  int64_t rfch = 0;
  int64_t powe = 0;
  int64_t prea = 8;
  bool ok = true;
  if (f.has("imme")) ok = f.boolean("imme", out.imme);
  if (ok && f.has("tmst")) {
    ok = f.integer("tmst", 0, UINT32_MAX, tmst);
    if (ok) out.tmst = static_cast<uint32_t>(tmst);
  }
  if (ok && !out.imme && !out.tmst && !f.has("time"))
    ok = f.fail("tmst", "is missing (and neither \"imme\" nor \"time\" given)");
  ok = ok && f.number("freq", out.freqMHz) && f.integer("rfch", 0, 255, rfch) && f.integer("powe", -128, 127, powe) &&
       f.text("modu", out.modu) && f.text("datr", out.datr) && (out.modu != "LORA" || f.text("codr", out.codr));
  if (ok && f.has("ipol")) ok = f.boolean("ipol", out.ipol);
  if (ok && f.has("prea")) ok = f.integer("prea", 6, 65535, prea);
  if (ok && f.has("ncrc")) ok = f.boolean("ncrc", out.ncrc);
  if (ok) ok = payload(f, "txpk", out.data);
  if (!ok) {
    error = f.error;
    return false;
  }
  out.rfch = static_cast<int>(rfch);
  out.powe = static_cast<int>(powe);
  out.prea = static_cast<int>(prea);
  return true;
}

std::string encodeTxAck(const std::string& error) { return json{{"txpk_ack", {{"error", error}}}}.dump(); }

bool parseTxAck(const std::string& text, std::string& result, std::string& error) {
  result = "NONE";
  if (text.find_first_not_of(" \t\r\n", 0) == std::string::npos) return true;  // an empty body means NONE
  json o;
  if (!parseObject(text, o, error)) return false;
  const auto it = o.find("txpk_ack");
  if (it == o.end() || !it->is_object()) {
    error = "TX_ACK without a \"txpk_ack\" object";
    return false;
  }
  if (!it->contains("error")) return true;  // some forwarders acknowledge success with a bare object
  Fields f(*it, "txpk_ack");
  if (!f.text("error", result)) {
    error = f.error;
    return false;
  }
  if (result.empty()) result = "NONE";
  return true;
}

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string base64Encode(const Bytes& data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  for (size_t i = 0; i < data.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(data[i]) << 16 | (i + 1 < data.size() ? data[i + 1] << 8 : 0) |
                       (i + 2 < data.size() ? data[i + 2] : 0);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += i + 1 < data.size() ? kAlphabet[n >> 6 & 63] : '=';
    out += i + 2 < data.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

bool base64Decode(const std::string& text, Bytes& out, std::string& error) {
  out.clear();
  size_t end = text.size();
  while (end > 0 && text[end - 1] == '=' && text.size() - end < 2) --end;
  for (size_t i = 0; i < end; ++i) {
    if (sextet(text[i]) < 0) {
      error = "is not valid base64 (character " + std::to_string(i + 1) + ")";
      return false;
    }
  }
  const size_t padding = text.size() - end;
  if ((padding > 0 && text.size() % 4 != 0) || end % 4 == 1) {
    error = "is not valid base64 (" + std::to_string(text.size()) + " characters)";
    return false;
  }
  uint32_t acc = 0;
  int bits = 0;
  for (size_t i = 0; i < end; ++i) {
    acc = (acc << 6) | static_cast<uint32_t>(sextet(text[i]));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  // The bits left over must be zero: another text for the same bytes is not the same payload.
  if (bits > 0 && (acc & ((1u << bits) - 1)) != 0) {
    error = "is not valid base64 (stray bits in the last character)";
    return false;
  }
  return true;
}

}  // namespace gateway
