// Shell commands of the configuration store, the RTC memory and standby: "print", "save",
// "unprovision" and "sleep".
#include <array>

#include "Debug.h"
#include "DemoShell.h"
#include "DemoShellParse.h"
#include "DemoShellRender.h"
#include "DeviceConfig.h"
#include "RTCMem.h"
#include "SerialCommandUtil.h"
#include "gstate.h"

namespace {

// In the order of the help text: adc, rms, power, csv, rtc, prov, adcinfo, vref, temp, soc.
const std::array<SCU::CommandEntry, 10> kPrintTargets = {{
    {"adc", printAdc},
    {"rms", printRms},
    {"power", printPower},
    {"csv", printCsv},
    {"rtc", printRtcCmd},
    {"prov", printProv},
    {"adcinfo", printAdcInfoCmd},
    {"vref", printVref},
    {"temp", printTemp},
    {"soc", printSoc},
}};

}  // namespace

void printRtcCmd(const char*) { printRTC(); }

void cmdPrint(const char* args) {
  if (SCU::dispatchCommand(args, kPrintTargets) == SCU::DispatchResult::ok) {
    print("ok: print");
  } else {
    print("err: print takes adc|rms|power|csv|rtc|prov|adcinfo|vref|temp|soc");
  }
}

void cmdSave(const char*) {
  if (!flash().commit()) {
    print("err: save failed (flash write)");
    return;
  }
  printV2("ok: save (config.ok now %s)", yesNO(gstate().config.ok()));
}

void cmdUnprovision(const char*) {
  if (!flash().erase()) {
    print("err: unprovision failed (flash erase)");
    return;
  }
  gPending = Pending::reset;  // replaces whatever was armed: the erased board must restart
  print("ok: unprovision (config erased, resetting)");
}

void cmdSleep(const char* args) {
  uint32_t secs = 0;
  if (!ShellParse::boundedU32(args, 1, 65535, secs)) {
    print("err: sleep needs <sec> in 1..65535");
    return;
  }
  if (!armPending(Pending::standby)) return;
  gStandbySecs = static_cast<uint16_t>(secs);
  printV2("ok: sleep %lu (standby now, board will reset on wake)", static_cast<unsigned long>(secs));
}
