// Power control (PWR): low-power modes, regulator range, backup domain write access, wake-up
// pins and flags, standby pull-ups/pull-downs.
#pragma once

#include "reg_base.h"

#define PWR_BASE (APBPERIPH_BASE + 0x7000UL)

typedef struct {
  volatile uint32_t CR1;  // control 1
  volatile uint32_t CR2;  // control 2 (no voltage detector on the STM32G070)
  volatile uint32_t CR3;  // control 3
  volatile uint32_t CR4;  // control 4
  volatile uint32_t SR1;  // status 1 (wake-up and standby flags)
  volatile uint32_t SR2;  // status 2
  volatile uint32_t SCR;  // status clear
  uint32_t RESERVED0;
  volatile uint32_t PUCRA;  // port A pull-up control (standby)
  volatile uint32_t PDCRA;  // port A pull-down control
  volatile uint32_t PUCRB;
  volatile uint32_t PDCRB;
  volatile uint32_t PUCRC;
  volatile uint32_t PDCRC;
  volatile uint32_t PUCRD;
  volatile uint32_t PDCRD;
  uint32_t RESERVED1[2];
  volatile uint32_t PUCRF;
  volatile uint32_t PDCRF;
} PWR_TypeDef;
REG_CHECK_OFFSET(PWR_TypeDef, CR3, 0x08);
REG_CHECK_OFFSET(PWR_TypeDef, CR4, 0x0C);
REG_CHECK_OFFSET(PWR_TypeDef, SR1, 0x10);
REG_CHECK_OFFSET(PWR_TypeDef, SR2, 0x14);
REG_CHECK_OFFSET(PWR_TypeDef, SCR, 0x18);
REG_CHECK_OFFSET(PWR_TypeDef, PUCRA, 0x20);
REG_CHECK_OFFSET(PWR_TypeDef, PDCRD, 0x3C);
REG_CHECK_OFFSET(PWR_TypeDef, PUCRF, 0x48);
REG_CHECK_OFFSET(PWR_TypeDef, PDCRF, 0x4C);

// PWR_CR1
#define PWR_CR1_LPMS_Pos 0U
#define PWR_CR1_LPMS 0x00000007U  // low-power mode entered on deep sleep
#define PWR_CR1_LPMS_STOP0 0x00000000U
#define PWR_CR1_LPMS_STOP1 0x00000001U
#define PWR_CR1_LPMS_STANDBY 0x00000003U
#define PWR_CR1_FPD_STOP 0x00000008U
#define PWR_CR1_FPD_LPRUN 0x00000010U
#define PWR_CR1_FPD_LPSLP 0x00000020U
#define PWR_CR1_DBP 0x00000100U  // write access to the RTC domain (RTC, TAMP, RCC_BDCR)
#define PWR_CR1_VOS_Pos 9U
#define PWR_CR1_VOS 0x00000600U
#define PWR_CR1_VOS_RANGE1 0x00000200U  // up to 64 MHz
#define PWR_CR1_VOS_RANGE2 0x00000400U  // up to 16 MHz
#define PWR_CR1_LPR 0x00004000U         // low-power run (SYSCLK at most 2 MHz)

// PWR_CR3
#define PWR_CR3_EWUP1 0x00000001U
#define PWR_CR3_EWUP2 0x00000002U
#define PWR_CR3_EWUP4 0x00000008U
#define PWR_CR3_EWUP5 0x00000010U
#define PWR_CR3_EWUP6 0x00000020U
#define PWR_CR3_RRS 0x00000100U    // SRAM retention in standby
#define PWR_CR3_APC 0x00000400U    // apply PUCRx/PDCRx in standby
#define PWR_CR3_EIWUL 0x00008000U  // internal wake-up line (RTC, TAMP); set at reset

// PWR_CR4 (wake-up pin polarity, VBAT charging)
#define PWR_CR4_WP1 0x00000001U
#define PWR_CR4_WP2 0x00000002U
#define PWR_CR4_WP4 0x00000008U
#define PWR_CR4_WP5 0x00000010U
#define PWR_CR4_WP6 0x00000020U
#define PWR_CR4_VBE 0x00000100U
#define PWR_CR4_VBRS 0x00000200U

// PWR_SR1
#define PWR_SR1_WUF1 0x00000001U
#define PWR_SR1_WUF2 0x00000002U
#define PWR_SR1_WUF4 0x00000008U
#define PWR_SR1_WUF5 0x00000010U
#define PWR_SR1_WUF6 0x00000020U
#define PWR_SR1_SBF 0x00000100U
#define PWR_SR1_WUFI 0x00008000U

// PWR_SR2
#define PWR_SR2_FLASH_RDY 0x00000080U
#define PWR_SR2_REGLPS 0x00000100U
#define PWR_SR2_REGLPF 0x00000200U
#define PWR_SR2_VOSF 0x00000400U  // set while the regulator changes range

// PWR_SCR
#define PWR_SCR_CWUF1 0x00000001U
#define PWR_SCR_CWUF2 0x00000002U
#define PWR_SCR_CWUF4 0x00000008U
#define PWR_SCR_CWUF5 0x00000010U
#define PWR_SCR_CWUF6 0x00000020U
#define PWR_SCR_CWUF 0x0000003BU  // every wake-up flag
#define PWR_SCR_CSBF 0x00000100U

// PWR_PUCRx / PWR_PDCRx: one bit per pin.
#define PWR_PxCR_P(pin) (1U << (pin))

#define PWR ((PWR_TypeDef*)PWR_BASE)
