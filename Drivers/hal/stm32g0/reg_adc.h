// Analog-to-digital converter (ADC1 and its common register), the internal channels and the
// factory calibration words in system memory.
#pragma once

#include "reg_base.h"

#define ADC1_BASE (APBPERIPH_BASE + 0x12400UL)
#define ADC1_COMMON_BASE (APBPERIPH_BASE + 0x12708UL)

typedef struct {
  volatile uint32_t ISR;    // interrupt and status (flags cleared by writing 1)
  volatile uint32_t IER;    // interrupt enable
  volatile uint32_t CR;     // control
  volatile uint32_t CFGR1;  // configuration 1
  volatile uint32_t CFGR2;  // configuration 2
  volatile uint32_t SMPR;   // sampling time
  uint32_t RESERVED0[2];
  volatile uint32_t AWD1TR;  // watchdog 1 threshold
  volatile uint32_t AWD2TR;  // watchdog 2 threshold
  volatile uint32_t CHSELR;  // channel selection
  volatile uint32_t AWD3TR;  // watchdog 3 threshold
  uint32_t RESERVED1[4];
  volatile uint32_t DR;  // data
  uint32_t RESERVED2[23];
  volatile uint32_t AWD2CR;  // watchdog 2 configuration
  volatile uint32_t AWD3CR;  // watchdog 3 configuration
  uint32_t RESERVED3[3];
  volatile uint32_t CALFACT;  // calibration factor
} ADC_TypeDef;
REG_CHECK_OFFSET(ADC_TypeDef, IER, 0x04);
REG_CHECK_OFFSET(ADC_TypeDef, CR, 0x08);
REG_CHECK_OFFSET(ADC_TypeDef, CFGR1, 0x0C);
REG_CHECK_OFFSET(ADC_TypeDef, CFGR2, 0x10);
REG_CHECK_OFFSET(ADC_TypeDef, SMPR, 0x14);
REG_CHECK_OFFSET(ADC_TypeDef, AWD1TR, 0x20);
REG_CHECK_OFFSET(ADC_TypeDef, AWD2TR, 0x24);
REG_CHECK_OFFSET(ADC_TypeDef, CHSELR, 0x28);
REG_CHECK_OFFSET(ADC_TypeDef, AWD3TR, 0x2C);
REG_CHECK_OFFSET(ADC_TypeDef, DR, 0x40);
REG_CHECK_OFFSET(ADC_TypeDef, AWD2CR, 0xA0);
REG_CHECK_OFFSET(ADC_TypeDef, AWD3CR, 0xA4);
REG_CHECK_OFFSET(ADC_TypeDef, CALFACT, 0xB4);

typedef struct {
  volatile uint32_t CCR;  // common configuration
} ADC_Common_TypeDef;

// ADC_ISR
#define ADC_ISR_ADRDY 0x00000001U
#define ADC_ISR_EOSMP 0x00000002U
#define ADC_ISR_EOC 0x00000004U
#define ADC_ISR_EOS 0x00000008U
#define ADC_ISR_OVR 0x00000010U
#define ADC_ISR_AWD1 0x00000080U
#define ADC_ISR_AWD2 0x00000100U
#define ADC_ISR_AWD3 0x00000200U
#define ADC_ISR_EOCAL 0x00000800U
#define ADC_ISR_CCRDY 0x00002000U  // channel configuration (CHSELR) applied

// ADC_IER
#define ADC_IER_ADRDYIE 0x00000001U
#define ADC_IER_EOSMPIE 0x00000002U
#define ADC_IER_EOCIE 0x00000004U
#define ADC_IER_EOSIE 0x00000008U
#define ADC_IER_OVRIE 0x00000010U
#define ADC_IER_AWD1IE 0x00000080U
#define ADC_IER_AWD2IE 0x00000100U
#define ADC_IER_AWD3IE 0x00000200U
#define ADC_IER_EOCALIE 0x00000800U
#define ADC_IER_CCRDYIE 0x00002000U

// ADC_CR (bits are set by software and cleared by hardware, except ADVREGEN)
#define ADC_CR_ADEN 0x00000001U
#define ADC_CR_ADDIS 0x00000002U
#define ADC_CR_ADSTART 0x00000004U
#define ADC_CR_ADSTP 0x00000010U
#define ADC_CR_ADVREGEN 0x10000000U  // regulator; wait tADCVREG_STUP (20 us) before ADCAL/ADEN
#define ADC_CR_ADCAL 0x80000000U     // calibration, with ADEN = 0; result in CALFACT and DR

// ADC_CFGR1 (writable only while ADSTART = 0, most fields only while ADEN = 0)
#define ADC_CFGR1_DMAEN 0x00000001U
#define ADC_CFGR1_DMACFG 0x00000002U   // 0: one-shot, 1: circular
#define ADC_CFGR1_SCANDIR 0x00000004U  // 1: backward scan
#define ADC_CFGR1_RES_Pos 3U
#define ADC_CFGR1_RES 0x00000018U    // 00: 12, 01: 10, 10: 8, 11: 6 bits
#define ADC_CFGR1_ALIGN 0x00000020U  // 1: left aligned
#define ADC_CFGR1_EXTSEL_Pos 6U
#define ADC_CFGR1_EXTSEL 0x000001C0U
#define ADC_CFGR1_EXTEN_Pos 10U
#define ADC_CFGR1_EXTEN 0x00000C00U   // 00: software trigger
#define ADC_CFGR1_OVRMOD 0x00001000U  // 1: overwrite DR on overrun, 0: keep the old data
#define ADC_CFGR1_CONT 0x00002000U
#define ADC_CFGR1_WAIT 0x00004000U
#define ADC_CFGR1_AUTOFF 0x00008000U
#define ADC_CFGR1_DISCEN 0x00010000U
#define ADC_CFGR1_CHSELRMOD 0x00200000U  // 0: CHSELR is a channel bit field, 1: a sequence SQ1..SQ8
#define ADC_CFGR1_AWD1SGL 0x00400000U
#define ADC_CFGR1_AWD1EN 0x00800000U
#define ADC_CFGR1_AWD1CH_Pos 26U
#define ADC_CFGR1_AWD1CH 0x7C000000U

// ADC_CFGR2
#define ADC_CFGR2_OVSE 0x00000001U
#define ADC_CFGR2_OVSR_Pos 2U
#define ADC_CFGR2_OVSR 0x0000001CU
#define ADC_CFGR2_OVSS_Pos 5U
#define ADC_CFGR2_OVSS 0x000001E0U
#define ADC_CFGR2_TOVS 0x00000200U
#define ADC_CFGR2_LFTRIG 0x20000000U
#define ADC_CFGR2_CKMODE_Pos 30U
#define ADC_CFGR2_CKMODE 0xC0000000U
#define ADC_CFGR2_CKMODE_ADCCLK 0x00000000U  // asynchronous clock (RCC_CCIPR.ADCSEL, ADC_CCR.PRESC)
#define ADC_CFGR2_CKMODE_PCLK_DIV2 0x40000000U
#define ADC_CFGR2_CKMODE_PCLK_DIV4 0x80000000U
#define ADC_CFGR2_CKMODE_PCLK 0xC0000000U

// ADC_SMPR: two sampling times; SMPSELx picks SMP2 (1) or SMP1 (0) for channel x
#define ADC_SMPR_SMP1_Pos 0U
#define ADC_SMPR_SMP1 0x00000007U
#define ADC_SMPR_SMP2_Pos 4U
#define ADC_SMPR_SMP2 0x00000070U
#define ADC_SMPR_SMPSEL_Pos 8U
#define ADC_SMPR_SMPSEL 0x07FFFF00U
#define ADC_SMPR_SMPSEL_CH(ch) (1U << (8U + (ch)))
#define ADC_SMPR_SMP_1CYCLE5 0x0U  // values of SMP1 and SMP2, in ADC clock cycles
#define ADC_SMPR_SMP_3CYCLES5 0x1U
#define ADC_SMPR_SMP_7CYCLES5 0x2U
#define ADC_SMPR_SMP_12CYCLES5 0x3U
#define ADC_SMPR_SMP_19CYCLES5 0x4U
#define ADC_SMPR_SMP_39CYCLES5 0x5U
#define ADC_SMPR_SMP_79CYCLES5 0x6U
#define ADC_SMPR_SMP_160CYCLES5 0x7U

// ADC_AWDxTR
#define ADC_AWDxTR_LT_Pos 0U
#define ADC_AWDxTR_LT 0x00000FFFU
#define ADC_AWDxTR_HT_Pos 16U
#define ADC_AWDxTR_HT 0x0FFF0000U

// ADC_CHSELR with CHSELRMOD = 0: one bit per channel 0..18, converted in channel order
#define ADC_CHSELR_CHSEL(ch) (1U << (ch))
#define ADC_CHSELR_CHSEL_ALL 0x0007FFFFU
// ADC_CHSELR with CHSELRMOD = 1: sequence SQ1..SQ8 of 4-bit channel numbers (0..14), 0xF ends it
#define ADC_CHSELR_SQ_Pos(n) (4U * ((n)-1U))
#define ADC_CHSELR_SQ(n) (0xFU << ADC_CHSELR_SQ_Pos(n))
#define ADC_CHSELR_SQ_END 0xFU

// ADC_DR
#define ADC_DR_DATA 0x0000FFFFU

// ADC_AWD2CR / ADC_AWD3CR
#define ADC_AWDxCR_AWDCH(ch) (1U << (ch))

// ADC_CALFACT
#define ADC_CALFACT_CALFACT 0x0000007FU

// ADC_CCR
#define ADC_CCR_PRESC_Pos 18U
#define ADC_CCR_PRESC 0x003C0000U  // prescaler of the asynchronous clock
#define ADC_CCR_VREFEN 0x00400000U
#define ADC_CCR_TSEN 0x00800000U
#define ADC_CCR_VBATEN 0x01000000U

// Internal channels.
#define ADC_CH_TEMPSENSOR 12U
#define ADC_CH_VREFINT 13U
#define ADC_CH_VBAT 14U  // VBAT / 3

// Factory calibration words (12-bit raw conversions, measured at VDDA = VREF+ = 3.0 V).
#define VREFINT_CAL_ADDR ((const uint16_t*)0x1FFF75AAUL)  // internal reference, 30 degC
#define TS_CAL1_ADDR ((const uint16_t*)0x1FFF75A8UL)      // temperature sensor at 30 degC
#define VREFINT_CAL_VREF_MV 3000U
#define TS_CAL1_TEMP_C 30

#define ADC1 ((ADC_TypeDef*)ADC1_BASE)
#define ADC1_COMMON ((ADC_Common_TypeDef*)ADC1_COMMON_BASE)
