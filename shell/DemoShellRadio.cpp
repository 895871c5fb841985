// Shell commands that switch the radio and the board's supply lines: "radio on" and "pin".
#include <cstring>

#include "Debug.h"
#include "DemoShell.h"
#include "DemoShellParse.h"
#include "MCUState.h"
#include "SerialCommandUtil.h"
#include "SerialTokenizer.h"

namespace {
constexpr const char* kRadioDidNotInit = "err: radio did not init (check supply and SPI)";
}  // namespace

void cmdRadio(const char* args) {
  char token[SCU::kTokenBufSize];
  if (!ShellParse::loneToken(args, token, sizeof token) || std::strcmp(token, "on") != 0) {
    print("err: radio takes on (use 'pin lora off' to cut power)");
    return;
  }
  // The supply stays on, even when the radio does not answer, until "pin lora off".
  if (mcustate().pin.switch_.lora.setOn()) {
    print("ok: radio on");
  } else {
    print(kRadioDidNotInit);
  }
}

void cmdPin(const char* args) {
  char name[SCU::kTokenBufSize];
  char state[SCU::kTokenBufSize];
  const char* rest = SCU::parseToken(args, name, sizeof name);
  if (rest != nullptr) rest = SCU::parseToken(rest, state, sizeof state);
  const bool stateOk = rest != nullptr && *SCU::skipWs(rest) == '\0' &&
                       (std::strcmp(state, "on") == 0 || std::strcmp(state, "off") == 0);
  const bool known = rest != nullptr && (std::strcmp(name, "stage1") == 0 || std::strcmp(name, "optohp") == 0 ||
                                         std::strcmp(name, "lora") == 0);
  if (!stateOk || !known) {
    print("err: pin takes stage1|optohp|lora followed by on|off");
    return;
  }
  const bool on = std::strcmp(state, "on") == 0;
  const MCUState::Pin::Switch& sw = mcustate().pin.switch_;
  if (std::strcmp(name, "stage1") == 0) {
    on ? sw.stage1.setOn() : sw.stage1.setOff();
  } else if (std::strcmp(name, "optohp") == 0) {
    on ? sw.optoHP.setOn() : sw.optoHP.setOff();
  } else if (on) {
    if (!sw.lora.setOn()) {
      print(kRadioDidNotInit);
      return;
    }
  } else {
    sw.lora.setOff();
  }
  printV2("ok: pin %s %s", name, on ? "on" : "off");
}
