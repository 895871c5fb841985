// Command line of orvane-sim (and the same settings for in-process tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash_model.h"
#include "trace_options.h"

namespace sim {

enum class ConsoleMode { stdio, pty, capture };

struct Options {
  std::string stateDir = ".orvane-sim";
  double speed = -1.0;  // <0: decide from the console (1 on a terminal, else 0)
  ConsoleMode console = ConsoleMode::stdio;
  std::string ptyLink;  // with --console pty: keep a symlink to the pty here
  bool burst = false;   // send piped input all at once instead of line by line
  uint64_t seed = 1;
  std::string chipId;      // 96-bit unique ID as 24 hex digits (empty: derived from the seed)
  uint32_t lsiHz = 32000;  // the chip's LSI, the RTC's clock (the datasheet's spread: 29.5 to 34 kHz)
  // The radio world (sim/radio_options.h).
  std::string airLog;
  std::string airScript;
  double linkLossDb = 80.0;
  std::string interferer;
  std::vector<std::string> radioFaults;
  std::string scenario;           // analog front end: --load-file text, then --load items (key=value,...)
  std::vector<std::string> argv;  // the command line, for restarting the process
  FlashFaults flashFaults;
  int64_t powerCutAtUs = -1;  // cut the supply once, at this virtual time
  // --adc-stall: the converter overruns after this many rows of a capture (negative: never), in the
  // first adcStallCaptures captures of each start (negative: every one).
  int adcStallRows = -1;
  int adcStallCaptures = -1;
  // The receiving node on the medium (vantor/): on unless --no-vantor; its database (empty: vantor.sqlite
  // in the state folder) and its faults (--vantor-fault, checked by the Vantor).
  bool vantor = true;
  std::string vantorDb;
  std::vector<std::string> vantorFaults;
  // Its MQTT output (vantor/outputs/mqtt_output.h): the broker's URL (empty: none), the topics' prefix and
  // the client id (empty: vantor-HOSTNAME).
  std::string mqtt;
  std::string mqttPrefix = "orvane";
  std::string mqttClientId;
  std::string vantorHttp;       // --http: the dashboard's address (checked by the Vantor)
  std::string vantorTokenFile;  // --token-file
  TraceOptions trace;           // sim/trace_options.h
  // orvane-air (sim/AIR.md): the shared air to join instead of the in-process medium, this node's
  // name and position there.
  std::string air;
  std::string airName = "node";
  bool airAtSet = false;
  double airAtX = 0;
  double airAtY = 0;
  bool linkLossSet = false;
};

// Parses argv into `out`; on error or --help returns false with a message in `message`.
bool parseOptions(int argc, char** argv, Options& out, std::string& message);
const char* usageText();

}  // namespace sim
