// Real-time clock (RTC) and tamper block (TAMP), which holds the backup registers BKP0R..BKP4R.
// Both sit in the RTC domain: writes need PWR_CR1.DBP; RTC registers additionally need the
// RTC_WPR key sequence (0xCA then 0x53) and most of them INIT or WUTWF before they change.
#pragma once

#include "reg_base.h"

#define RTC_BASE (APBPERIPH_BASE + 0x2800UL)
#define TAMP_BASE (APBPERIPH_BASE + 0xB000UL)

// ---- RTC ----
typedef struct {
  volatile uint32_t TR;    // time (BCD)
  volatile uint32_t DR;    // date (BCD)
  volatile uint32_t SSR;   // sub-second
  volatile uint32_t ICSR;  // initialization control and status
  volatile uint32_t PRER;  // prescaler
  volatile uint32_t WUTR;  // wake-up timer reload
  volatile uint32_t CR;    // control
  uint32_t RESERVED0[2];
  volatile uint32_t WPR;     // write protection key
  volatile uint32_t CALR;    // calibration
  volatile uint32_t SHIFTR;  // shift control
  volatile uint32_t TSTR;    // timestamp time
  volatile uint32_t TSDR;    // timestamp date
  volatile uint32_t TSSSR;   // timestamp sub-second
  uint32_t RESERVED1;
  volatile uint32_t ALRMAR;    // alarm A
  volatile uint32_t ALRMASSR;  // alarm A sub-second
  volatile uint32_t ALRMBR;    // alarm B (same layout as ALRMAR)
  volatile uint32_t ALRMBSSR;  // alarm B sub-second
  volatile uint32_t SR;        // status
  volatile uint32_t MISR;      // masked interrupt status
  uint32_t RESERVED2;
  volatile uint32_t SCR;  // status clear
} RTC_TypeDef;
REG_CHECK_OFFSET(RTC_TypeDef, DR, 0x04);
REG_CHECK_OFFSET(RTC_TypeDef, SSR, 0x08);
REG_CHECK_OFFSET(RTC_TypeDef, ICSR, 0x0C);
REG_CHECK_OFFSET(RTC_TypeDef, PRER, 0x10);
REG_CHECK_OFFSET(RTC_TypeDef, WUTR, 0x14);
REG_CHECK_OFFSET(RTC_TypeDef, CR, 0x18);
REG_CHECK_OFFSET(RTC_TypeDef, WPR, 0x24);
REG_CHECK_OFFSET(RTC_TypeDef, CALR, 0x28);
REG_CHECK_OFFSET(RTC_TypeDef, SHIFTR, 0x2C);
REG_CHECK_OFFSET(RTC_TypeDef, TSTR, 0x30);
REG_CHECK_OFFSET(RTC_TypeDef, TSDR, 0x34);
REG_CHECK_OFFSET(RTC_TypeDef, TSSSR, 0x38);
REG_CHECK_OFFSET(RTC_TypeDef, ALRMAR, 0x40);
REG_CHECK_OFFSET(RTC_TypeDef, ALRMASSR, 0x44);
REG_CHECK_OFFSET(RTC_TypeDef, ALRMBR, 0x48);
REG_CHECK_OFFSET(RTC_TypeDef, ALRMBSSR, 0x4C);
REG_CHECK_OFFSET(RTC_TypeDef, SR, 0x50);
REG_CHECK_OFFSET(RTC_TypeDef, MISR, 0x54);
REG_CHECK_OFFSET(RTC_TypeDef, SCR, 0x5C);

// RTC_TR
#define RTC_TR_SU_Pos 0U
#define RTC_TR_SU 0x0000000FU
#define RTC_TR_ST_Pos 4U
#define RTC_TR_ST 0x00000070U
#define RTC_TR_MNU_Pos 8U
#define RTC_TR_MNU 0x00000F00U
#define RTC_TR_MNT_Pos 12U
#define RTC_TR_MNT 0x00007000U
#define RTC_TR_HU_Pos 16U
#define RTC_TR_HU 0x000F0000U
#define RTC_TR_HT_Pos 20U
#define RTC_TR_HT 0x00300000U
#define RTC_TR_PM 0x00400000U

// RTC_DR
#define RTC_DR_DU_Pos 0U
#define RTC_DR_DU 0x0000000FU
#define RTC_DR_DT_Pos 4U
#define RTC_DR_DT 0x00000030U
#define RTC_DR_MU_Pos 8U
#define RTC_DR_MU 0x00000F00U
#define RTC_DR_MT 0x00001000U
#define RTC_DR_WDU_Pos 13U
#define RTC_DR_WDU 0x0000E000U
#define RTC_DR_YU_Pos 16U
#define RTC_DR_YU 0x000F0000U
#define RTC_DR_YT_Pos 20U
#define RTC_DR_YT 0x00F00000U

// RTC_SSR
#define RTC_SSR_SS 0x0000FFFFU

// RTC_ICSR
#define RTC_ICSR_ALRAWF 0x00000001U
#define RTC_ICSR_ALRBWF 0x00000002U
#define RTC_ICSR_WUTWF 0x00000004U  // wake-up timer reload may be written (after WUTE = 0)
#define RTC_ICSR_SHPF 0x00000008U
#define RTC_ICSR_INITS 0x00000010U  // calendar initialised (year not 0)
#define RTC_ICSR_RSF 0x00000020U    // shadow registers synchronised
#define RTC_ICSR_INITF 0x00000040U  // initialisation mode entered
#define RTC_ICSR_INIT 0x00000080U   // request initialisation mode
#define RTC_ICSR_RECALPF 0x00010000U

// RTC_PRER: ck_spre = RTCCLK / ((PREDIV_A + 1) * (PREDIV_S + 1)); write PREDIV_S first
#define RTC_PRER_PREDIV_S_Pos 0U
#define RTC_PRER_PREDIV_S 0x00007FFFU
#define RTC_PRER_PREDIV_A_Pos 16U
#define RTC_PRER_PREDIV_A 0x007F0000U

// RTC_WUTR
#define RTC_WUTR_WUT 0x0000FFFFU

// RTC_CR
#define RTC_CR_WUCKSEL_Pos 0U
#define RTC_CR_WUCKSEL 0x00000007U
#define RTC_CR_WUCKSEL_DIV16 0x00000000U   // RTCCLK / 16
#define RTC_CR_WUCKSEL_DIV8 0x00000001U    // RTCCLK / 8
#define RTC_CR_WUCKSEL_DIV4 0x00000002U    // RTCCLK / 4
#define RTC_CR_WUCKSEL_DIV2 0x00000003U    // RTCCLK / 2
#define RTC_CR_WUCKSEL_SPRE 0x00000004U    // ck_spre (nominally 1 Hz), 16-bit counter
#define RTC_CR_WUCKSEL_SPRE_2 0x00000006U  // ck_spre, WUT + 2^16
#define RTC_CR_TSEDGE 0x00000008U
#define RTC_CR_REFCKON 0x00000010U
#define RTC_CR_BYPSHAD 0x00000020U
#define RTC_CR_FMT 0x00000040U  // 1: AM/PM hour format
#define RTC_CR_ALRAE 0x00000100U
#define RTC_CR_ALRBE 0x00000200U
#define RTC_CR_WUTE 0x00000400U
#define RTC_CR_TSE 0x00000800U
#define RTC_CR_ALRAIE 0x00001000U
#define RTC_CR_ALRBIE 0x00002000U
#define RTC_CR_WUTIE 0x00004000U
#define RTC_CR_TSIE 0x00008000U
#define RTC_CR_ADD1H 0x00010000U
#define RTC_CR_SUB1H 0x00020000U
#define RTC_CR_BKP 0x00040000U
#define RTC_CR_COSEL 0x00080000U
#define RTC_CR_POL 0x00100000U
#define RTC_CR_OSEL_Pos 21U
#define RTC_CR_OSEL 0x00600000U
#define RTC_CR_COE 0x00800000U
#define RTC_CR_ITSE 0x01000000U
#define RTC_CR_TAMPTS 0x02000000U
#define RTC_CR_TAMPOE 0x04000000U
#define RTC_CR_TAMPALRM_PU 0x20000000U
#define RTC_CR_TAMPALRM_TYPE 0x40000000U
#define RTC_CR_OUT2EN 0x80000000U

// RTC_WPR: write KEY1 then KEY2 to unlock; any other value locks again
#define RTC_WPR_KEY 0x000000FFU
#define RTC_WPR_KEY1 0x000000CAU
#define RTC_WPR_KEY2 0x00000053U
#define RTC_WPR_LOCK 0x000000FFU

// RTC_CALR
#define RTC_CALR_CALM_Pos 0U
#define RTC_CALR_CALM 0x000001FFU
#define RTC_CALR_CALW16 0x00002000U
#define RTC_CALR_CALW8 0x00004000U
#define RTC_CALR_CALP 0x00008000U

// RTC_SHIFTR
#define RTC_SHIFTR_SUBFS 0x00007FFFU
#define RTC_SHIFTR_ADD1S 0x80000000U

// RTC_ALRMAR / RTC_ALRMBR
#define RTC_ALRMxR_SU_Pos 0U
#define RTC_ALRMxR_SU 0x0000000FU
#define RTC_ALRMxR_ST_Pos 4U
#define RTC_ALRMxR_ST 0x00000070U
#define RTC_ALRMxR_MSK1 0x00000080U
#define RTC_ALRMxR_MNU_Pos 8U
#define RTC_ALRMxR_MNU 0x00000F00U
#define RTC_ALRMxR_MNT_Pos 12U
#define RTC_ALRMxR_MNT 0x00007000U
#define RTC_ALRMxR_MSK2 0x00008000U
#define RTC_ALRMxR_HU_Pos 16U
#define RTC_ALRMxR_HU 0x000F0000U
#define RTC_ALRMxR_HT_Pos 20U
#define RTC_ALRMxR_HT 0x00300000U
#define RTC_ALRMxR_PM 0x00400000U
#define RTC_ALRMxR_MSK3 0x00800000U
#define RTC_ALRMxR_DU_Pos 24U
#define RTC_ALRMxR_DU 0x0F000000U
#define RTC_ALRMxR_DT_Pos 28U
#define RTC_ALRMxR_DT 0x30000000U
#define RTC_ALRMxR_WDSEL 0x40000000U
#define RTC_ALRMxR_MSK4 0x80000000U

// RTC_ALRMASSR / RTC_ALRMBSSR
#define RTC_ALRMxSSR_SS_Pos 0U
#define RTC_ALRMxSSR_SS 0x00007FFFU
#define RTC_ALRMxSSR_MASKSS_Pos 24U
#define RTC_ALRMxSSR_MASKSS 0x0F000000U

// RTC_SR / RTC_MISR / RTC_SCR
#define RTC_SR_ALRAF 0x00000001U
#define RTC_SR_ALRBF 0x00000002U
#define RTC_SR_WUTF 0x00000004U
#define RTC_SR_TSF 0x00000008U
#define RTC_SR_TSOVF 0x00000010U
#define RTC_SR_ITSF 0x00000020U
#define RTC_MISR_ALRAMF 0x00000001U
#define RTC_MISR_ALRBMF 0x00000002U
#define RTC_MISR_WUTMF 0x00000004U
#define RTC_MISR_TSMF 0x00000008U
#define RTC_MISR_TSOVMF 0x00000010U
#define RTC_MISR_ITSMF 0x00000020U
#define RTC_SCR_CALRAF 0x00000001U
#define RTC_SCR_CALRBF 0x00000002U
#define RTC_SCR_CWUTF 0x00000004U
#define RTC_SCR_CTSF 0x00000008U
#define RTC_SCR_CTSOVF 0x00000010U
#define RTC_SCR_CITSF 0x00000020U

// ---- TAMP ----
typedef struct {
  volatile uint32_t CR1;  // control 1 (tamper enables)
  volatile uint32_t CR2;  // control 2
  uint32_t RESERVED0;
  volatile uint32_t FLTCR;  // filter control
  uint32_t RESERVED1[7];
  volatile uint32_t IER;   // interrupt enable
  volatile uint32_t SR;    // status
  volatile uint32_t MISR;  // masked interrupt status
  uint32_t RESERVED2;
  volatile uint32_t SCR;  // status clear
  uint32_t RESERVED3[48];
  volatile uint32_t BKP0R;  // backup registers: kept in standby and across resets, cleared by a
  volatile uint32_t BKP1R;  // tamper event or an RTC domain reset (RCC_BDCR.BDRST)
  volatile uint32_t BKP2R;
  volatile uint32_t BKP3R;
  volatile uint32_t BKP4R;
} TAMP_TypeDef;
REG_CHECK_OFFSET(TAMP_TypeDef, CR2, 0x04);
REG_CHECK_OFFSET(TAMP_TypeDef, FLTCR, 0x0C);
REG_CHECK_OFFSET(TAMP_TypeDef, IER, 0x2C);
REG_CHECK_OFFSET(TAMP_TypeDef, SR, 0x30);
REG_CHECK_OFFSET(TAMP_TypeDef, MISR, 0x34);
REG_CHECK_OFFSET(TAMP_TypeDef, SCR, 0x3C);
REG_CHECK_OFFSET(TAMP_TypeDef, BKP0R, 0x100);
REG_CHECK_OFFSET(TAMP_TypeDef, BKP4R, 0x110);

#define TAMP_BKP_COUNT 5U  // BKP0R..BKP4R, consecutive words from &TAMP->BKP0R

// TAMP_CR1
#define TAMP_CR1_TAMP1E 0x00000001U
#define TAMP_CR1_TAMP2E 0x00000002U
#define TAMP_CR1_ITAMP3E 0x00040000U
#define TAMP_CR1_ITAMP4E 0x00080000U
#define TAMP_CR1_ITAMP5E 0x00100000U
#define TAMP_CR1_ITAMP6E 0x00200000U

// TAMP_CR2
#define TAMP_CR2_TAMP1NOERASE 0x00000001U
#define TAMP_CR2_TAMP2NOERASE 0x00000002U
#define TAMP_CR2_TAMP1MSK 0x00010000U
#define TAMP_CR2_TAMP2MSK 0x00020000U
#define TAMP_CR2_TAMP1TRG 0x01000000U
#define TAMP_CR2_TAMP2TRG 0x02000000U

// TAMP_FLTCR
#define TAMP_FLTCR_TAMPFREQ_Pos 0U
#define TAMP_FLTCR_TAMPFREQ 0x00000007U
#define TAMP_FLTCR_TAMPFLT_Pos 3U
#define TAMP_FLTCR_TAMPFLT 0x00000018U
#define TAMP_FLTCR_TAMPPRCH_Pos 5U
#define TAMP_FLTCR_TAMPPRCH 0x00000060U
#define TAMP_FLTCR_TAMPPUDIS 0x00000080U

// TAMP_IER / TAMP_SR / TAMP_MISR / TAMP_SCR: same bit positions
#define TAMP_IER_TAMP1IE 0x00000001U
#define TAMP_IER_TAMP2IE 0x00000002U
#define TAMP_IER_ITAMP3IE 0x00040000U
#define TAMP_IER_ITAMP4IE 0x00080000U
#define TAMP_IER_ITAMP5IE 0x00100000U
#define TAMP_IER_ITAMP6IE 0x00200000U
#define TAMP_SR_TAMP1F 0x00000001U
#define TAMP_SR_TAMP2F 0x00000002U
#define TAMP_SR_ITAMP3F 0x00040000U
#define TAMP_SR_ITAMP4F 0x00080000U
#define TAMP_SR_ITAMP5F 0x00100000U
#define TAMP_SR_ITAMP6F 0x00200000U
#define TAMP_MISR_TAMP1MF 0x00000001U
#define TAMP_MISR_TAMP2MF 0x00000002U
#define TAMP_MISR_ITAMP3MF 0x00040000U
#define TAMP_MISR_ITAMP4MF 0x00080000U
#define TAMP_MISR_ITAMP5MF 0x00100000U
#define TAMP_MISR_ITAMP6MF 0x00200000U
#define TAMP_SCR_CTAMP1F 0x00000001U
#define TAMP_SCR_CTAMP2F 0x00000002U
#define TAMP_SCR_CITAMP3F 0x00040000U
#define TAMP_SCR_CITAMP4F 0x00080000U
#define TAMP_SCR_CITAMP5F 0x00100000U
#define TAMP_SCR_CITAMP6F 0x00200000U

#define RTC ((RTC_TypeDef*)RTC_BASE)
#define TAMP ((TAMP_TypeDef*)TAMP_BASE)
