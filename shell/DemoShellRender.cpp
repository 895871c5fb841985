// Labels of the shell's tables.
#include "DemoShellRender.h"

#include <array>

const char* yn(bool value) { return value ? "yes" : "no"; }
const char* yesNO(bool value) { return value ? "yes" : "NO"; }

const char* boardRevisionLabel(MCUState::HwRevision revision) {
  switch (revision) {
    case MCUState::HwRevision::R6_1: return "R6_1";
    case MCUState::HwRevision::R10: return "R10";
  }
  return "?";
}

const char* loraBwLabel(uint8_t bw) {
  // Indexed by the radio's bandwidth code; code 7 does not exist.
  static constexpr std::array<const char*, 11> kLabels = {"7.8", "15.6", "31.25", "62.5", "125", "250",
                                                          "500", "?",    "10.4",  "20.8", "41.7"};
  return bw < kLabels.size() ? kLabels[bw] : "?";
}

const char* loraCrLabel(uint8_t cr) {
  static constexpr std::array<const char*, 5> kLabels = {"?", "4/5", "4/6", "4/7", "4/8"};
  return cr < kLabels.size() ? kLabels[cr] : "?";
}

const char* loraRampLabel(uint8_t ramp) {
  static constexpr std::array<const char*, 8> kLabels = {"10 us",  "20 us",  "40 us",   "80 us",
                                                         "200 us", "800 us", "1700 us", "3400 us"};
  return ramp < kLabels.size() ? kLabels[ramp] : "?";
}
