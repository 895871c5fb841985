// Command line of orvane-sim.
#include "options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "analog_frontend.h"
#include "radio_options.h"

namespace sim {

const char* usageText() {
  return "usage: orvane-sim [options]\n"
         "  --state DIR        board state folder (flash page, RTC registers, clock); default .orvane-sim\n"
         "                     a new folder is a board powered on for the first time\n"
         "  --speed X          virtual time per wall time: 1 = real time, 0 = as fast as possible\n"
         "                     (default 1 on a terminal, else 0)\n"
         "  --console MODE     stdio (default) or pty (prints the pty path for picocom/minicom)\n"
         "  --pty-link PATH    with --console pty: keep a symlink to the pty at PATH\n"
         "  --burst            send piped input in one burst instead of line by line\n"
         "  --seed N           seed of the simulated world (default 1)\n"
         "  --chip-id HEX      96-bit unique ID of the MCU, 24 hex digits\n"
         "  --lsi-hz HZ        the chip's LSI oscillator, the RTC's clock (default 32000; "
         "29500..34000)\n" SIM_RADIO_USAGE_TEXT SIM_TRACE_USAGE_TEXT
         "  --no-vantor        no receiving node on the air\n"
         "  --vantor-db DB     the receiving node's database: a file (default vantor.sqlite in the state\n"
         "                     folder) or a PostgreSQL server, postgresql://USER@HOST:PORT/DATABASE\n"
         "  --vantor-fault F   late | silent | corrupt | replay, each optionally @FROM_MS-TO_MS of virtual\n"
         "                     time (repeatable)\n"
         "  --mqtt URL         the Vantor publishes to this MQTT broker, mqtt://HOST:PORT, and takes commands\n"
         "  --mqtt-prefix P    its topics' prefix (default orvane)\n"
         "  --mqtt-client-id ID  its client id (default vantor-HOSTNAME; one per Vantor on a broker)\n"
         "  --http ADDR:PORT   serve the Vantor's dashboard there, e.g. 127.0.0.1:8080\n"
         "  --token-file FILE  the token that the dashboard's changes must carry (needed beyond the loopback)\n"
         "  --air unix:PATH    join orvane-air's shared medium instead of the board's own (sim/AIR.md)\n"
         "  --air-name NAME    this node's name on the air (default node)\n"
         "  --air-at X,Y       its position on the air, metres\n"
         "  --load ITEMS       analog front-end scenario, e.g. current=5,pf=0.8 (repeatable)\n"
         "  --load-file FILE   scenario items from a file (one or more per line, # comments)\n"
         "  --flash-fail-erase       every erase of the configuration page fails (page unchanged)\n"
         "  --flash-fail-program N   programming double word N (0..255) after an erase fails\n"
         "  --flash-power-cut N|N.5|erase  cut the power once, with N (0..255) double words programmed\n"
         "                     after an erase (N.5: in the middle of the next one, which then fails its\n"
         "                     ECC check), or as an erase starts (the page keeps its old data)\n"
         "  --power-cut-at MS  cut the power once, at MS milliseconds (decimals allowed) of virtual time\n"
         "  --adc-stall ROWS[xN]  the ADC overruns after ROWS (0..230) rows of a capture, whose DMA transfer\n"
         "                     then never ends; in every capture, or in the first N of each start\n"
         "console escapes (Ctrl-A then a key): r reset button, p power cut, x quit, Ctrl-A literal Ctrl-A\n";
}

bool parseOptions(int argc, char** argv, Options& out, std::string& message) {
  out.argv.assign(argv, argv + argc);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& dst) -> bool {
      if (i + 1 >= argc) {
        message = "orvane-sim: " + arg + " needs a value\n";
        return false;
      }
      dst = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      message = usageText();
      return false;
    } else if (arg == "--state") {
      if (!value(out.stateDir)) return false;
      if (out.stateDir.empty()) {
        message = "orvane-sim: --state needs a folder\n";
        return false;
      }
    } else if (arg == "--speed") {
      if (!value(v)) return false;
      char* end = nullptr;
      const double s = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(s >= 0.0) || s > 1e6) {
        message = "orvane-sim: --speed takes a number >= 0\n";
        return false;
      }
      out.speed = s;
    } else if (arg == "--console") {
      if (!value(v)) return false;
      if (v == "stdio") {
        out.console = ConsoleMode::stdio;
      } else if (v == "pty") {
        out.console = ConsoleMode::pty;
      } else {
        message = "orvane-sim: --console takes stdio or pty\n";
        return false;
      }
    } else if (arg == "--pty-link") {
      if (!value(out.ptyLink)) return false;
    } else if (arg == "--burst") {
      out.burst = true;
    } else if (arg == "--seed") {
      if (!value(v)) return false;
      char* end = nullptr;
      out.seed = std::strtoull(v.c_str(), &end, 0);
      if (end == v.c_str() || *end != '\0') {
        message = "orvane-sim: --seed takes a number\n";
        return false;
      }
    } else if (arg == "--chip-id") {
      if (!value(v)) return false;
      if (v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0) v = v.substr(2);
      if (v.size() != 24 || v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        message = "orvane-sim: --chip-id takes 24 hex digits (96 bits)\n";
        return false;
      }
      out.chipId = v;
    } else if (arg == "--lsi-hz") {
      if (!value(v)) return false;
      char* end = nullptr;
      const unsigned long hz = std::strtoul(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || hz < 29500 || hz > 34000) {
        message = "orvane-sim: --lsi-hz takes 29500..34000 (the datasheet's spread of the LSI)\n";
        return false;
      }
      out.lsiHz = static_cast<uint32_t>(hz);
    } else if (arg == "--air-log") {
      if (!value(out.airLog)) return false;
    } else if (arg == "--air-script") {
      if (!value(out.airScript)) return false;
    } else if (arg == "--link-loss") {
      if (!value(v)) return false;
      char* end = nullptr;
      out.linkLossDb = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(out.linkLossDb >= 0.0) || out.linkLossDb > 200.0) {
        message = "orvane-sim: --link-loss takes a number of dB, 0..200\n";
        return false;
      }
      out.linkLossSet = true;
    } else if (arg == "--air") {
      if (!value(out.air)) return false;
    } else if (arg == "--air-name") {
      if (!value(out.airName)) return false;
      if (out.airName.empty() || out.airName.size() > 64 ||
          out.airName.find_first_of("\"\\ \t\n") != std::string::npos) {
        message = "orvane-sim: --air-name takes 1 to 64 characters, no blanks or quotes\n";
        return false;
      }
    } else if (arg == "--air-at") {
      if (!value(v)) return false;
      char* end = nullptr;
      out.airAtX = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != ',') {
        message = "orvane-sim: --air-at takes X,Y in metres\n";
        return false;
      }
      const char* y = end + 1;
      out.airAtY = std::strtod(y, &end);
      if (end == y || *end != '\0' || !std::isfinite(out.airAtX) || !std::isfinite(out.airAtY)) {
        message = "orvane-sim: --air-at takes X,Y in metres\n";
        return false;
      }
      out.airAtSet = true;
    } else if (arg == "--interferer") {
      if (!value(out.interferer)) return false;
    } else if (arg == "--radio-fault") {
      if (!value(v)) return false;
      out.radioFaults.push_back(v);
    } else if (arg == "--no-vantor") {
      out.vantor = false;
    } else if (arg == "--vantor-db") {
      if (!value(out.vantorDb)) return false;
      if (out.vantorDb.empty()) {
        message = "orvane-sim: --vantor-db needs a file or a postgresql:// URL\n";
        return false;
      }
    } else if (arg == "--vantor-fault") {
      if (!value(v)) return false;
      out.vantorFaults.push_back(v);
    } else if (arg == "--mqtt") {
      if (!value(out.mqtt)) return false;
    } else if (arg == "--mqtt-prefix") {
      if (!value(out.mqttPrefix)) return false;
    } else if (arg == "--mqtt-client-id") {
      if (!value(out.mqttClientId)) return false;
    } else if (arg == "--http") {
      if (!value(out.vantorHttp)) return false;
    } else if (arg == "--token-file") {
      if (!value(out.vantorTokenFile)) return false;
    } else if (arg == "--load" || arg == "--load-file") {
      if (!value(v)) return false;
      std::string text = v;
      if (arg == "--load-file") {
        std::ifstream in(v);
        if (!in) {
          message = "orvane-sim: --load-file cannot read " + v + "\n";
          return false;
        }
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
      }
      Scenario check;
      std::string why;
      if (!parseScenario(out.scenario + "\n" + text, check, why)) {
        message = "orvane-sim: " + arg + ": " + why + "\n" + scenarioHelp();
        return false;
      }
      out.scenario += "\n" + text;
    } else if (parseTraceOption(argc, argv, i, out.trace, message)) {
      if (!message.empty()) return false;
    } else if (arg == "--flash-fail-erase") {
      out.flashFaults.eraseFails = true;
    } else if (arg == "--flash-fail-program" || arg == "--flash-power-cut") {
      if (!value(v)) return false;
      const bool cut = arg == "--flash-power-cut";
      if (cut && v == "erase") {
        out.flashFaults.powerCutInErase = true;
        continue;
      }
      // N.5: in the middle of programming the double word after the first N.
      if (cut && v.size() > 2 && v.compare(v.size() - 2, 2, ".5") == 0) {
        out.flashFaults.powerCutMidWord = true;
        v.resize(v.size() - 2);
      }
      char* end = nullptr;
      const unsigned long n = std::strtoul(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || v[0] == '-' || n > 255) {  // 256 double words in a page
        message = cut ? "orvane-sim: --flash-power-cut takes 0..255, 0.5..255.5 or erase\n"
                      : "orvane-sim: --flash-fail-program takes 0..255\n";
        return false;
      }
      (cut ? out.flashFaults.powerCutAt : out.flashFaults.programFailsAt) = static_cast<int>(n);
    } else if (arg == "--adc-stall") {
      if (!value(v)) return false;
      char* end = nullptr;
      const unsigned long rows = std::strtoul(v.c_str(), &end, 10);
      unsigned long captures = 0;
      bool ok = end != v.c_str() && v[0] != '-' && rows < 231;  // a capture has 231 rows
      if (ok && *end == 'x') {
        const char* n = end + 1;
        captures = std::strtoul(n, &end, 10);
        ok = end != n && *n != '-' && captures >= 1 && captures <= 1000000;
      }
      if (!ok || *end != '\0') {
        message = "orvane-sim: --adc-stall takes ROWS (0..230), optionally xN (N captures, 1..1000000)\n";
        return false;
      }
      out.adcStallRows = static_cast<int>(rows);
      out.adcStallCaptures = captures != 0 ? static_cast<int>(captures) : -1;
    } else if (arg == "--power-cut-at") {
      if (!value(v)) return false;
      char* end = nullptr;
      const double ms = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(ms >= 0.0) || ms > 1e12) {
        message = "orvane-sim: --power-cut-at takes milliseconds (decimals allowed), 0..1e12\n";
        return false;
      }
      out.powerCutAtUs = static_cast<int64_t>(ms * 1000.0 + 0.5);
    } else {
      message = "orvane-sim: unknown option " + arg + "\n" + usageText();
      return false;
    }
  }
  return checkRadioOptions(out, message);
}

}  // namespace sim
