// Measurement commands of the shell: argument checks and arming here, the runs themselves
// when the main loop takes the pending action.
#include "DemoShellSample.h"

#include <cstring>

#include "Debug.h"
#include "DemoShellFormat.h"
#include "DemoShellParse.h"
#include "DemoShellRender.h"
#include "MCUState.h"
#include "SerialCommandUtil.h"
#include "SerialTokenizer.h"
#include "adc.h"
#include "clamp_phase_comp.h"
#include "gstate.h"
#include "logic.h"
#include "sleep.h"

bool gCaptureDone = false;

namespace {
constexpr uint32_t kEveryMaxCount = 10000;
constexpr uint32_t kEveryMaxPeriodSec = 3600;
constexpr uint32_t kEveryMaxTotalSec = 86400;
constexpr uint32_t kFrontEndSettleMs = 20;

const char* sampleTitle(SampleMode mode) {
  switch (mode) {
    case SampleMode::full: return "sample full";
    case SampleMode::hp: return "sample hp";
    default: return "sample lp";
  }
}
}  // namespace

void cmdSample(const char* args) {
  SampleMode mode = SampleMode::full;
  char label[SCU::kTokenBufSize] = "full";
  if (*SCU::skipWs(args) != '\0') {
    if (!ShellParse::loneToken(args, label, sizeof label)) {
      print("err: sample takes full|hp|lp (or nothing for full)");
      return;
    }
    if (std::strcmp(label, "full") == 0) {
      mode = SampleMode::full;
    } else if (std::strcmp(label, "hp") == 0) {
      mode = SampleMode::hp;
    } else if (std::strcmp(label, "lp") == 0) {
      if (!MCUState::Options::enableLP) {
        print("err: sample lp not available (enableLP is false)");
        return;
      }
      mode = SampleMode::lp;
    } else {
      print("err: sample takes full|hp|lp (or nothing for full)");
      return;
    }
  }
  if (!armPending(Pending::sample)) return;
  gSampleMode = mode;
  printV2("ok: sample %s", label);
}

void cmdEvery(const char* args) {
  char token[SCU::kTokenBufSize];
  const char* rest = SCU::parseToken(args, token, sizeof token);
  if (rest == nullptr) {
    print("err: every needs <n> <sec>");
    return;
  }
  uint32_t count = 0;
  // A run cut at the buffer size must not leave its tail to be read as <sec>.
  if (ShellParse::tokenWasCut(rest) || !ShellParse::boundedU32(token, 1, kEveryMaxCount, count)) {
    print("err: every <n> must be 1..10000");
    return;
  }
  uint32_t periodSec = 0;
  if (!ShellParse::boundedU32(rest, 1, kEveryMaxPeriodSec, periodSec)) {
    print("err: every <sec> must be 1..3600 (and must be present)");
    return;
  }
  const uint32_t totalSec = count * periodSec;  // at most 36 000 000: no overflow
  if (totalSec > kEveryMaxTotalSec) {
    printV2("err: every would run %lu s; max total is %lu s (reduce n or sec)", static_cast<unsigned long>(totalSec),
            static_cast<unsigned long>(kEveryMaxTotalSec));
    return;
  }
  if (!armPending(Pending::sampleRepeat)) return;
  gRepeatCount = count;
  gRepeatPeriodSec = periodSec;
  printV2("ok: every %lu %lu (mode stays as last 'sample')", static_cast<unsigned long>(count),
          static_cast<unsigned long>(periodSec));
}

void sampleSingleBranch(bool highPower) {
  const Stage1& frontEnd = mcustate().pin.switch_.stage1;
  frontEnd.setOn();
  delayMsLowPower(kFrontEndSettleMs);
  const bool complete = highPower ? ADCRead_HP(false) : ADCRead_LP(false);
  if (complete) computePowerFast();
  frontEnd.setOff();
}

void runSample(SampleMode mode) {
  switch (mode) {
    case SampleMode::full: powerReadingLogic(true); break;
    case SampleMode::hp: sampleSingleBranch(true); break;
    default: sampleSingleBranch(false); break;
  }
  // Tables of a capture that is not whole would show a current and a power far too low.
  gCaptureDone = captureComplete();
  if (!gCaptureDone) {
    print("err: sample failed, capture incomplete (no reading)");
    return;
  }
  ShellFmt::section(sampleTitle(mode));
  GState& state = setGstate();
  state.eFieldInductive.computeRMS();
  ShellFmt::measures(state.bField, state.eFieldInductive);
  ShellFmt::power(state);
}

void runSampleRepeat() {
  for (uint32_t i = 1; i <= gRepeatCount; ++i) {
    printV2("-- sample %lu/%lu", static_cast<unsigned long>(i), static_cast<unsigned long>(gRepeatCount));
    runSample(gSampleMode);
    if (i < gRepeatCount) delayMsLowPower(gRepeatPeriodSec * 1000u);
  }
  printV2("ok: every done (%lu samples)", static_cast<unsigned long>(gRepeatCount));
}
