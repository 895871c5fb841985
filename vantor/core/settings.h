// Remote settings a node can be sent in packet 14, as the CLI names them: each one's text form,
// checks of its value and the opcode and arguments it travels as; and the one way to queue one
// for a node, with one set of rules and messages for the CLI, MQTT commands and the dashboard.
#pragma once

#include <string>
#include <vector>

#include "decide.h"
#include "outputs.h"
#include "rxpacket14.h"
#include "store.h"

namespace vantor {

struct Setting {
  std::string name;   // phase, debug-rate, sleep, tx-power, dbg1
  std::string value;  // canonical text of the value ("" for dbg1)
  LoRaRXPacket14::Op op;
  LoRaRXPacket14::Args args;
};

// "phase <rad>", "debug-rate <n>", "sleep <sec> [force-rx]", "tx-power <dBm>", "dbg1". The values
// are those the node takes without changing them: a value it would clamp or refuse is an error here.
bool parseSetting(const std::vector<std::string>& words, Setting& out, std::string& error);

// A queue item of this setting for a node, waiting from createdUs for ttlUs of virtual time.
QueueItem queueItem(uint32_t uid, const Setting& s, int maxAttempts, uint64_t createdUs, uint64_t ttlUs);

// One line of help on the settings.
const char* settingsHelp();

struct QueueRequest {
  std::string node;                // identity in hex, "0x1A2B3C" or "1A2B3C"
  std::vector<std::string> words;  // the setting and its value(s), as parseSetting takes them
  int maxAttempts = kDefaultMaxAttempts;
  double ttlS = static_cast<double>(kDefaultTtlUs) / 1e6;
};

struct QueueOutcome {
  enum class Status {
    queued,
    badRequest,  // the request itself is wrong (the CLI's usage error)
    refused,     // well formed, but not for this registry (no such node)
  };
  Status status = Status::queued;
  std::string message;        // "queued #1 for 0x000001: phase 0.5", or why not
  bool aboutSetting = false;  // refused for the setting or its value (settingsHelp() lists them)
  QueueItem item;             // as queued, with its id
};

// "queued #1 for 0x000001: phase 0.5"
std::string queuedMessage(const QueueItem& item);
// The request's own faults, found without a database: nothing when it is well formed.
std::optional<QueueOutcome> checkQueueRequest(const QueueRequest& request);
// Checks the request, then queues the setting for the node at the Vantor's clock in one
// transaction, and hands the new item to the outputs.
QueueOutcome queueSetting(Store& store, const QueueRequest& request, const Outputs* outputs = nullptr);
// The same inside a transaction the caller holds, at the Vantor's clock `now` (a calibration
// queues its settings in the transaction of the frame that moves it); the caller hands it on.
QueueOutcome addSetting(Store& store, const QueueRequest& request, uint64_t now);

}  // namespace vantor
