// The Vantor's MQTT client (libmosquitto). What a frame's handling stores is turned into messages
// (mqtt_messages.h) and written into the outbox of the Vantor's database in the same transaction,
// so nothing is lost to a broker that is away or to a process that stops. A thread of the client's
// own, on its own connection to the database, publishes the outbox in order with QoS 1 and deletes
// each message once the broker has acknowledged it; it reconnects with a backoff of 1 s doubling up
// to 30 s. Commands on PREFIX/<uid>/command/set are queued through queueSetting and answered on
// PREFIX/<uid>/command/result; one the broker delivers again (the same message id and payload
// within a day) is answered again, not queued again. The session is persistent: the broker keeps
// commands sent while the Vantor is away, and the Vantor waits for them when it starts.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "mqtt_messages.h"
#include "vantor.h"

struct mosquitto;
struct mosquitto_message;

namespace vantor {

class MqttOutput {
 public:
  // Redelivered commands are recognised within this time.
  static constexpr int64_t kCommandMemoryS = 24 * 3600;
  // On the way out, the outbox gets this long to reach a broker that answers.
  static constexpr int kDrainMs = 5000;
  // On the way in, this long for the broker's answer and the commands it kept for this Vantor,
  // so that a command sent while the Vantor was away is queued before the first frame comes.
  static constexpr int kStartMs = 2000;

  // database: where the Vantor's store is (a file or a server, not ":memory:"); who: the
  // program's name for messages on standard error.
  MqttOutput(MqttSettings settings, std::string database, Vantor& vantor, std::string who);
  ~MqttOutput();  // stop(true)
  MqttOutput(const MqttOutput&) = delete;
  MqttOutput& operator=(const MqttOutput&) = delete;

  // Publishes what waits (for at most kDrainMs while the broker answers) and disconnects cleanly;
  // offline: tells the broker this Vantor is gone (not when its process only restarts).
  void stop(bool offline);

  // A command as the broker delivers it: queued (or refused) and recorded; the result to publish.
  static MqttMessage handleCommand(Store& store, const MqttSettings& settings, const std::string& topic,
                                   const std::string& payload, int mid, int64_t nowS);

 private:
  void run();
  void setUp();
  void connected(int rc);
  void started();
  void published(int mid);
  void received(const mosquitto_message& m);
  void publishOutbox();
  void publishNow(const MqttMessage& m);
  void waitFor(int ms);
  void say(const std::string& text);

  MqttSettings settings_;
  std::string clientId_;
  std::string database_;
  std::string who_;
  std::string host_;
  int port_ = 0;

  mosquitto* mosq_ = nullptr;
  std::unique_ptr<Store> store_;  // the thread's own connection
  bool connected_ = false;
  bool connecting_ = false;
  bool unreachableSaid_ = false;
  std::map<int, int64_t> inflight_;  // broker message id -> outbox row
  int64_t lastQueued_ = 0;           // the last outbox row handed to the client since it connected

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool offlineAtStop_ = true;
  bool pending_ = false;  // new rows in the outbox
  bool started_ = false;  // subscribed, or the first attempt failed
  std::thread thread_;
};

}  // namespace vantor
