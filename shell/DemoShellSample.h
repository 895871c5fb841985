// The "sample" and "every" commands and the sample runs they arm.
#pragma once

#include "DemoShell.h"

// Set by every sample run; the radio commands warn when no capture was taken since the start.
extern bool gCaptureDone;

void cmdSample(const char* args);
void cmdEvery(const char* args);

// One acquisition of the given mode, then its measures and power tables.
void runSample(SampleMode mode);
// Front end on, settle, one high- or low-power capture, power computation, front end off.
void sampleSingleBranch(bool highPower);
// gRepeatCount samples of gSampleMode, gRepeatPeriodSec apart, then the closing line.
void runSampleRepeat();
