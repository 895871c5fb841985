// The packet forwarder's protocol as the codec reads and writes it: base64 against RFC 4648's
// vectors, every identifier's header byte for byte, the JSON of rxpk/stat/txpk/txpk_ack both ways,
// and a clear error for each malformed input.
#include "gateway_protocol.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using namespace gateway;

namespace {

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(GatewayBase64, Rfc4648VectorsBothWays) {
  const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},
                                                       {"foob", "Zm9vYg=="},
                                                       {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, coded] : cases) {
    EXPECT_EQ(base64Encode(bytesOf(plain)), coded);
    Bytes back;
    std::string error;
    ASSERT_TRUE(base64Decode(coded, back, error)) << coded << ": " << error;
    EXPECT_EQ(back, bytesOf(plain));
  }
  Bytes back;
  std::string error;
  EXPECT_TRUE(base64Decode("Zm8", back, error));  // padding left off, as some forwarders do
  EXPECT_EQ(back, bytesOf("fo"));
}

TEST(GatewayBase64, MalformedTextsAreRefusedWithTheirReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"Zm9v!", "is not valid base64 (character 5)"},
      {"Z", "is not valid base64 (1 characters)"},
      {"Zm8==", "is not valid base64 (5 characters)"},
      {"Zm9=", "is not valid base64 (stray bits in the last character)"},
      {"Zg=a", "is not valid base64 (character 3)"},
  };
  for (const auto& [text, why] : cases) {
    Bytes out;
    std::string error;
    EXPECT_FALSE(base64Decode(text, out, error)) << text;
    EXPECT_EQ(error, why) << text;
  }
}

TEST(GatewayDatagram, EverySixIdentifiersHeaderByteForByte) {
  const Bytes eui{0xAA, 0x55, 0x5A, 0x00, 0x00, 0x00, 0x00, 0x01};
  const struct {
    Ident id;
    bool withEui;
    std::string body;
  } cases[] = {{Ident::pushData, true, "{}"}, {Ident::pushAck, false, ""},
               {Ident::pullData, true, ""},   {Ident::pullResp, false, "{\"txpk\":{}}"},
               {Ident::pullAck, false, ""},   {Ident::txAck, true, ""}};
  for (const auto& c : cases) {
    Datagram d{2, 0x1234, c.id, 0xAA555A0000000001ull, c.body};
    Bytes want{2, 0x12, 0x34, static_cast<uint8_t>(c.id)};
    if (c.withEui) want.insert(want.end(), eui.begin(), eui.end());
    want.insert(want.end(), c.body.begin(), c.body.end());
    EXPECT_EQ(encodeDatagram(d), want) << identName(c.id);
    Datagram back;
    std::string error;
    ASSERT_TRUE(parseDatagram(want.data(), want.size(), back, error)) << identName(c.id) << ": " << error;
    EXPECT_EQ(back.version, 2);
    EXPECT_EQ(back.token, 0x1234);
    EXPECT_EQ(back.ident, c.id);
    EXPECT_EQ(back.eui, c.withEui ? 0xAA555A0000000001ull : 0u);
    EXPECT_EQ(back.json, c.body);
  }
  EXPECT_EQ(euiText(0xAA555A0000000001ull), "AA555A0000000001");
}

TEST(GatewayDatagram, MalformedDatagramsAreRefusedWithTheirReason) {
  const struct {
    Bytes bytes;
    const char* error;
  } cases[] = {
      {{}, "datagram of 0 bytes, shorter than the 4-byte header"},
      {{2, 0, 0}, "datagram of 3 bytes, shorter than the 4-byte header"},
      {{3, 0, 0, 0}, "unknown protocol version 3"},
      {{0, 0, 0, 2}, "unknown protocol version 0"},
      {{2, 0, 0, 6}, "unknown identifier 0x06"},
      {{2, 0, 0, 0xFF}, "unknown identifier 0xFF"},
      {{2, 0, 0, 2, 1, 2, 3, 4, 5, 6, 7}, "PULL_DATA of 11 bytes, shorter than its header and gateway EUI (12 bytes)"},
      {{2, 0, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8, '{'}, "PULL_DATA with 1 bytes after its header"},
      {{2, 0, 0, 1, 0}, "PUSH_ACK with 1 bytes after its header"},
      {{2, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, "PUSH_DATA without its JSON body"},
      {{2, 0, 0, 3}, "PULL_RESP without its JSON body"},
  };
  for (const auto& c : cases) {
    Datagram d;
    std::string error;
    EXPECT_FALSE(parseDatagram(c.bytes.data(), c.bytes.size(), d, error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
  // Version 1 (the oldest forwarders) is read too.
  const Bytes v1{1, 0xAB, 0xCD, 2, 1, 2, 3, 4, 5, 6, 7, 8};
  Datagram d;
  std::string error;
  ASSERT_TRUE(parseDatagram(v1.data(), v1.size(), d, error)) << error;
  EXPECT_EQ(d.version, 1);
  EXPECT_EQ(d.token, 0xABCD);
  EXPECT_EQ(d.eui, 0x0102030405060708ull);
}

const char* const kGoodRxpk =
    R"({"time":"2026-12-11T09:00:00.000000Z","tmst":4294967295,"freq":868.0,"chan":0,"rfch":0,"stat":1,)"
    R"("modu":"LORA","datr":"SF7BW125","codr":"4/5","rssi":-87,"lsnr":7.5,"size":3,"data":"Zm9v","rssis":-88})";

TEST(GatewayPushData, RxpkAndStatAreRead) {
  const std::string json = std::string(R"({"rxpk":[)") + kGoodRxpk +
                           R"(],"stat":{"time":"2026-12-11 09:00:00 GMT","lati":46.24,"long":3.2523,"alti":145,)"
                           R"("rxnb":2,"rxok":2,"rxfw":2,"ackr":100.0,"dwnb":2,"txnb":2}})";
  PushData p;
  std::string error;
  ASSERT_TRUE(parsePushData(json, p, error)) << error;
  ASSERT_EQ(p.rxpk.size(), 1u);
  EXPECT_TRUE(p.rxpkErrors.empty());
  const Rxpk& r = p.rxpk[0];
  EXPECT_EQ(r.time, "2026-12-11T09:00:00.000000Z");
  EXPECT_EQ(r.tmst, 4294967295u);
  EXPECT_EQ(r.freqMHz, 868.0);
  EXPECT_EQ(r.stat, 1);
  EXPECT_EQ(r.modu, "LORA");
  EXPECT_EQ(r.datr, "SF7BW125");
  EXPECT_EQ(r.codr, "4/5");
  EXPECT_EQ(r.rssi, -87);
  EXPECT_EQ(r.lsnr, 7.5);
  EXPECT_EQ(r.data, bytesOf("foo"));
  ASSERT_TRUE(p.stat);
  EXPECT_EQ(p.stat->lati, 46.24);
  EXPECT_EQ(p.stat->lon, 3.2523);
  EXPECT_EQ(p.stat->alti, 145);
  EXPECT_EQ(p.stat->rxfw, 2);
  EXPECT_EQ(p.stat->ackr, 100.0);
  // Written and read again, it is the same.
  PushData again;
  ASSERT_TRUE(parsePushData(encodePushData(p), again, error)) << error;
  ASSERT_EQ(again.rxpk.size(), 1u);
  EXPECT_EQ(again.rxpk[0].tmst, r.tmst);
  EXPECT_EQ(again.rxpk[0].data, r.data);
  EXPECT_EQ(again.rxpk[0].lsnr, r.lsnr);
  EXPECT_EQ(again.stat->rxnb, 2);
}

TEST(GatewayPushData, MalformedBodiesAndRxpkAreRefusedWithTheirReason) {
  // Bodies refused as a whole.
  const std::pair<std::string, const char*> bodies[] = {
      {"{\"rxpk\":[", "JSON body does not parse: "},
      {"[1,2]", "JSON body is not an object"},
      {std::string(20, '[') + std::string(20, ']'), "JSON body nested deeper than 8 levels"},
      {R"({"rxpk":{}})", "\"rxpk\" is not an array"},
      {R"({"stat":[]})", "\"stat\" is not an object"},
      {R"({"stat":{"lati":"north"}})", "stat: \"lati\" is not a number"},
      {"{\"rxpk\":[" +
           [] {
             std::string many;
             for (int i = 0; i < 256; ++i) many += (i ? ",{}" : "{}");
             return many;
           }() +
           "]}",
       "\"rxpk\" holds 256 frames, more than 255"},
  };
  for (const auto& [body, why] : bodies) {
    PushData p;
    std::string error;
    EXPECT_FALSE(parsePushData(body, p, error)) << why;
    EXPECT_EQ(error.substr(0, std::string(why).size()), why);
  }
  // One bad rxpk among good ones: it alone is left out, with its reason.
  const auto with = [](const std::string& field, const std::string& value) {
    nlohmann::json r = nlohmann::json::parse(kGoodRxpk);
    if (value.empty()) {
      r.erase(field);
    } else {
      r[field] = nlohmann::json::parse(value);
    }
    return r.dump();
  };
  const std::pair<std::string, const char*> rxpks[] = {
      {with("data", "\"Zm9v*\""), "rxpk: \"data\" is not valid base64 (character 5)"},
      {with("size", "4"), "rxpk: \"size\" is 4 but \"data\" holds 3 bytes"},
      {with("tmst", ""), "rxpk: \"tmst\" is missing"},
      {with("tmst", "4294967296"), "rxpk: \"tmst\" is not an integer from 0 to 4294967295"},
      {with("tmst", "-1"), "rxpk: \"tmst\" is not an integer from 0 to 4294967295"},
      {with("freq", "\"868.0\""), "rxpk: \"freq\" is not a number"},
      {with("stat", "2"), "rxpk: \"stat\" is not an integer from -1 to 1"},
      {with("lsnr", ""), "rxpk: \"lsnr\" is missing"},
      {with("data", "17"), "rxpk: \"data\" is not a string"},
      {"17", "rxpk: an element is not an object"},
  };
  for (const auto& [rxpk, why] : rxpks) {
    PushData p;
    std::string error;
    ASSERT_TRUE(parsePushData(std::string("{\"rxpk\":[") + rxpk + "," + kGoodRxpk + "]}", p, error)) << error;
    EXPECT_EQ(p.rxpk.size(), 1u) << why;
    ASSERT_EQ(p.rxpkErrors.size(), 1u) << why;
    EXPECT_EQ(p.rxpkErrors[0], why);
  }
}

TEST(GatewayPullResp, TxpkWrittenAsTheForwarderReadsIt) {
  Txpk t;
  t.tmst = 123456789;
  t.powe = 10;
  t.data = bytesOf("foobar");
  const nlohmann::json j = nlohmann::json::parse(encodePullResp(t));
  const nlohmann::json want = nlohmann::json::parse(
      R"({"txpk":{"tmst":123456789,"freq":868.0,"rfch":0,"powe":10,"modu":"LORA","datr":"SF7BW125",)"
      R"("codr":"4/5","ipol":false,"prea":8,"ncrc":false,"size":6,"data":"Zm9vYmFy"}})");
  EXPECT_EQ(j, want);
  Txpk back;
  std::string error;
  ASSERT_TRUE(parsePullResp(j.dump(), back, error)) << error;
  EXPECT_EQ(back.tmst, 123456789u);
  EXPECT_EQ(back.powe, 10);
  EXPECT_EQ(back.data, t.data);
  EXPECT_FALSE(parsePullResp(R"({"txpk":{"freq":868.0}})", back, error));
  EXPECT_EQ(error, "txpk: \"tmst\" is missing (and neither \"imme\" nor \"time\" given)");
  EXPECT_FALSE(parsePullResp(R"({"tx":{}})", back, error));
  EXPECT_EQ(error, "PULL_RESP without a \"txpk\" object");
}

TEST(GatewayTxAck, ResultsAndMalformedBodies) {
  const struct {
    std::string body;
    bool ok;
    const char* result;  // or the error
  } cases[] = {
      {"", true, "NONE"},
      {"\n", true, "NONE"},
      {R"({"txpk_ack":{"error":"NONE"}})", true, "NONE"},
      {R"({"txpk_ack":{}})", true, "NONE"},
      {R"({"txpk_ack":{"error":"TOO_LATE"}})", true, "TOO_LATE"},
      {R"({"txpk_ack":{"error":"COLLISION_PACKET"}})", true, "COLLISION_PACKET"},
      {R"({"txpk_ack":{"error":17}})", false, "txpk_ack: \"error\" is not a string"},
      {R"({"ack":{}})", false, "TX_ACK without a \"txpk_ack\" object"},
      {"{", false, "JSON body does not parse: "},
  };
  for (const auto& c : cases) {
    std::string result;
    std::string error;
    EXPECT_EQ(parseTxAck(c.body, result, error), c.ok) << c.body;
    const std::string& got = c.ok ? result : error;
    EXPECT_EQ(got.substr(0, std::string(c.result).size()), c.result) << c.body;
  }
  std::string result;
  std::string error;
  ASSERT_TRUE(parseTxAck(encodeTxAck("TX_FREQ"), result, error));
  EXPECT_EQ(result, "TX_FREQ");
}

}  // namespace
