// The field build's rules: how long it sleeps for a sleep limit, how the RTC time fields carry a
// cycle forward, and when a cycle transmits.
#include "field_node.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using FieldNode::Send;

namespace {

TEST(FieldStandby, LongestStandbyWithinTheSleepLimit) {
  // Periods of 1.024 s (32 kHz / 128 / 256); the hardware wakes after counter + 1 of them.
  const struct {
    float sleepMaxSec;
    uint32_t periods;
  } cases[] = {
      {600.0f, 585},                                        // 599.04 s
      {300.0f, 292},                                        // 299.008 s
      {1.024f, 1},                                          // exactly one period
      {1.0f, 1},                                            // shorter than one: the least there is
      {0.5f, 1},                                            //
      {-3.0f, 1},                                           //
      {67108.864f, 65536},                                  // the counter's reach
      {86400.0f, 65536},                                    // the remote setting's maximum is cut to it
      {std::numeric_limits<float>::infinity(), 65536},      //
      {std::numeric_limits<float>::quiet_NaN(), 585},       // not a number: the default 600 s
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FieldNode::standbyPeriods(c.sleepMaxSec), c.periods) << c.sleepMaxSec;
  }
}

TEST(FieldStandby, TimeFieldsAdvanceInWholeSecondsRoundedUpAndSaturate) {
  const struct {
    uint16_t before;
    uint64_t elapsedMs;
    uint16_t after;
  } cases[] = {
      {0, 0, 0},
      {0, 1, 1},
      {10, 1000, 11},
      {10, 1001, 12},
      {3000, 599040 + 3340, 3603},  // one 600 s cycle with 3.34 s awake
      {65000, 600000, 65535},
      {65535, 1, 65535},
      {0, 1ull << 40, 65535},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FieldNode::advancedSeconds(c.before, c.elapsedMs), c.after) << c.before << " + " << c.elapsedMs;
  }
}

TEST(FieldCycle, WhatACycleSends) {
  const struct {
    bool fullReading;
    bool wokeFromStandby;
    uint16_t silenceAtNextWake;
    Send send;
  } cases[] = {
      {true, true, 0, Send::newReading},       // the reading left the band: always told
      {true, false, 0, Send::newReading},      //
      {false, false, 0, Send::afterReset},     // power-on or reset: the receiver sees the restart
      {false, true, 3600, Send::nothing},      // in band, and the silence stays within the hour
      {false, true, 3601, Send::signOfLife},   // it would pass the hour before the next chance
      {false, true, 65535, Send::signOfLife},  // saturated
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FieldNode::whatToSend(c.fullReading, c.wokeFromStandby, c.silenceAtNextWake), c.send)
        << c.fullReading << c.wokeFromStandby << " " << c.silenceAtNextWake;
  }
}

TEST(FieldProvisioning, PauseBeforeAnAttemptIsARandomShareOfADoublingWindow) {
  // The window: 1 s before the first attempt of a start, doubling up to 32 s from the sixth on.
  const struct {
    uint32_t random;
    uint16_t attemptsMade;
    uint32_t pauseMs;
  } cases[] = {
      {0, 0, 0},       {999, 0, 999},     {1000, 0, 0},  {1999, 1, 1999},   {2000, 1, 0},
      {3999, 2, 3999}, {31999, 5, 31999}, {32000, 5, 0}, {63999, 6, 31999}, {0xFFFFFFFF, 200, 0xFFFFFFFFu % 32000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FieldNode::provisionPauseMs(c.random, c.attemptsMade), c.pauseMs)
        << c.random << " after " << c.attemptsMade;
  }
}

}  // namespace
