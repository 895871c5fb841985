// Targets of "print": stored measurements, the capture, supply readings and the provisioned
// identity. The argument text after the target name is not used.
#include "DemoShell.h"
#include "DemoShellFormat.h"
#include "DemoShellRender.h"
#include "MCUState.h"
#include "SerialSetters.h"
#include "adc.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "measure_report.h"

void printAdc(const char*) {
  ShellFmt::section("adc buffer");
  ShellFmt::adcStats(gstate());
  debugADCBuffer();
}

void printRms(const char*) {
  ShellFmt::section("rms");
  ShellFmt::measures(gstate().bField, gstate().eFieldInductive);
}

void printPower(const char*) {
  ShellFmt::section("power");
  ShellFmt::power(gstate());
}

void printCsv(const char*) {
  printDebug(gstate().bField);
  printDebug(gstate().eFieldInductive);
  printDebugPower(gstate());
}

void printProv(const char*) { SCU::printProvisioningInfo(); }

void printAdcInfoCmd(const char*) { printADCInfo(); }

void printVref(const char*) { rowFloat1("VRef (V)", gstate().adc.VRef, 3); }

void printTemp(const char*) {
  const float temperature = getTemperature();
  setGstate().temperature = temperature;
  rowFloat1("temperature (C)", temperature, 3);
}

void printSoc(const char*) {
  const float soc = getStateOfCharge(gstate().adc.VRef, gstate().temperature);
  setMCUGstate().SoC = soc;
  rowFloat1("SoC", soc, 3);
}
