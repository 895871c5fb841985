// Measurement commands of the shell: argument checks and arming here, the runs themselves
// when the main loop takes the pending action.
#include "DemoShellSample.h"

#include <cstring>

#include "Debug.h"
#include "DemoShellParse.h"
#include "MCUState.h"
#include "SerialCommandUtil.h"
#include "SerialTokenizer.h"

bool gCaptureDone = false;

namespace {
constexpr uint32_t kEveryMaxCount = 10000;
constexpr uint32_t kEveryMaxPeriodSec = 3600;
constexpr uint32_t kEveryMaxTotalSec = 86400;
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
  if (SCU::isIdentChar(*rest) || !ShellParse::boundedU32(token, 1, kEveryMaxCount, count)) {
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
