// System configuration controller (SYSCFG): boot memory mapping, pin remaps, I/O fast-mode
// options, SRAM parity and the interrupt line status registers.
#pragma once

#include "reg_base.h"

#define SYSCFG_BASE (APBPERIPH_BASE + 0x10000UL)

typedef struct {
  volatile uint32_t CFGR1;  // configuration 1
  uint32_t RESERVED0[5];
  volatile uint32_t CFGR2;  // configuration 2
  uint32_t RESERVED1[25];
  volatile uint32_t ITLINE[32];  // ITLINE0..ITLINE31: sources pending on each interrupt line
} SYSCFG_TypeDef;
REG_CHECK_OFFSET(SYSCFG_TypeDef, CFGR2, 0x18);
REG_CHECK_OFFSET(SYSCFG_TypeDef, ITLINE, 0x80);

// SYSCFG_CFGR1
#define SYSCFG_CFGR1_MEM_MODE_Pos 0U
#define SYSCFG_CFGR1_MEM_MODE 0x00000003U  // 00: main flash, 01: system flash, 11: SRAM at 0
#define SYSCFG_CFGR1_PA11_RMP 0x00000008U
#define SYSCFG_CFGR1_PA12_RMP 0x00000010U
#define SYSCFG_CFGR1_IR_POL 0x00000020U
#define SYSCFG_CFGR1_IR_MOD_Pos 6U
#define SYSCFG_CFGR1_IR_MOD 0x000000C0U
#define SYSCFG_CFGR1_BOOSTEN 0x00000100U
#define SYSCFG_CFGR1_I2C_PB6_FMP 0x00010000U
#define SYSCFG_CFGR1_I2C_PB7_FMP 0x00020000U
#define SYSCFG_CFGR1_I2C_PB8_FMP 0x00040000U
#define SYSCFG_CFGR1_I2C_PB9_FMP 0x00080000U
#define SYSCFG_CFGR1_I2C1_FMP 0x00100000U
#define SYSCFG_CFGR1_I2C2_FMP 0x00200000U
#define SYSCFG_CFGR1_I2C_PA9_FMP 0x00400000U
#define SYSCFG_CFGR1_I2C_PA10_FMP 0x00800000U

// SYSCFG_CFGR2
#define SYSCFG_CFGR2_LOCKUP_LOCK 0x00000001U
#define SYSCFG_CFGR2_SRAM_PARITY_LOCK 0x00000002U
#define SYSCFG_CFGR2_ECC_LOCK 0x00000008U
#define SYSCFG_CFGR2_SRAM_PEF 0x00000100U

#define SYSCFG ((SYSCFG_TypeDef*)SYSCFG_BASE)
