// Identity, stored state and build options of the node, as tables.
#include "DemoShellInfo.h"

#include <cstdio>

#include "Debug.h"
#include "DemoShellFormat.h"
#include "DemoShellRender.h"
#include "MCUState.h"
#include "build_info.h"
#include "functionsMCU.h"
#include "gstate.h"
#include "packet10.h"
#include "sleep.h"

namespace {

constexpr int kCpuClockHz = 4000000;

// Switches of the global state that this build reports but does not act on.
struct Switch {
  const char* label;
  bool value;
};
constexpr Switch kReportedSwitches[] = {
    {"prov.bySerial", false},    {"prov.byLora", true},    {"debug.enabled", true},   {"debug.adcInfo", true},
    {"debug.adcBuffer", true},   {"debug.rmsInfo", false}, {"debug.powerInfo", true}, {"debug.vRef", true},
    {"debug.temperature", true}, {"debug.lora", true},
};

void rowText(const char* label, const char* format, long value) {
  char text[24];
  std::snprintf(text, sizeof text, format, value);
  ShellFmt::row1(label, text);
}

void rowPacketOpt(const char* label, const MCUState::PacketOpt& opt) {
  char text[48];
  std::snprintf(text, sizeof text, "send=%s debug=%s notify=%s", yn(opt.send), yn(opt.debug), yn(opt.notify));
  ShellFmt::row1(label, text);
}

void printBoardTable() {
  ShellFmt::head1("board", "value");
  ShellFmt::row1("boardRevision", boardRevisionLabel(MCUState::boardRevision));
  rowText("hwRevision", "%ld", MCUState::hwRevision);
  rowText("CPU_CLOCK_HZ", "%ld", kCpuClockHz);
  ShellFmt::row1("enableHP", yn(MCUState::Options::enableHP));
  ShellFmt::row1("enableLP", yn(MCUState::Options::enableLP));
}

void printLoraTable() {
  const MCUState::Lora& lora = mcustate().lora;
  ShellFmt::head1("lora", "value");
  rowU32_1("freq (Hz)", lora.freq);
  rowText("SF", "%ld", lora.sf);
  ShellFmt::row1("BW (kHz)", loraBwLabel(lora.bw));
  ShellFmt::row1("CR", loraCrLabel(lora.cr));
  rowText("ldro", "%ld", lora.ldro);
  ShellFmt::row1("ramp", loraRampLabel(lora.rTime));
  rowText("channelBusyRssiDbm", "%ld", MCUState::Lora::channelBusyRssiDbm);
  rowText("channelBusySampleMs", "%ld", MCUState::Lora::channelBusySampleTimeMs);
}

void printLoraOptionsTable() {
  using Opt = MCUState::Options::Lora;
  ShellFmt::head1("lora options", "value");
  ShellFmt::row1("enable", yn(Opt::enable));
  rowPacketOpt("packet3", Opt::packet3);
  ShellFmt::row1("txDebugPacket", yn(Opt::txDebugPacket));
  ShellFmt::row1("txPacket4", yn(Opt::txPacket4));
  ShellFmt::row1("debugPacket4", yn(Opt::debugPacket4));
  ShellFmt::row1("notifyPacket4", yn(Opt::notifyPacket4));
  rowPacketOpt("packet7", Opt::packet7);
  ShellFmt::row1("notifyPacket7", yn(Opt::notifyPacket7));
  ShellFmt::row1("txPacket8DoubleSend", yn(Opt::txPacket8DoubleSend));
  ShellFmt::row1("packet8Debug", yn(Opt::packet8Debug));
  ShellFmt::row1("txPacket9", yn(Opt::txPacket9));
  ShellFmt::row1("txPacket15", yn(Opt::txPacket15));
  ShellFmt::row1("packet15Debug", yn(Opt::packet15Debug));
  ShellFmt::row1("enableDynamicPower", yn(Opt::enableDynamicPower));
  ShellFmt::row1("forceListen", yn(Opt::forceListen));
}

void printGstateTable() {
  ShellFmt::head1("gstate", "value");
  ShellFmt::row1("adaptiveTX.enabled", yn(GState::AdaptivePowerTX::enabled));
  rowText("adaptiveTX.fixedSleep", "%ld", GState::AdaptivePowerTX::fixedSleep);
  for (const Switch& s : kReportedSwitches) ShellFmt::row1(s.label, yn(s.value));
}

}  // namespace

bool uidIsUnset() { return gstate().config.uid.toU24() == 0; }

bool hmacKeyIsBlank() {
  for (uint8_t b : gstate().config.hmacKey) {
    if (b != 0) return false;
  }
  return true;
}

void cmdInfo(const char*) {
  const GState& g = gstate();
  ShellFmt::section("info");
  printBuildInfo();

  ShellFmt::head1("identity", "value");
  char text[32];
  std::snprintf(text, sizeof text, "0x%06lX", static_cast<unsigned long>(g.config.uid.toU24()));
  ShellFmt::row1("uid", text);
  const LoRaPacket10::StUid chip = LoRaPacket10::packStUidBytes(readChipID());
  appendHexBytes(text, 0, sizeof text, chip.data(), static_cast<unsigned>(chip.size()), false);
  ShellFmt::row1("stm32 uid", text);
  ShellFmt::row1("config.ok", yesNO(g.config.ok()));
  ShellFmt::row1("hmacKey", hmacKeyIsBlank() ? "blank" : "set");

  ShellFmt::head1("state", "value");
  rowFloat1("VRef (V)", g.adc.VRef, 3);
  rowFloat1("temperature (C)", g.temperature, 3);
  rowFloat1("SoC", mcustate().SoC, 3);
  ShellFmt::row1("phase corr (rad)", phaseCorrectionText(text, sizeof text, g.config.inductive50HzPhaseCorrection));

  char cause[256];
  getResetCauseString(mcustate().resetCause, cause, sizeof cause);
  printV2("  reset cause: %s", cause);
  if (!g.config.ok()) print("  warn: uid not committed -- set uid 0xNNNNNN then save");
  print("ok: info");
}

void cmdCompileInfo(const char*) {
  ShellFmt::section("compileInfo");
  printBuildInfo();
  printBoardTable();
  printLoraTable();
  printLoraOptionsTable();
  printGstateTable();
  print("ok: compileInfo");
}
