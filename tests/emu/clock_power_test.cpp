// RCC, PWR, RTC and TAMP of the emulated chip, register by register (RM0454: reset and clock
// control, power control, real-time clock, tamper and backup registers).
#include <cstddef>

#include "chip_fixture.h"
#include "rcc_front.h"
#include "pwr_front.h"
#include "rtc_model.h"

namespace {

using emu_test::ChipTest;
using emu_test::kRccAhbenr;
using emu_test::kRccApbenr1;
using emu_test::kRccApbenr2;
using emu_test::kRccIopenr;

constexpr uint32_t kRccCr = RCC_BASE + offsetof(RCC_TypeDef, CR);
constexpr uint32_t kRccCfgr = RCC_BASE + offsetof(RCC_TypeDef, CFGR);
constexpr uint32_t kRccPllcfgr = RCC_BASE + offsetof(RCC_TypeDef, PLLCFGR);
constexpr uint32_t kRccBdcr = RCC_BASE + offsetof(RCC_TypeDef, BDCR);
constexpr uint32_t kRccCsr = RCC_BASE + offsetof(RCC_TypeDef, CSR);
constexpr uint32_t kPwrCr1 = PWR_BASE + offsetof(PWR_TypeDef, CR1);
constexpr uint32_t kPwrCr3 = PWR_BASE + offsetof(PWR_TypeDef, CR3);
constexpr uint32_t kPwrPucrb = PWR_BASE + offsetof(PWR_TypeDef, PUCRB);
constexpr uint32_t kPwrPdcra = PWR_BASE + offsetof(PWR_TypeDef, PDCRA);
constexpr uint32_t kRtcIcsr = RTC_BASE + offsetof(RTC_TypeDef, ICSR);
constexpr uint32_t kRtcPrer = RTC_BASE + offsetof(RTC_TypeDef, PRER);
constexpr uint32_t kRtcWutr = RTC_BASE + offsetof(RTC_TypeDef, WUTR);
constexpr uint32_t kRtcCr = RTC_BASE + offsetof(RTC_TypeDef, CR);
constexpr uint32_t kRtcWpr = RTC_BASE + offsetof(RTC_TypeDef, WPR);
constexpr uint32_t kTampBkp0 = TAMP_BASE + offsetof(TAMP_TypeDef, BKP0R);

using Rcc = ChipTest;

TEST_F(Rcc, ResetsToHsi16WithTheFlashInterfaceClocked) {
  EXPECT_EQ(read(kRccCr), RCC_CR_HSION | RCC_CR_HSIRDY);
  EXPECT_EQ(read(RCC_BASE + offsetof(RCC_TypeDef, ICSCR)) & RCC_ICSCR_HSITRIM, 64u << RCC_ICSCR_HSITRIM_Pos);
  EXPECT_EQ(read(kRccCfgr), 0u);
  EXPECT_EQ(read(kRccPllcfgr), 16u << RCC_PLLCFGR_PLLN_Pos);
  EXPECT_EQ(read(kRccAhbenr), RCC_AHBENR_FLASHEN);
  EXPECT_EQ(chip().rcc().hclkHz(), 16000000u);
  EXPECT_EQ(chip().core().clockHz(), 16000000u);
  // A new board is a power-on: PWRRSTF and PINRSTF; RMVF clears them, LSION stays as written.
  EXPECT_EQ(read(kRccCsr) & 0xFF000000u, RCC_CSR_PWRRSTF | RCC_CSR_PINRSTF);
  write(kRccCsr, RCC_CSR_RMVF | RCC_CSR_LSION);
  EXPECT_EQ(read(kRccCsr), RCC_CSR_LSION | RCC_CSR_LSIRDY);
}

// HSISYS = HSI16 / 2^HSIDIV, then HCLK = SYSCLK / HPRE and PCLK = HCLK / PPRE; the core runs on HCLK.
TEST_F(Rcc, ClockTreeSetsTheCoresClock) {
  struct Case {
    uint32_t hsidiv, hpre, ppre, hclk, pclk;
  };
  const Case cases[] = {
      {0, 0, 0, 16000000, 16000000}, {2, 0, 0, 4000000, 4000000},  {2, 0, 4, 4000000, 2000000},
      {0, 8, 0, 8000000, 8000000},   {0, 11, 7, 1000000, 62500},    {0, 12, 0, 250000, 250000},
      {0, 15, 0, 31250, 31250},      {7, 0, 0, 125000, 125000},     {1, 7, 3, 8000000, 8000000},
  };
  for (const Case& c : cases) {
    write(kRccCr, RCC_CR_HSION | (c.hsidiv << RCC_CR_HSIDIV_Pos));
    write(kRccCfgr, (c.hpre << RCC_CFGR_HPRE_Pos) | (c.ppre << RCC_CFGR_PPRE_Pos));
    EXPECT_EQ(chip().rcc().hclkHz(), c.hclk) << "HSIDIV " << c.hsidiv << " HPRE " << c.hpre;
    EXPECT_EQ(chip().rcc().pclkHz(), c.pclk) << "HSIDIV " << c.hsidiv << " PPRE " << c.ppre;
    EXPECT_EQ(chip().core().clockHz(), c.hclk);
  }
}

// The switch happens only to a source that runs; SWS tells which one does.
TEST_F(Rcc, SwitchesOnlyToARunningSource) {
  write(kRccCfgr, RCC_CFGR_SW_HSE);  // no crystal on this board
  EXPECT_EQ((read(kRccCfgr) & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos, RCC_CFGR_SW_HSISYS);
  write(kRccCfgr, RCC_CFGR_SW_PLLRCLK);  // the PLL is off
  EXPECT_EQ((read(kRccCfgr) & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos, RCC_CFGR_SW_HSISYS);
  // PLL from HSI16: / (M + 1) = /1, x N = 8, / (R + 1) = /2: 64 MHz.
  write(kRccPllcfgr, RCC_PLLCFGR_PLLSRC_HSI | (8u << RCC_PLLCFGR_PLLN_Pos) | (1u << RCC_PLLCFGR_PLLR_Pos));
  write(kRccCr, RCC_CR_HSION | RCC_CR_PLLON);
  EXPECT_TRUE(read(kRccCr) & RCC_CR_PLLRDY);
  write(kRccCfgr, RCC_CFGR_SW_PLLRCLK);
  EXPECT_EQ((read(kRccCfgr) & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos, RCC_CFGR_SW_PLLRCLK);
  EXPECT_EQ(chip().rcc().sysclkHz(), 64000000u);
  // HSI16 keeps running while it feeds the PLL that clocks the system? It may stop only when unused.
  write(kRccCfgr, RCC_CFGR_SW_HSISYS);
  write(kRccCr, RCC_CR_PLLON);  // HSION cleared while HSI16 clocks the system: it stays on
  EXPECT_TRUE(read(kRccCr) & RCC_CR_HSION);
}

// A peripheral whose bus clock is off ignores writes and reads zero; it keeps its registers.
TEST_F(Rcc, AGatedPeripheralIgnoresWritesAndReadsZero) {
  struct Case {
    const char* name;
    uint32_t enableRegister, bit, address, value;
  };
  const Case cases[] = {
      {"TIM6 PSC", kRccApbenr1, RCC_APBENR1_TIM6EN, TIM6_BASE + offsetof(TIM_TypeDef, PSC), 1234},
      {"PWR PUCRB", kRccApbenr1, RCC_APBENR1_PWREN, kPwrPucrb, 0x20},
      {"USART1 BRR", kRccApbenr2, RCC_APBENR2_USART1EN, USART1_BASE + offsetof(USART_TypeDef, BRR), 35},
      {"SPI1 CRCPR", kRccApbenr2, RCC_APBENR2_SPI1EN, SPI1_BASE + offsetof(SPI_TypeDef, CRCPR), 9},
      {"ADC SMPR", kRccApbenr2, RCC_APBENR2_ADCEN, ADC1_BASE + offsetof(ADC_TypeDef, SMPR), 0x77},
      {"GPIOB ODR", kRccIopenr, RCC_IOPENR_GPIOBEN, GPIOB_BASE + offsetof(GPIO_TypeDef, ODR), 0x4},
      {"DMA1 CNDTR1", kRccAhbenr, RCC_AHBENR_DMA1EN, DMA1_BASE + 0x0C, 77},
  };
  for (const Case& c : cases) {
    write(c.address, c.value);
    EXPECT_EQ(read(c.address), 0u) << c.name << ": clock off";
    setBits(c.enableRegister, c.bit);
    EXPECT_NE(read(c.address), c.value) << c.name << ": the write with the clock off was lost";
    write(c.address, c.value);
    EXPECT_EQ(read(c.address), c.value) << c.name << ": clock on";
    write(c.enableRegister, read(c.enableRegister) & ~c.bit);
    EXPECT_EQ(read(c.address), 0u) << c.name << ": clock off again";
    setBits(c.enableRegister, c.bit);
    EXPECT_EQ(read(c.address), c.value) << c.name << ": kept while the clock was off";
  }
}

using Pwr = ChipTest;

TEST_F(Pwr, RtcDomainTakesWritesOnlyWithBackupAccess) {
  setBits(kRccApbenr1, RCC_APBENR1_PWREN | RCC_APBENR1_RTCAPBEN);
  write(kTampBkp0, 0x1234);
  EXPECT_EQ(read(kTampBkp0), 0u);
  write(kRccBdcr, RCC_BDCR_RTCSEL_LSI | RCC_BDCR_RTCEN);
  EXPECT_EQ(read(kRccBdcr), 0u);
  setBits(kPwrCr1, PWR_CR1_DBP);
  write(kTampBkp0, 0x1234);
  EXPECT_EQ(read(kTampBkp0), 0x1234u);
  write(kRccBdcr, RCC_BDCR_RTCSEL_LSI | RCC_BDCR_RTCEN);
  EXPECT_EQ(read(kRccBdcr), RCC_BDCR_RTCSEL_LSI | RCC_BDCR_RTCEN);
  // Kept with the domain (through resets and standby), cleared by its reset.
  EXPECT_EQ(board().rtc().domainRegisters().bdcr, RCC_BDCR_RTCSEL_LSI | RCC_BDCR_RTCEN);
  write(kRccBdcr, RCC_BDCR_BDRST);
  write(kRccBdcr, 0);
  EXPECT_EQ(read(kTampBkp0), 0u);
  EXPECT_EQ(read(kRccBdcr), 0u);
}

// In standby the pins float unless PWR_CR3.APC applies the pull-ups and pull-downs of PWR_PUCRx and
// PWR_PDCRx.
TEST_F(Pwr, HoldsPinsInStandbyOnlyWithApc) {
  setBits(kRccApbenr1, RCC_APBENR1_PWREN);
  write(kPwrPdcra, 1u << 8);
  write(kPwrPucrb, 1u << 5);
  using Pin = emu::PwrFront::StandbyPin;
  EXPECT_EQ(chip().pwr().standbyPin(0, 8), Pin::floating);
  write(kPwrCr3, read(kPwrCr3) | PWR_CR3_APC);
  EXPECT_EQ(chip().pwr().standbyPin(0, 8), Pin::low);
  EXPECT_EQ(chip().pwr().standbyPin(1, 5), Pin::high);
  EXPECT_EQ(chip().pwr().standbyPin(1, 6), Pin::floating);
  EXPECT_FALSE(chip().pwr().standbySelected());
  write(kPwrCr1, read(kPwrCr1) | PWR_CR1_LPMS_STANDBY);
  EXPECT_TRUE(chip().pwr().standbySelected());
}

class Rtc : public ChipTest {
 protected:
  void unlock() {
    setBits(kRccApbenr1, RCC_APBENR1_PWREN | RCC_APBENR1_RTCAPBEN);
    setBits(kPwrCr1, PWR_CR1_DBP);
    write(kRtcWpr, RTC_WPR_KEY1);
    write(kRtcWpr, RTC_WPR_KEY2);
  }
};

TEST_F(Rtc, WritesNeedTheKeysAndInitialisationMode) {
  setBits(kRccApbenr1, RCC_APBENR1_PWREN | RCC_APBENR1_RTCAPBEN);
  setBits(kPwrCr1, PWR_CR1_DBP);
  EXPECT_EQ(read(kRtcPrer), 0x007F00FFu);  // reset value: 32768 Hz / 128 / 256
  write(kRtcIcsr, RTC_ICSR_INIT);           // locked: ignored
  EXPECT_FALSE(read(kRtcIcsr) & RTC_ICSR_INIT);
  write(kRtcWpr, RTC_WPR_KEY2);  // the keys in the wrong order
  write(kRtcWpr, RTC_WPR_KEY1);
  write(kRtcIcsr, RTC_ICSR_INIT);
  EXPECT_FALSE(read(kRtcIcsr) & RTC_ICSR_INIT);
  unlock();
  write(kRtcPrer, 0x00030003);  // not in initialisation mode: ignored
  EXPECT_EQ(read(kRtcPrer), 0x007F00FFu);
  write(kRtcIcsr, RTC_ICSR_INIT);
  EXPECT_FALSE(read(kRtcIcsr) & RTC_ICSR_INITF);  // two RTCCLK periods later
  advance(70);
  EXPECT_TRUE(read(kRtcIcsr) & RTC_ICSR_INITF);
  write(kRtcPrer, 0x00030003);
  EXPECT_EQ(read(kRtcPrer), 0x00030003u);
  write(kRtcIcsr, 0);  // leaving initialisation mode, RSF cleared: set again two periods later
  EXPECT_FALSE(read(kRtcIcsr) & RTC_ICSR_RSF);
  advance(70);
  EXPECT_TRUE(read(kRtcIcsr) & RTC_ICSR_RSF);
  write(kRtcWpr, 0xFF);  // locked again
  write(kRtcIcsr, RTC_ICSR_INIT);
  EXPECT_FALSE(read(kRtcIcsr) & RTC_ICSR_INIT);
}

// The wake-up timer counts WUTR + 1 periods of the clock WUCKSEL selects: RTCCLK / 16, 8, 4, 2, or
// ck_spre (RTCCLK / (PREDIV_A + 1) / (PREDIV_S + 1)), plus 2^16 periods for WUCKSEL 11x. RTCCLK is
// the LSI, nominally 32 kHz; the chip's own may differ (--lsi-hz).
TEST_F(Rtc, WakeUpTimerRunsOnItsClock) {
  struct Case {
    uint32_t lsiHz, wucksel, wutr;
    uint64_t delayUs;
  };
  const Case cases[] = {
      {32000, RTC_CR_WUCKSEL_DIV16, 99, 50000},          {32000, RTC_CR_WUCKSEL_DIV2, 15, 1000},
      {32000, RTC_CR_WUCKSEL_SPRE, 5, 6144000},           {32768, RTC_CR_WUCKSEL_SPRE, 5, 6000000},
      {32000, RTC_CR_WUCKSEL_SPRE, 599, 614400000},       {29500, RTC_CR_WUCKSEL_DIV8, 0, 272},
      {32000, RTC_CR_WUCKSEL_SPRE_2, 0, 67109888000ull},
  };
  for (const Case& c : cases) {
    board().rtc().setLsiHz(c.lsiHz);
    unlock();
    write(kRtcIcsr, RTC_ICSR_INIT);
    advance(100);
    write(kRtcPrer, (127u << RTC_PRER_PREDIV_A_Pos) | 255u);
    write(kRtcIcsr, 0);
    write(kRtcCr, 0);  // the timer off: WUTR and WUCKSEL may change
    ASSERT_TRUE(read(kRtcIcsr) & RTC_ICSR_WUTWF);
    write(kRtcWutr, c.wutr);
    write(kRtcCr, c.wucksel);
    write(kRtcCr, c.wucksel | RTC_CR_WUTE | RTC_CR_WUTIE);
    EXPECT_FALSE(read(kRtcIcsr) & RTC_ICSR_WUTWF);  // running: WUTR is locked
    write(kRtcWutr, 7);
    EXPECT_EQ(read(kRtcWutr), c.wutr);
    EXPECT_EQ(board().rtc().wakeUpDelayUs(), c.delayUs) << "LSI " << c.lsiHz << " WUCKSEL " << c.wucksel;
  }
}

// What the domain keeps through a reset: the board's RTC model holds it for the next start.
TEST_F(Rtc, DomainRegistersOutliveTheCore) {
  unlock();
  write(kRtcCr, RTC_CR_WUCKSEL_SPRE);
  write(kRtcWutr, 5);
  write(kRtcCr, RTC_CR_WUCKSEL_SPRE | RTC_CR_WUTE | RTC_CR_WUTIE);
  const sim::RtcModel::DomainRegisters kept = board().rtc().domainRegisters();
  EXPECT_EQ(kept.wutr, 5u);
  EXPECT_EQ(kept.cr, RTC_CR_WUCKSEL_SPRE | RTC_CR_WUTE | RTC_CR_WUTIE);
  // The chip starting again on the same board (after standby) finds them, and the timer running.
  newChip();
  setBits(kRccApbenr1, RCC_APBENR1_RTCAPBEN);
  EXPECT_EQ(read(kRtcWutr), 5u);
  EXPECT_EQ(read(kRtcCr), RTC_CR_WUCKSEL_SPRE | RTC_CR_WUTE | RTC_CR_WUTIE);
  EXPECT_EQ(board().rtc().wakeUpDelayUs(), 6144000u);
}

}  // namespace
