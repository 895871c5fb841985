// The two options that place the radio: checked whole before anything is opened.
#include "radio_wiring.h"

#include <cstdlib>
#include <set>
#include <sstream>

namespace vantor {

namespace {

constexpr unsigned kMaxLineOffset = 1023;

bool parseOffset(const std::string& text, unsigned& out) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
  if (v > kMaxLineOffset) return false;
  out = static_cast<unsigned>(v);
  return true;
}

}  // namespace

bool parseRadioOption(const std::string& text, RadioWiring& wiring, std::string& error) {
  const std::string prefix = "spidev:";
  if (text.rfind(prefix, 0) != 0 || text.size() == prefix.size() || text[prefix.size()] != '/') {
    error = "--radio takes spidev:/dev/spidevB.C, not '" + text + "'";
    return false;
  }
  wiring.spidev = text.substr(prefix.size());
  return true;
}

bool parseGpioOption(const std::string& text, RadioWiring& wiring, std::string& error) {
  const std::string usage = "--gpio takes CHIP:busy=N,reset=N[,dio1=N][,rxen=N,txen=N]";
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    error = usage + ", not '" + text + "'";
    return false;
  }
  RadioWiring w = wiring;
  w.chip = text.substr(0, colon);
  w.dio1.reset();
  w.rxen.reset();
  w.txen.reset();
  std::set<std::string> seen;
  std::set<unsigned> lines;
  std::istringstream in(text.substr(colon + 1));
  for (std::string item; std::getline(in, item, ',');) {
    const size_t eq = item.find('=');
    const std::string role = item.substr(0, eq);
    unsigned offset = 0;
    if (eq == std::string::npos || !parseOffset(item.substr(eq + 1), offset)) {
      error = usage + ": '" + item + "' is not ROLE=N with a line offset 0.." + std::to_string(kMaxLineOffset);
      return false;
    }
    if (!seen.insert(role).second) {
      error = usage + ": " + role + " is given twice";
      return false;
    }
    if (!lines.insert(offset).second) {
      error = usage + ": line " + std::to_string(offset) + " is given two roles";
      return false;
    }
    if (role == "busy") {
      w.busy = offset;
    } else if (role == "reset") {
      w.reset = offset;
    } else if (role == "dio1") {
      w.dio1 = offset;
    } else if (role == "rxen") {
      w.rxen = offset;
    } else if (role == "txen") {
      w.txen = offset;
    } else {
      error = usage + ": unknown role '" + role + "'";
      return false;
    }
  }
  if (!seen.count("busy") || !seen.count("reset")) {
    error = usage + ": busy and reset are needed";
    return false;
  }
  if (w.rxen.has_value() != w.txen.has_value()) {
    error = usage + ": rxen and txen go together (without both, DIO2 switches the antenna)";
    return false;
  }
  wiring = w;
  return true;
}

}  // namespace vantor
