// The Vantor's MQTT side without a broker: commands to queue requests and their results (the CLI's
// reasons), a command the broker delivers twice queued once, and the outbox that a frame's handling
// fills in its own transaction while no broker answers, in order, with numbers at their resolution;
// a gateway's retained status kept while no broker answers and found later on a real Mosquitto.
// On an SQLite file and on a PostgreSQL server.
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <unistd.h>

#include "json_records.h"
#include "mqtt_output.h"
#include "node_frames.h"
#include "test_servers.h"
#include "vantor.h"

using namespace testing_support;
using nlohmann::json;

namespace {

class VantorMqtt : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    where_ = freshDatabase(GetParam(), "mqtt");
    store_ = vantor::openStore(where_, true);
    vantor_ = std::make_unique<vantor::Vantor>(*store_, 4);
    settings_.url = "mqtt://127.0.0.1:1";  // nothing answers there
    settings_.clientId = "vantor-test";
  }
  HMAC::Key provision() {
    vantor_->onFrame(packet10(0, 1, chipOf(), kZeroKey), {now_ += 1'000'000}, {});
    const HMAC::Key key = vantor::tagKey(store_->nodeByUid(1)->key);
    vantor_->onFrame(packet10(1, 1, chipOf(), key), {now_ += 1'000'000}, {});
    return key;
  }
  json command(const std::string& topic, const std::string& payload, int mid, int64_t nowS = 1000) {
    return json::parse(vantor::MqttOutput::handleCommand(*store_, settings_, topic, payload, mid, nowS).payload);
  }

  std::string where_;
  std::unique_ptr<vantor::Store> store_;
  std::unique_ptr<vantor::Vantor> vantor_;
  vantor::MqttSettings settings_;
  uint64_t now_ = 0;
};

TEST_P(VantorMqtt, CommandsAreQueuedAsTheCliQueuesThemOrRefusedWithItsReasons) {
  provision();
  struct Case {
    const char* node;
    const char* payload;
    const char* expect;  // the message of a queued item, or the reason of a refusal
  } cases[] = {
      {"0x000001", R"({"setting": "phase", "value": 0.12})", "queued #1 for 0x000001: phase 0.12"},
      {"1", R"({"setting": "sleep", "value": 600, "force_rx": true, "max_attempts": 2, "ttl": 60})",
       "queued #2 for 0x000001: sleep 600 force-rx"},
      {"0x000001", R"({"setting": "sleep", "value": "120 force-rx"})", "queued #3 for 0x000001: sleep 120 force-rx"},
      {"0x000001", R"({"setting": "dbg1"})", "queued #4 for 0x000001: dbg1"},
      {"0x000001", R"({"setting": "volume", "value": 11})", "unknown setting 'volume'"},
      {"0x000001", R"({"setting": "tx-power", "value": 15})",
       "tx-power takes whole dBm, 0..14 (a drop of more than 5 dB is limited to 5 dB by the node)"},
      {"0x000001", R"({"setting": "debug-rate", "value": 7.5})",
       "debug-rate takes one whole number, 0..65535 (0: the debug group in every cycle)"},
      {"0x000001", R"({"value": 1})", "no setting given"},
      {"0x000001", R"({"setting": "phase", "value": true})", "value takes a number (or text, as the CLI takes it)"},
      {"0x000001", R"({"setting": "dbg1", "max_attempts": 0})", "max-attempts takes 1 or more"},
      {"0x000001", R"({"setting": "dbg1", "ttl": -5})", "ttl takes seconds above 0"},
      {"0x000001", R"({"setting": "dbg1", "when": "now"})",
       "unknown field 'when' (setting, value, force_rx, max_attempts, ttl)"},
      {"0x000001", R"({"setting": "phase",)",
       R"(the command is not a JSON object, e.g. {"setting": "phase", "value": 0.12})"},
      {"0x000001", "[1, 2]", R"(the command is not a JSON object, e.g. {"setting": "phase", "value": 0.12})"},
      {"0x00002A", R"({"setting": "dbg1"})", "no node 0x00002A in the registry"},
      {"node7", R"({"setting": "dbg1"})", "bad node 'node7': an identity in hex, 0x000001 to 0xFFFFFF"},
  };
  int mid = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload);
    const json r = command(std::string("orvane/") + c.node + "/command/set", c.payload, ++mid);
    if (r["ok"].get<bool>()) {
      EXPECT_EQ(r["message"], c.expect);
    } else {
      EXPECT_EQ(r["reason"], c.expect);
    }
  }
  const auto items = store_->queue(1);
  ASSERT_EQ(items.size(), 4u);  // nothing of the refused ones
  EXPECT_EQ(items[1].maxAttempts, 2);
  EXPECT_EQ(items[1].expiresUs - items[1].createdUs, 60'000'000u);
}

TEST_P(VantorMqtt, CalibrateCommandsStartAndCancelOrAreRefused) {
  provision();
  struct Case {
    const char* payload;
    const char* expect;  // the start of the message, or the reason of a refusal
  } cases[] = {
      {R"({"known_pf": 0.8})", "calibrating 0x000001 against power factor 0.80 (lagging), 16 readings"},
      {R"({"known_pf": 1})", "a calibration of 0x000001 is in progress (setting-up): cancel it first"},
      {R"({"cancel": true})", "cancelled the calibration of 0x000001: cancelled;"},
      {R"({"cancel": true})", "no calibration of 0x000001 in progress"},
      {R"({"cancel": false})", R"(a cancel takes {"cancel": true} alone)"},
      {R"({"known_pf": 1.5})", "known-pf takes the load's power factor, above 0 and at most 1"},
      {R"({"readings": 8})", "known_pf is required: the load's power factor (1: purely resistive)"},
      {"[0.8]", R"(the command is not a JSON object, e.g. {"known_pf": 0.8} or {"cancel": true})"},
      {R"({"known_pf": 0.9, "leading": true, "readings": 4})",
       "calibrating 0x000001 against power factor 0.90 (leading), 4 readings"},
  };
  int mid = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload);
    const json r = command("orvane/0x000001/command/calibrate", c.payload, ++mid);
    const std::string text = r["ok"].get<bool>() ? r["message"].get<std::string>() : r["reason"].get<std::string>();
    EXPECT_EQ(text.rfind(c.expect, 0), 0u) << text;
  }
  EXPECT_EQ(store_->latestCalibration(1)->readings, 4);
  EXPECT_EQ(store_->queue(1).size(), 6u);  // two started, one cancel's two settings back
}

TEST_P(VantorMqtt, ACommandDeliveredTwiceIsQueuedOnce) {
  provision();
  const std::string topic = "orvane/0x000001/command/set";
  const std::string phase = R"({"setting": "phase", "value": 0.5})";
  const json first = command(topic, phase, 7);
  EXPECT_EQ(command(topic, phase, 7), first);  // the broker's redelivery: the same answer
  EXPECT_EQ(store_->queue(1).size(), 1u);
  EXPECT_EQ(command(topic, phase, 8)["id"], 2);                     // the same setting sent again is a new command
  EXPECT_EQ(command(topic, R"({"setting": "dbg1"})", 7)["id"], 3);  // an id the broker reuses
  // Past the time a redelivery is recognised, the same id and payload are a new command (the
  // limit of telling them apart without the broker's duplicate flag, which libmosquitto hides).
  EXPECT_EQ(command(topic, phase, 8, 1000 + vantor::MqttOutput::kCommandMemoryS + 1)["id"], 4);
}

TEST_P(VantorMqtt, WhileNoBrokerAnswersTheOutboxKeepsEveryMessageInOrder) {
  vantor::MqttOutput output(settings_, where_, *vantor_, "test");
  const HMAC::Key key = provision();
  // 24.7 degC travels as 149 (steps of 1/3 degC from -25): 24.67; 230 V x 1.234 A x 0.46 = 130.56 W.
  vantor_->onFrame(packet3(1, 2, key, true, 24.7f, 3.3f, 0.456f, 1.2345f), {now_ += 1'000'000, -71.25, 7.5}, {});
  output.stop(true);
  std::vector<std::string> topics;
  std::vector<json> payloads;
  for (const vantor::OutboxMessage& m : store_->outbox("vantor-test", 0, 1000)) {
    topics.push_back(m.topic);
    payloads.push_back(json::parse(m.payload));
    EXPECT_EQ(m.retain, m.topic.find("/status") != std::string::npos || m.topic.rfind("homeassistant/", 0) == 0)
        << m.topic;
  }
  std::vector<std::string> expected = {"orvane/0x000000/up", "orvane/0x000001/status"};
  for (const char* f : {"current", "power", "power_factor", "temperature", "supply_voltage"}) {
    expected.push_back(std::string("homeassistant/sensor/orvane_0x000001_") + f + "/config");
  }
  expected.insert(expected.end(), {"orvane/0x000001/up", "orvane/0x000001/status", "orvane/0x000001/up",
                                   "orvane/0x000001/reading", "orvane/0x000001/status"});
  ASSERT_EQ(topics, expected);
  const json& up = payloads[9];
  EXPECT_EQ(up["code"], 5);
  EXPECT_EQ(up["verdict"], "accepted");
  EXPECT_EQ(up["chip_id"], "4433221188776655CCBBAA99");
  EXPECT_EQ(up["t_s"], 3.0);
  EXPECT_EQ(up["rssi_dbm"], -71.3);
  EXPECT_EQ(up["temperature_c"], 24.67);
  EXPECT_EQ(up["supply_v"], 3.3);
  EXPECT_EQ(up["power_factor"], 0.46);
  EXPECT_EQ(up["current_a"], 1.234);
  EXPECT_EQ(up["power_w"], 130.56);
  EXPECT_EQ(payloads[10]["power_w"], 130.56);
  EXPECT_EQ(payloads[11]["last_counter"], 2);
  EXPECT_EQ(payloads[11]["activity"], "active");
}

// Each change of a gateway's record is a retained status in the outbox (the row of bad datagrams that
// name no gateway has none); a broker that comes later keeps the latest for any client.
TEST_P(VantorMqtt, AGatewaysStatusIsRetainedAsItsLatestRecord) {
  vantor::GatewayRecord g;
  g.eui = "AA555A0000000001";
  g.address = "127.0.0.1:41250";
  g.lastSeenUs = 2'000'000;
  g.counters = json::parse(R"({"heard":1,"forwarded":1})");
  vantor::GatewayRecord none;
  none.counters = json::parse(R"({"dropped":{"short":1}})");
  {
    vantor::MqttOutput away(settings_, where_, *vantor_, "test");
    vantor_->saveGateway(g);
    vantor_->saveGateway(none);
    g.lastSeenUs = 3'500'000;
    g.counters = json::parse(R"({"heard":2,"forwarded":1,"dropped":{"crc_bad":1},"sent":0,"refused":{"TOO_LATE":1}})");
    g.lastError = "TOO_LATE via gateway AA555A0000000001";
    vantor_->saveGateway(g);
    away.stop(true);
  }
  std::vector<std::string> topics;
  for (const vantor::OutboxMessage& m : store_->outbox("vantor-test", 0, 1000)) {
    topics.push_back(m.topic);
    EXPECT_TRUE(m.retain) << m.topic;
  }
  EXPECT_EQ(topics, std::vector<std::string>(2, "orvane/gateway/AA555A0000000001/status"));

  const char* tmp = std::getenv("TMPDIR");
  TestServer broker(TestServer::Kind::mosquitto, std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                                                     "/vantor_mqtt_gateway_" + std::to_string(getpid()));
  settings_.url = broker.url();
  vantor::MqttOutput(settings_, where_, *vantor_, "test").stop(true);  // publishes what waits
  EXPECT_TRUE(store_->outbox("vantor-test", 0, 1000).empty());
  // A client that comes later gets the retained status (it waits for it, however long that takes).
  std::string host, error;
  int port = 0;
  ASSERT_TRUE(vantor::parseMqttUrl(broker.url(), host, port, error)) << error;
  mosquitto_lib_init();
  mosquitto_message* m = nullptr;
  ASSERT_EQ(mosquitto_subscribe_simple(&m, 1, true, "orvane/gateway/+/status", 1, host.c_str(), port, "gateway-reader",
                                       30, true, nullptr, nullptr, nullptr, nullptr),
            MOSQ_ERR_SUCCESS);
  EXPECT_EQ(std::string(m->topic), "orvane/gateway/AA555A0000000001/status");
  EXPECT_TRUE(m->retain);
  const json status = json::parse(std::string(static_cast<const char*>(m->payload), m->payloadlen));
  mosquitto_message_free(&m);
  EXPECT_EQ(status, vantor::gatewayJson(store_->gateways().back()));
  EXPECT_EQ(status["last_seen_s"], 3.5);
  EXPECT_EQ(status["heard"], 2);
  EXPECT_EQ(status["refused"], json::parse(R"({"TOO_LATE":1})"));
  EXPECT_EQ(status["last_error"], "TOO_LATE via gateway AA555A0000000001");
}

INSTANTIATE_TEST_SUITE_P(Databases, VantorMqtt, ::testing::Values(Backend::sqlite, Backend::postgresql),
                         [](const ::testing::TestParamInfo<Backend>& p) { return backendName(p.param); });

}  // namespace
