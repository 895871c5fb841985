// ADC1, TIM6 and the core's SysTick, NVIC and SCB on the emulated chip, register by register
// (RM0454: analog-to-digital converter, basic timers; ARMv6-M: system control space).
#include <cstddef>

#include "adc_model.h"
#include "chip_fixture.h"
#include "dma_model.h"
#include "interrupt_controller.h"

namespace {

using emu_test::ChipTest;
using emu_test::kRccAhbenr;
using emu_test::kRccApbenr1;
using emu_test::kRccApbenr2;

// ---- ADC ----------------------------------------------------------------------------------------

class Adc : public ChipTest {
 protected:
  static constexpr uint32_t kIsr = ADC1_BASE + offsetof(ADC_TypeDef, ISR);
  static constexpr uint32_t kCr = ADC1_BASE + offsetof(ADC_TypeDef, CR);
  static constexpr uint32_t kCfgr1 = ADC1_BASE + offsetof(ADC_TypeDef, CFGR1);
  static constexpr uint32_t kCfgr2 = ADC1_BASE + offsetof(ADC_TypeDef, CFGR2);
  static constexpr uint32_t kSmpr = ADC1_BASE + offsetof(ADC_TypeDef, SMPR);
  static constexpr uint32_t kChselr = ADC1_BASE + offsetof(ADC_TypeDef, CHSELR);
  static constexpr uint32_t kDr = ADC1_BASE + offsetof(ADC_TypeDef, DR);
  static constexpr uint32_t kCcr = ADC1_COMMON_BASE;
  std::string scenario() const override { return "vdda=3.3"; }
  void SetUp() override {
    ChipTest::SetUp();
    setBits(kRccApbenr2, RCC_APBENR2_ADCEN);
  }
  // Regulator on, calibrated, enabled; the internal reference selected (CCRDY awaited).
  void ready(uint32_t ckmode, uint32_t smp1) {
    write(kCr, ADC_CR_ADVREGEN);
    advance(20);
    write(kCr, ADC_CR_ADVREGEN | ADC_CR_ADCAL);
    advance(100);
    write(kCfgr2, ckmode);
    write(kSmpr, smp1);
    write(kCcr, ADC_CCR_VREFEN);
    write(kCr, ADC_CR_ADVREGEN | ADC_CR_ADEN);
    ASSERT_TRUE(read(kIsr) & ADC_ISR_ADRDY);
    write(kChselr, ADC_CHSELR_CHSEL(ADC_CH_VREFINT));
    advance(2);
    ASSERT_TRUE(read(kIsr) & ADC_ISR_CCRDY);
  }
};

// Calibration takes 82 ADC clock cycles, then ADCAL clears and EOCAL rises.
TEST_F(Adc, CalibratesIn82Cycles) {
  write(kCfgr2, ADC_CFGR2_CKMODE_PCLK_DIV4);  // 4 MHz at the 16 MHz reset clock: 20.5 us
  write(kCr, ADC_CR_ADVREGEN);
  write(kCr, ADC_CR_ADVREGEN | ADC_CR_ADCAL);
  advance(20);
  EXPECT_TRUE(read(kCr) & ADC_CR_ADCAL);
  EXPECT_FALSE(board().adc().calibrated());
  advance(1);
  EXPECT_FALSE(read(kCr) & ADC_CR_ADCAL);
  EXPECT_TRUE(read(kIsr) & ADC_ISR_EOCAL);
  EXPECT_TRUE(board().adc().calibrated());
}

// A new channel selection is applied a few ADC clock cycles after it is written (CCRDY); a start
// before then is ignored.
TEST_F(Adc, StartsOnlyOnceTheChannelSelectionIsApplied) {
  ready(ADC_CFGR2_CKMODE_PCLK_DIV4, ADC_SMPR_SMP_1CYCLE5);
  write(kIsr, ADC_ISR_CCRDY);
  write(kChselr, ADC_CHSELR_CHSEL(ADC_CH_VREFINT));
  EXPECT_FALSE(read(kIsr) & ADC_ISR_CCRDY);
  write(kCr, read(kCr) | ADC_CR_ADSTART);
  EXPECT_FALSE(read(kCr) & ADC_CR_ADSTART);
  advance(1);
  EXPECT_TRUE(read(kIsr) & ADC_ISR_CCRDY);
  write(kCr, read(kCr) | ADC_CR_ADSTART);
  EXPECT_TRUE(read(kCr) & ADC_CR_ADSTART);
}

// A conversion takes its sampling time plus 12.5 cycles for 12 bits, at the clock CKMODE gives:
// EOC rises then, not before; the reference reads 1.212 V of 3.3 V.
TEST_F(Adc, ConvertsInItsSamplingAndConversionTime) {
  struct Case {
    uint32_t ckmode, smp;
    double clockHz, sampleCycles;
  };
  const Case cases[] = {
      {ADC_CFGR2_CKMODE_PCLK_DIV2, ADC_SMPR_SMP_160CYCLES5, 8e6, 160.5},
      {ADC_CFGR2_CKMODE_PCLK_DIV4, ADC_SMPR_SMP_39CYCLES5, 4e6, 39.5},
      {ADC_CFGR2_CKMODE_PCLK, ADC_SMPR_SMP_12CYCLES5, 16e6, 12.5},
  };
  for (const Case& c : cases) {
    newChip();
    setBits(kRccApbenr2, RCC_APBENR2_ADCEN);
    ready(c.ckmode, c.smp);
    const uint64_t conversionUs = static_cast<uint64_t>((c.sampleCycles + 12.5) / c.clockHz * 1e6);
    write(kCr, read(kCr) | ADC_CR_ADSTART);
    advance(conversionUs - 1);
    EXPECT_FALSE(read(kIsr) & ADC_ISR_EOC) << c.clockHz << " Hz, " << c.sampleCycles << " cycles";
    advance(2);
    EXPECT_TRUE(read(kIsr) & ADC_ISR_EOC) << c.clockHz << " Hz, " << c.sampleCycles << " cycles";
    EXPECT_NEAR(static_cast<double>(read(kDr)), 1.212 / 3.3 * 4096, 8);
    EXPECT_FALSE(read(kIsr) & ADC_ISR_EOC) << "reading DR clears EOC";
    EXPECT_FALSE(read(kCr) & ADC_CR_ADSTART) << "a single conversion ends by itself";
  }
}

// Converting on in continuous mode after the one-shot DMA has taken its count: the data register is
// overrun (OVR) until the converter is stopped.
TEST_F(Adc, OverrunsOnceTheDmaHasTakenItsCount) {
  setBits(kRccAhbenr, RCC_AHBENR_DMA1EN);
  ready(ADC_CFGR2_CKMODE_PCLK_DIV2, ADC_SMPR_SMP_12CYCLES5);
  write(DMAMUX1_BASE, sim::Adc::kDmaRequest);
  write(DMA1_BASE + 0x14, 0x20000200);  // CMAR1
  write(DMA1_BASE + 0x0C, 8);           // CNDTR1
  write(DMA1_BASE + 0x08, DMA_CCR_MINC | (1u << DMA_CCR_PSIZE_Pos) | (1u << DMA_CCR_MSIZE_Pos) | DMA_CCR_TCIE | DMA_CCR_EN);
  write(kCfgr1, ADC_CFGR1_CONT | ADC_CFGR1_DMAEN);
  write(kCr, read(kCr) | ADC_CR_ADSTART);
  advance(8 * 4);  // eight conversions of 25 cycles at 8 MHz: 25 us
  EXPECT_TRUE(read(DMA1_BASE) & DMA_ISR_TCIF(1U));
  EXPECT_TRUE(board().interrupts().pending(DMA1_Channel1_IRQn));
  EXPECT_TRUE(read(kIsr) & ADC_ISR_OVR);
  EXPECT_TRUE(read(kCr) & ADC_CR_ADSTART);
  uint16_t first = 0;
  chip().memory().read(0x20000200, reinterpret_cast<uint8_t*>(&first), 2);
  EXPECT_NEAR(first, 1.212 / 3.3 * 4096, 8);
  write(kCr, read(kCr) | ADC_CR_ADSTP);
  EXPECT_FALSE(read(kCr) & ADC_CR_ADSTART);
  EXPECT_FALSE(board().adc().running());
}

// ---- TIM6 ---------------------------------------------------------------------------------------

class Tim6 : public ChipTest {
 protected:
  static constexpr uint32_t kCr1 = TIM6_BASE + offsetof(TIM_TypeDef, CR1);
  static constexpr uint32_t kDier = TIM6_BASE + offsetof(TIM_TypeDef, DIER);
  static constexpr uint32_t kSr = TIM6_BASE + offsetof(TIM_TypeDef, SR);
  static constexpr uint32_t kEgr = TIM6_BASE + offsetof(TIM_TypeDef, EGR);
  static constexpr uint32_t kCnt = TIM6_BASE + offsetof(TIM_TypeDef, CNT);
  static constexpr uint32_t kPsc = TIM6_BASE + offsetof(TIM_TypeDef, PSC);
  static constexpr uint32_t kArr = TIM6_BASE + offsetof(TIM_TypeDef, ARR);
  void SetUp() override {
    ChipTest::SetUp();
    setBits(kRccApbenr1, RCC_APBENR1_TIM6EN);
  }
};

// The counter counts PCLK / (PSC + 1) from the update that loaded the prescaler; every ARR + 1 counts
// an update: UIF, and the interrupt with UIE. UG raises UIF too, unless URS. UIF clears by writing 0.
TEST_F(Tim6, CountsItsPrescaledClockToAnUpdate) {
  write(kPsc, 15);  // 1 MHz from the 16 MHz reset clock
  write(kArr, 999);
  write(kEgr, TIM_EGR_UG);
  EXPECT_TRUE(read(kSr) & TIM_SR_UIF);
  write(kSr, ~TIM_SR_UIF);
  write(kCr1, TIM_CR1_URS);
  write(kEgr, TIM_EGR_UG);
  EXPECT_FALSE(read(kSr) & TIM_SR_UIF) << "URS: no flag from UG";
  write(kDier, TIM_DIER_UIE);
  write(kCr1, TIM_CR1_CEN);
  advance(250);
  EXPECT_EQ(read(kCnt), 250u);
  advance(749);
  EXPECT_FALSE(read(kSr) & TIM_SR_UIF);
  advance(1);
  EXPECT_TRUE(read(kSr) & TIM_SR_UIF);
  EXPECT_TRUE(board().interrupts().pending(TIM6_IRQn));
  EXPECT_EQ(read(kCnt), 0u);
  write(kSr, ~TIM_SR_UIF);
  EXPECT_FALSE(read(kSr) & TIM_SR_UIF);
  write(kCr1, 0);
  advance(5000);
  EXPECT_FALSE(read(kSr) & TIM_SR_UIF) << "stopped";
}

// ---- SysTick, NVIC, SCB -------------------------------------------------------------------------

class Scs : public ChipTest {
 protected:
  static constexpr uint32_t kSystCsr = 0xE000E010, kSystRvr = 0xE000E014, kSystCvr = 0xE000E018;
  static constexpr uint32_t kIser = 0xE000E100, kIcer = 0xE000E180, kIspr = 0xE000E200, kIcpr = 0xE000E280;
  static constexpr uint32_t kIpr = 0xE000E400, kIcsr = 0xE000ED04, kShpr3 = 0xE000ED20;
};

// The tick every RVR + 1 cycles of HCLK (CLKSOURCE) or HCLK / 8, pending SysTick with TICKINT.
TEST_F(Scs, TickPendsEveryReloadPlusOneCycles) {
  sim::InterruptController& nvic = board().interrupts();
  write(kSystRvr, 15999);  // 1 ms at 16 MHz
  write(kSystCvr, 0);
  write(kSystCsr, SysTick_CTRL_CLKSOURCE | SysTick_CTRL_TICKINT | SysTick_CTRL_ENABLE);
  advance(999);
  EXPECT_FALSE(nvic.pending(SysTick_IRQn));
  EXPECT_NEAR(read(kSystCvr), 16, 16);
  advance(1);
  EXPECT_TRUE(nvic.pending(SysTick_IRQn));
  EXPECT_TRUE(read(kIcsr) & SCB_ICSR_PENDSTSET);
  write(kIcsr, SCB_ICSR_PENDSTCLR);
  EXPECT_FALSE(nvic.pending(SysTick_IRQn));
  write(kSystCsr, SysTick_CTRL_CLKSOURCE | SysTick_CTRL_ENABLE);  // the counter runs, no interrupt
  advance(3000);
  EXPECT_FALSE(nvic.pending(SysTick_IRQn));
  write(kSystCsr, SysTick_CTRL_TICKINT | SysTick_CTRL_ENABLE);  // HCLK / 8: every 8 ms
  advance(7990);
  EXPECT_FALSE(nvic.pending(SysTick_IRQn));
  advance(10);
  EXPECT_TRUE(nvic.pending(SysTick_IRQn));
}

TEST_F(Scs, NvicEnablesPendsAndPrioritises) {
  sim::InterruptController& nvic = board().interrupts();
  write(kIser, (1u << 9) | (1u << 27));
  EXPECT_EQ(read(kIser), (1u << 9) | (1u << 27));
  write(kIcer, 1u << 27);
  EXPECT_EQ(read(kIcer), 1u << 9);
  write(kIspr, 1u << 17);
  EXPECT_TRUE(nvic.pending(TIM6_IRQn));
  EXPECT_EQ(read(kIspr), 1u << 17);
  write(kIcpr, 1u << 17);
  EXPECT_EQ(read(kIcpr), 0u);
  // Two bits of priority at the top of each line's byte; SysTick's in SHPR3.
  write(kIpr + 8, 0x00C04000);  // IRQ 9: 1, IRQ 10: 3
  EXPECT_EQ(nvic.priority(DMA1_Channel1_IRQn), 1u);
  EXPECT_EQ(nvic.priority(DMA1_Channel2_3_IRQn), 3u);
  EXPECT_EQ(read(kIpr + 8), 0x00C04000u);
  write(kShpr3, 0x80000000);
  EXPECT_EQ(nvic.priority(SysTick_IRQn), 2u);
}

}  // namespace
