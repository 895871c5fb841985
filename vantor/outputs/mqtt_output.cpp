// The MQTT client of the Vantor: outbox, publishing thread, reconnection, commands.
#include "mqtt_output.h"

#include <mosquitto.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace vantor {

namespace {

constexpr int kQos = 1;
constexpr int kKeepaliveS = 30;
constexpr int kFirstBackoffMs = 1000;
constexpr int kLastBackoffMs = 30000;
constexpr int kInflight = 100;  // outbox rows handed to the client at a time
constexpr int kLoopMs = 20;

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

int64_t wallSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

MqttOutput::MqttOutput(MqttSettings settings, std::string database, Vantor& vantor, std::string who)
    : settings_(std::move(settings)),
      clientId_(mqttClientId(settings_)),
      database_(std::move(database)),
      who_(std::move(who)) {
  std::string ignored;  // checked with the command line
  parseMqttUrl(settings_.url, host_, port_, ignored);
  vantor.outputs().onStaged([this](const Stored& s, Store& store) {
    std::optional<NodeRecord> node = s.node;
    if (!node && s.uplink) node = store.nodeByUid(s.uplink->uid);
    for (const MqttMessage& m : outcomeMessages(s, node, settings_)) {
      store.addOutbox(clientId_, OutboxMessage{0, m.topic, m.payload, m.retain});
    }
    if (node && changesDiscovery(s)) {
      for (const MqttMessage& m : discoveryMessages(*node, store.lastAccepted(node->uid, {8}), settings_)) {
        store.addOutbox(clientId_, OutboxMessage{0, m.topic, m.payload, m.retain});
      }
    }
  });
  vantor.outputs().onCommitted([this](const Stored&) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = true;
    wake_.notify_all();
  });
  initLibrary();
  thread_ = std::thread([this] { run(); });
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(kStartMs), [this] { return started_; });
}

void MqttOutput::started() {
  std::lock_guard<std::mutex> lock(mutex_);
  started_ = true;
  wake_.notify_all();
}

MqttOutput::~MqttOutput() { stop(true); }

void MqttOutput::stop(bool offline) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    offlineAtStop_ = offline;
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void MqttOutput::say(const std::string& text) { std::fprintf(stderr, "%s: mqtt: %s\n", who_.c_str(), text.c_str()); }

void MqttOutput::waitFor(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void MqttOutput::setUp() {
  mosquitto_user_data_set(mosq_, this);
  const std::string offline = "offline";
  mosquitto_will_set(mosq_, availabilityTopic(settings_).c_str(), static_cast<int>(offline.size()), offline.data(),
                     kQos, true);
  mosquitto_connect_callback_set(mosq_,
                                 [](mosquitto*, void* self, int rc) { static_cast<MqttOutput*>(self)->connected(rc); });
  mosquitto_publish_callback_set(
      mosq_, [](mosquitto*, void* self, int mid) { static_cast<MqttOutput*>(self)->published(mid); });
  mosquitto_message_callback_set(
      mosq_, [](mosquitto*, void* self, const mosquitto_message* m) { static_cast<MqttOutput*>(self)->received(*m); });
  // The broker sends what it kept for the session before it answers the subscription.
  mosquitto_subscribe_callback_set(
      mosq_, [](mosquitto*, void* self, int, int, const int*) { static_cast<MqttOutput*>(self)->started(); });
}

void MqttOutput::run() {
  try {
    store_ = openStore(database_, false);
  } catch (const DbError& e) {
    say(std::string("cannot open the database: ") + e.what());
    started();
    return;
  }
  // A persistent session: the broker keeps the commands that come while this Vantor is away.
  mosq_ = mosquitto_new(clientId_.c_str(), false, this);
  if (mosq_ == nullptr) {
    say("cannot make a client");
    started();
    return;
  }
  setUp();
  int backoffMs = kFirstBackoffMs;
  auto drainUntil = std::chrono::steady_clock::time_point::max();
  for (;;) {
    bool stopping = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping = stopping_;
    }
    if (stopping && drainUntil == std::chrono::steady_clock::time_point::max()) {
      drainUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMs);
    }
    if (stopping && (!(connected_ || connecting_) || std::chrono::steady_clock::now() > drainUntil)) break;
    if (!connected_ && !connecting_) {
      const int rc = mosquitto_connect(mosq_, host_.c_str(), port_, kKeepaliveS);
      if (rc != MOSQ_ERR_SUCCESS) {
        if (!unreachableSaid_) {
          say("cannot reach " + settings_.url + " (" + mosquitto_strerror(rc) +
              "); storing goes on, messages wait in the database until it answers");
          unreachableSaid_ = true;
        }
        started();
        waitFor(backoffMs);
        backoffMs = std::min(2 * backoffMs, kLastBackoffMs);
        continue;
      }
      connecting_ = true;
    }
    const int rc = mosquitto_loop(mosq_, kLoopMs, 1);
    if (rc != MOSQ_ERR_SUCCESS) {
      if (connected_) say("lost " + settings_.url + " (" + mosquitto_strerror(rc) + "); reconnecting");
      // A fresh client: what was in flight goes again from the outbox, in order.
      connected_ = connecting_ = false;
      inflight_.clear();
      lastQueued_ = 0;
      mosquitto_reinitialise(mosq_, clientId_.c_str(), false, this);
      setUp();
      if (!stopping) waitFor(backoffMs);
      backoffMs = std::min(2 * backoffMs, kLastBackoffMs);
      continue;
    }
    if (!connected_) continue;
    backoffMs = kFirstBackoffMs;
    publishOutbox();
    if (stopping && inflight_.empty() && store_->outbox(clientId_, 0, 1).empty()) {
      // All out: leave without the will (saying so when this Vantor goes for good).
      bool offline = true;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        offline = offlineAtStop_;
      }
      if (offline) publishNow({availabilityTopic(settings_), "offline", true});
      for (int i = 0; i < 50 && mosquitto_want_write(mosq_); ++i) mosquitto_loop(mosq_, kLoopMs, 1);
      mosquitto_disconnect(mosq_);
      mosquitto_loop(mosq_, kLoopMs, 1);
      break;
    }
  }
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
}

void MqttOutput::connected(int rc) {
  connecting_ = false;
  if (rc != 0) {
    say("refused by " + settings_.url + ": " + mosquitto_connack_string(rc));
    started();
    return;  // the next loop finds no connection and tries again after the backoff
  }
  connected_ = true;
  if (unreachableSaid_) say("reached " + settings_.url + "; publishing what waited");
  unreachableSaid_ = false;
  publishNow({availabilityTopic(settings_), "online", true});
  mosquitto_subscribe(mosq_, nullptr, commandTopic(settings_).c_str(), kQos);
  mosquitto_subscribe(mosq_, nullptr, calibrateTopic(settings_).c_str(), kQos);
  // Retained snapshots, for a broker that lost them: every node's discovery and status, every
  // gateway's status.
  try {
    const uint64_t now = store_->nowUs();
    for (const NodeRecord& n : store_->nodes()) {
      for (const MqttMessage& m : discoveryMessages(n, store_->lastAccepted(n.uid, {8}), settings_)) publishNow(m);
      publishNow(statusMessage(n, now, settings_));
    }
    for (const GatewayRecord& g : store_->gateways()) {
      if (std::optional<MqttMessage> m = gatewayStatusMessage(g, settings_)) publishNow(*m);
    }
  } catch (const DbError& e) {
    say(e.what());
  }
}

void MqttOutput::publishNow(const MqttMessage& m) {
  mosquitto_publish(mosq_, nullptr, m.topic.c_str(), static_cast<int>(m.payload.size()), m.payload.data(), kQos,
                    m.retain);
}

void MqttOutput::publishOutbox() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = false;
  }
  const int room = kInflight - static_cast<int>(inflight_.size());
  if (room <= 0) return;
  try {
    for (const OutboxMessage& m : store_->outbox(clientId_, lastQueued_, room)) {
      int mid = 0;
      const int rc = mosquitto_publish(mosq_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                                       m.payload.data(), kQos, m.retain);
      if (rc != MOSQ_ERR_SUCCESS) break;  // the connection went: the loop finds out
      inflight_[mid] = m.id;
      lastQueued_ = m.id;
    }
  } catch (const DbError& e) {
    say(e.what());
  }
}

void MqttOutput::published(int mid) {
  const auto it = inflight_.find(mid);
  if (it == inflight_.end()) return;  // a message published directly
  try {
    store_->removeOutbox(it->second);
  } catch (const DbError& e) {
    say(e.what());
  }
  inflight_.erase(it);
}

void MqttOutput::received(const mosquitto_message& m) {
  const std::string payload(static_cast<const char*>(m.payload), static_cast<size_t>(m.payloadlen));
  try {
    publishNow(handleCommand(*store_, settings_, m.topic, payload, m.mid, wallSeconds()));
  } catch (const DbError& e) {
    say(e.what());
  }
}

namespace {

// A command's change and the record of its result commit together: `change(record)` changes the
// store with `record` as its outputs and gives whether it went through and its result; the result
// of one that went through is `resultOf` what it stored, a refused one is recorded after.
template <typename Change, typename ResultOf>
MqttMessage recordedChange(Store& store, const std::string& publisher, int mid, const std::string& payload,
                           int64_t nowS, Change change, ResultOf resultOf) {
  Outputs record;
  record.onStaged(
      [&](const Stored& s, Store& st) { st.recordCommand(publisher, mid, payload, resultOf(s).payload, nowS); });
  const auto [done, result] = change(record);
  if (!done) store.recordCommand(publisher, mid, payload, result.payload, nowS);
  return result;
}

MqttMessage refusedCommand(Store& store, const std::string& publisher, int mid, const std::string& payload,
                           int64_t nowS, const std::string& node, const std::string& error,
                           const MqttSettings& settings) {
  const MqttMessage refused = commandRefused(node, error, settings);
  store.recordCommand(publisher, mid, payload, refused.payload, nowS);
  return refused;
}

}  // namespace

MqttMessage MqttOutput::handleCommand(Store& store, const MqttSettings& settings, const std::string& topic,
                                      const std::string& payload, int mid, int64_t nowS) {
  const std::string publisher = mqttClientId(settings);
  const std::string node = commandNode(topic, settings).value_or("");
  const std::string resultTopic = settings.prefix + "/" + node + "/command/result";
  if (const std::optional<std::string> before = store.commandResult(publisher, mid, payload, nowS - kCommandMemoryS)) {
    return {resultTopic, *before, false};  // delivered again: answered again, not queued again
  }
  std::string error;
  if (isCalibrateCommand(topic)) {
    const std::optional<CalibrateCommand> command = calibrateCommand(node, payload, error);
    if (!command) return refusedCommand(store, publisher, mid, payload, nowS, node, error, settings);
    return recordedChange(
        store, publisher, mid, payload, nowS,
        [&](const Outputs& record) {
          const CalibrationOutcome o = command->cancel ? cancelCalibration(store, node, &record)
                                                       : startCalibration(store, command->request, &record);
          return std::pair(o.status == QueueOutcome::Status::queued, calibrationResult(node, o, settings));
        },
        [&](const Stored& s) {
          CalibrationOutcome done;
          done.calibration = s.calibrations.at(0);
          done.message = command->cancel ? cancelledMessage(*done.calibration) : startedMessage(*done.calibration);
          return calibrationResult(node, done, settings);
        });
  }
  const std::optional<QueueRequest> request = commandRequest(node, payload, error);
  if (!request) return refusedCommand(store, publisher, mid, payload, nowS, node, error, settings);
  return recordedChange(
      store, publisher, mid, payload, nowS,
      [&](const Outputs& record) {
        const QueueOutcome o = queueSetting(store, *request, &record);
        return std::pair(o.status == QueueOutcome::Status::queued, commandResult(node, o, settings));
      },
      [&](const Stored& s) {
        QueueOutcome queued;
        queued.item = s.items.at(0);
        queued.message = queuedMessage(queued.item);
        return commandResult(node, queued, settings);
      });
}

}  // namespace vantor
