// orvane-sim options of the radio world.
#include "radio_options.h"

#include <cstdio>
#include <cstdlib>

#include "air_protocol.h"
#include "air_script.h"
#include "llcc68_model.h"
#include "radio_medium.h"

namespace sim {

namespace {

bool parseMs(const std::string& text, uint64_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  out = std::strtoull(text.c_str(), &end, 10);
  return *end == '\0';
}

}  // namespace

bool splitRadioFault(const std::string& text, std::string& fault, uint64_t& atMs, std::string& error) {
  const size_t at = text.find('@');
  fault = text.substr(0, at);
  atMs = 0;
  if (at != std::string::npos && !parseMs(text.substr(at + 1), atMs)) {
    error = "--radio-fault " + text + ": @ takes milliseconds";
    return false;
  }
  Llcc68Faults scratch;
  uint16_t errors = 0;
  bool persist = false;
  if (!Llcc68Model::parseFault(fault, scratch, errors, persist, error)) {
    error = "--radio-fault: " + error;
    return false;
  }
  return true;
}

bool checkRadioOptions(const Options& options, std::string& message) {
  std::string error;
  if (!options.air.empty()) {
    // The medium and the Vantor are orvane-air's and vantor listen's then.
    std::string path;
    if (!air::socketPath(options.air, path, error)) {
      message = "orvane-sim: --air: " + error + "\n";
      return false;
    }
    const char* own = !options.airLog.empty()         ? "--air-log"
                      : !options.airScript.empty()    ? "--air-script"
                      : !options.interferer.empty()   ? "--interferer"
                      : options.linkLossSet           ? "--link-loss"
                      : !options.vantorDb.empty()     ? "--vantor-db"
                      : !options.vantorFaults.empty() ? "--vantor-fault"
                                                      : nullptr;
    if (own != nullptr) {
      message =
          std::string("orvane-sim: ") + own + " belongs to orvane-air or vantor listen when the node joins --air\n";
      return false;
    }
  } else if (options.airAtSet || options.airName != "node") {
    message = "orvane-sim: --air-name and --air-at need --air\n";
    return false;
  }
  if (!options.airLog.empty()) {
    std::FILE* f = std::fopen(options.airLog.c_str(), "a");
    if (f == nullptr) {
      message = "orvane-sim: cannot write the air log " + options.airLog + "\n";
      return false;
    }
    std::fclose(f);
  }
  if (!options.airScript.empty()) {
    // Parsing needs no board: check line by line.
    FILE* f = std::fopen(options.airScript.c_str(), "r");
    if (f == nullptr) {
      message = "orvane-sim: cannot read the air script " + options.airScript + "\n";
      return false;
    }
    char line[2048];
    int number = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      ++number;
      ScriptedFrame frame;
      if (!AirScript::parseLine(line, frame, error) && !error.empty()) {
        std::fclose(f);
        message = "orvane-sim: " + options.airScript + ":" + std::to_string(number) + ": " + error + "\n";
        return false;
      }
    }
    std::fclose(f);
  }
  if (!options.interferer.empty()) {
    Interferer i;
    if (!parseInterferer(options.interferer, i, error)) {
      message = "orvane-sim: " + error + "\n";
      return false;
    }
  }
  for (const std::string& spec : options.radioFaults) {
    std::string fault;
    uint64_t atMs = 0;
    if (!splitRadioFault(spec, fault, atMs, error)) {
      message = "orvane-sim: " + error + "\n";
      return false;
    }
  }
  return true;
}

void applyRadioOptions(const Options& options, RadioMedium& medium, AirScript& script, Llcc68Model& radio,
                       uint64_t nowUs) {
  medium.setLinkLossDb(options.linkLossDb);
  if (!options.airLog.empty() && !medium.openAirLog(options.airLog)) {
    std::fprintf(stderr, "orvane-sim: cannot write the air log %s\n", options.airLog.c_str());
  }
  std::string error;
  if (!options.airScript.empty() && !script.load(options.airScript, error)) {
    std::fprintf(stderr, "orvane-sim: %s\n", error.c_str());
  }
  Interferer interferer;
  if (!options.interferer.empty() && parseInterferer(options.interferer, interferer, error)) {
    medium.setInterferer(interferer);
  }
  for (const std::string& spec : options.radioFaults) {
    std::string fault;
    uint64_t atMs = 0;
    if (!splitRadioFault(spec, fault, atMs, error)) continue;
    if (atMs == 0) {
      (void)radio.applyFault(fault, error);
    } else {
      radio.scheduleFault(fault, nowUs + atMs * 1000);
    }
  }
}

}  // namespace sim
