// Remote settings a node can be sent in packet 14, as the CLI names them: each one's text form,
// checks of its value and the opcode and arguments it travels as.
#pragma once

#include <string>
#include <vector>

#include "registry.h"
#include "rxpacket14.h"

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

}  // namespace vantor
