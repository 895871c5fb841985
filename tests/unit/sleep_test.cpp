// Low-power delay (chunking, tick accounting, wake-ups that are not the timer), standby entry,
// and the reset/wake-up cause texts with their buffer limits.
#include "sleep.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "MCUState.h"
#include "adc_model.h"
#include "main.h"
#include "rtc_model.h"
#include "stm32g0xx_hal.h"
#include "test_board.h"
#include "tim6_model.h"
#include "uart_model.h"

namespace {

class SleepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    testing_support::takeOutput();
  }
  static sim::Tim6& tim6() { return sim::board().tim6(); }
};

TEST_F(SleepTest, ShortDelaysDoNotUseTheTimer) {
  const uint64_t t0 = sim::board().nowUs();
  delayMsLowPower(0);
  EXPECT_EQ(sim::board().nowUs(), t0);
  delayMsLowPower(2);
  const uint64_t waited = sim::board().nowUs() - t0;
  EXPECT_GE(waited, 2000u);
  EXPECT_LT(waited, 3200u);
  EXPECT_TRUE(tim6().startedPeriods().empty());
}

TEST_F(SleepTest, LongDelaySleepsInChunksAndAdvancesTheTick) {
  const uint64_t t0 = sim::board().nowUs();
  const uint32_t tick0 = HAL_GetTick();
  delayMsLowPower(70000);
  EXPECT_EQ(tim6().startedPeriods(), (std::vector<uint32_t>{65534, 4464}));
  EXPECT_EQ(HAL_GetTick() - tick0, 70000u);
  const uint64_t waited = sim::board().nowUs() - t0;
  EXPECT_GE(waited, 70000000u);
  EXPECT_LT(waited, 70001000u);
  EXPECT_FALSE(tim6().running());
}

TEST_F(SleepTest, DelayOneMillisecondPastAChunkStillEnds) {
  // 65535 + 1 would leave a 1 ms chunk, an auto-reload of 0, on which the timer never updates.
  const uint64_t t0 = sim::board().nowUs();
  const uint32_t tick0 = HAL_GetTick();
  delayMsLowPower(65536);
  EXPECT_EQ(tim6().startedPeriods(), (std::vector<uint32_t>{65533, 1}));
  EXPECT_EQ(HAL_GetTick() - tick0, 65536u);
  EXPECT_GE(sim::board().nowUs() - t0, 65536000u);
  EXPECT_LT(sim::board().nowUs() - t0, 65537000u);
}

TEST_F(SleepTest, OtherInterruptsDoNotShortenTheDelay) {
  // Console bytes arrive (UART and DMA interrupts wake the core) while the delay runs.
  sim::board().uart1().hostSend("typing during the delay\r\n");
  const uint64_t t0 = sim::board().nowUs();
  const uint32_t tick0 = HAL_GetTick();
  delayMsLowPower(100);
  EXPECT_GE(sim::board().nowUs() - t0, 100000u);
  EXPECT_LT(sim::board().nowUs() - t0, 101000u);
  EXPECT_EQ(HAL_GetTick() - tick0, 100u);
  EXPECT_EQ(tim6().startedPeriods(), (std::vector<uint32_t>{99}));
}

struct Restarted {
  sim::ResetKind kind;
  uint32_t sr1;
};

TEST_F(SleepTest, StandbyWakesAfterSleepPlusOneRtcPeriods) {
  sim::board().setRestartHandler([](sim::ResetKind kind, uint32_t sr1) { throw Restarted{kind, sr1}; });
  const uint64_t t0 = sim::board().nowUs();
  try {
    standBy(5);
    FAIL() << "standby returned";
  } catch (const Restarted& r) {
    EXPECT_EQ(r.kind, sim::ResetKind::standbyWake);
    EXPECT_EQ(r.sr1 & HAL_WAKE_FLAG_STANDBY, HAL_WAKE_FLAG_STANDBY);
  }
  // LSI 32 kHz / 128 / 256: 1.024 s per period, 6 periods.
  const uint64_t slept = sim::board().nowUs() - t0;
  EXPECT_GE(slept, 6144000u);
  EXPECT_LT(slept, 6145000u);
}

TEST_F(SleepTest, StandbyWithoutWakeUpTimerLogsAndReturns) {
  sim::board().rtc().failWakeUpTimer(true);
  standBy(5);
  EXPECT_EQ(testing_support::takeOutput(), "Failed to set wake up timer\r\n");
  // Still awake and usable: the delay works and the tick runs.
  const uint32_t tick0 = HAL_GetTick();
  testing_support::runFor(5000);
  EXPECT_GE(HAL_GetTick() - tick0, 4u);
  delayMsLowPower(10);
}

// The fatal-error path runs with interrupts masked, so no tick advances: whatever does not answer
// on the way (the converter being stopped, the RTC wake-up timer), the board ends in standby, or
// in a system reset when standby cannot be armed, within a bounded time.
TEST_F(SleepTest, FatalErrorEndsInStandbyOrResetWhateverDoesNotAnswer) {
  const struct {
    bool adcSilent;
    bool rtcFails;
    sim::ResetKind kind;
  } cases[] = {
      {false, false, sim::ResetKind::standbyWake},
      {true, false, sim::ResetKind::standbyWake},
      {false, true, sim::ResetKind::software},
      {true, true, sim::ResetKind::software},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "adc silent " << c.adcSilent << ", rtc fails " << c.rtcFails);
    SetUp();
    MX_ADC1_Init();
    setMCUGstate().hadc1 = &hadc1;
    sim::board().adc().setUnresponsive(c.adcSilent);
    sim::board().rtc().failWakeUpTimer(c.rtcFails);
    sim::board().setRestartHandler([](sim::ResetKind kind, uint32_t sr1) { throw Restarted{kind, sr1}; });
    const uint64_t t0 = sim::board().nowUs();
    try {
      Error_Handler();
      FAIL() << "the fatal-error path returned";
    } catch (const Restarted& r) {
      EXPECT_EQ(r.kind, c.kind);
    }
    if (c.kind == sim::ResetKind::software) {
      EXPECT_LT(sim::board().nowUs() - t0, 100000u);
      EXPECT_EQ(testing_support::takeOutput(), "Failed to set wake up timer\r\n");
    }
  }
}

std::string resetText(uint32_t csr, size_t size = 256) {
  std::vector<char> buf(size + 8, '#');
  getResetCauseString(csr, buf.data(), size);
  EXPECT_EQ(buf[size - 1], '\0');
  for (size_t i = size; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "written past the buffer";
  return buf.data();
}

std::string bootText(uint32_t sr1, size_t size = 256) {
  std::vector<char> buf(size + 8, '#');
  getBootCauseMaskString(sr1, buf.data(), size);
  for (size_t i = size; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "written past the buffer";
  return std::string(buf.data(), strnlen(buf.data(), size));
}

TEST(ResetCause, HighestPriorityFlagWins) {
  const struct {
    uint32_t csr;
    const char* text;
  } cases[] = {
      {0x80000000u, "LPWRRSTF (low-power reset)"},
      {0x40000000u, "WWDGRSTF (window watchdog reset)"},
      {0x20000000u, "IWDGRSTF (independent watchdog reset)"},
      {0x14000000u, "SFTRSTF (software reset)"},  // software reset also pulls NRST
      {0x0C000000u, "PWRRSTF (power-on/brownout reset)"},
      {0x04000000u, "PINRSTF (NRST pin reset)"},
      {0x02000000u, "OBLRSTF (option byte loader reset)"},
      {0xFE000000u, "LPWRRSTF (low-power reset)"},
      {0x00000000u, "unhandled reason CSR=0x00000000"},
      {0x01800603u, "unhandled reason CSR=0x01800603"},
  };
  for (const auto& c : cases) EXPECT_EQ(resetText(c.csr), c.text) << std::hex << c.csr;
}

TEST(ResetCause, ShortBufferIsCutAndTerminated) {
  EXPECT_EQ(resetText(0x10000000u, 8), "SFTRSTF");
  EXPECT_EQ(resetText(0, 10), "unhandled");
  EXPECT_EQ(resetText(0x10000000u, 1), "");
}

TEST(BootCause, FirstWakeFlagWins) {
  const struct {
    uint32_t sr1;
    const char* text;
  } cases[] = {
      {0x00000100u, "SBF (standby flag set)"},
      {0x00008100u, "SBF (standby flag set)"},
      {0x0000011Bu, "SBF (standby flag set)"},
      {0x00000001u, "WUF1 (wakeup flag 1)"},
      {0x00000002u, "WUF2 (wakeup flag 2)"},
      {0x00000018u, "WUF4 (wakeup flag 4)"},
      {0x00000010u, "WUF5 (wakeup flag 5)"},
      {0x00000000u, "unhandled reason SR1=0x00000000"},
      {0x00008020u, "unhandled reason SR1=0x00008020"},
  };
  for (const auto& c : cases) EXPECT_EQ(bootText(c.sr1), c.text) << std::hex << c.sr1;
}

TEST(BootCause, TextThatDoesNotFitGivesTheNoneTextCut) {
  // "SBF (standby flag set)" is 22 characters: it fits in 23, not in 22.
  EXPECT_EQ(bootText(HAL_WAKE_FLAG_STANDBY, 23), "SBF (standby flag set)");
  EXPECT_EQ(bootText(HAL_WAKE_FLAG_STANDBY, 22), "none (no RCC/PWR rese");
  EXPECT_EQ(bootText(HAL_WAKE_FLAG_STANDBY, 10), "none (no ");
  EXPECT_EQ(bootText(0, 31), "none (no RCC/PWR reset-wakeup ");
  EXPECT_EQ(bootText(0, 32), "unhandled reason SR1=0x00000000");
  EXPECT_EQ(bootText(HAL_WAKE_FLAG_STANDBY, 1), "");
}

TEST_F(SleepTest, DecoderLogsBothCauses) {
  resetCauseDecoder(HAL_RESET_FLAG_SOFTWARE | HAL_RESET_FLAG_PIN, HAL_WAKE_FLAG_STANDBY);
  EXPECT_EQ(testing_support::takeOutput(),
            "Reset cause: SFTRSTF (software reset)\n\rboot cause: SBF (standby flag set)\n\r");
}

// The fault handler's record (exception and stacked PC in backup registers 3 and 4) is told once,
// after the causes; a register without the record's mark is not one.
TEST_F(SleepTest, DecoderTellsAFaultRecordOnce) {
  struct Case {
    uint32_t record;
    uint32_t pc;
    const char* line;
  };
  const Case cases[] = {
      {0xFA170003u, 0x08001234u, "Fault before this start: exception 3 (HardFault) at PC 0x08001234\n\r"},
      {0xFA170029u, 0x0800BEEEu, "Fault before this start: exception 41 (unexpected interrupt) at PC 0x0800BEEE\n\r"},
      {0xFA170003u, 0u, "Fault before this start: exception 3 (HardFault) at PC 0x00000000\n\r"},
      {0x00000003u, 0x08001234u, ""},
      {0xFA160003u, 0x08001234u, ""},
  };
  const std::string causes = "Reset cause: SFTRSTF (software reset)\n\rboot cause: unhandled reason SR1=0x00000000\n\r";
  for (const Case& c : cases) {
    HAL_RTCEx_BKUPWrite(&hrtc, 3, c.record);
    HAL_RTCEx_BKUPWrite(&hrtc, 4, c.pc);
    testing_support::takeOutput();
    resetCauseDecoder(HAL_RESET_FLAG_SOFTWARE, 0);
    EXPECT_EQ(testing_support::takeOutput(), causes + c.line) << std::hex << c.record;
    resetCauseDecoder(HAL_RESET_FLAG_SOFTWARE, 0);
    EXPECT_EQ(testing_support::takeOutput(), causes) << "told twice";
  }
}

}  // namespace
