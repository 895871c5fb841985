// Cortex-M0+ core peripherals: system control block, SysTick timer and interrupt controller.
#pragma once

#include "reg_base.h"

#define SCS_BASE 0xE000E000UL
#define SysTick_BASE (SCS_BASE + 0x0010UL)
#define NVIC_BASE (SCS_BASE + 0x0100UL)
#define SCB_BASE (SCS_BASE + 0x0D00UL)

// ---- System control block ----
typedef struct {
  volatile uint32_t CPUID;  // CPUID base register
  volatile uint32_t ICSR;   // interrupt control and state
  volatile uint32_t VTOR;   // vector table offset
  volatile uint32_t AIRCR;  // application interrupt and reset control
  volatile uint32_t SCR;    // system control
  volatile uint32_t CCR;    // configuration and control
  uint32_t RESERVED0;
  volatile uint32_t SHPR2;  // system handler priority 2 (SVCall)
  volatile uint32_t SHPR3;  // system handler priority 3 (PendSV, SysTick)
  volatile uint32_t SHCSR;  // system handler control and state
} SCB_TypeDef;
REG_CHECK_OFFSET(SCB_TypeDef, ICSR, 0x04);
REG_CHECK_OFFSET(SCB_TypeDef, VTOR, 0x08);
REG_CHECK_OFFSET(SCB_TypeDef, AIRCR, 0x0C);
REG_CHECK_OFFSET(SCB_TypeDef, SCR, 0x10);
REG_CHECK_OFFSET(SCB_TypeDef, CCR, 0x14);
REG_CHECK_OFFSET(SCB_TypeDef, SHPR2, 0x1C);
REG_CHECK_OFFSET(SCB_TypeDef, SHPR3, 0x20);
REG_CHECK_OFFSET(SCB_TypeDef, SHCSR, 0x24);

#define SCB_ICSR_VECTACTIVE_Pos 0U
#define SCB_ICSR_VECTACTIVE 0x000001FFU
#define SCB_ICSR_VECTPENDING_Pos 12U
#define SCB_ICSR_VECTPENDING 0x001FF000U
#define SCB_ICSR_ISRPENDING 0x00400000U
#define SCB_ICSR_PENDSTCLR 0x02000000U
#define SCB_ICSR_PENDSTSET 0x04000000U
#define SCB_ICSR_PENDSVCLR 0x08000000U
#define SCB_ICSR_PENDSVSET 0x10000000U
#define SCB_ICSR_NMIPENDSET 0x80000000U

#define SCB_VTOR_TBLOFF 0xFFFFFF80U

#define SCB_AIRCR_VECTCLRACTIVE 0x00000002U
#define SCB_AIRCR_SYSRESETREQ 0x00000004U
#define SCB_AIRCR_ENDIANNESS 0x00008000U
#define SCB_AIRCR_VECTKEY_Pos 16U
#define SCB_AIRCR_VECTKEY 0xFFFF0000U
#define SCB_AIRCR_VECTKEY_VALUE 0x05FA0000U  // must accompany every write

#define SCB_SCR_SLEEPONEXIT 0x00000002U
#define SCB_SCR_SLEEPDEEP 0x00000004U
#define SCB_SCR_SEVONPEND 0x00000010U

#define SCB_CCR_UNALIGN_TRP 0x00000008U
#define SCB_CCR_STKALIGN 0x00000200U

#define SCB_SHPR2_PRI_11_Pos 24U  // SVCall
#define SCB_SHPR3_PRI_14_Pos 16U  // PendSV
#define SCB_SHPR3_PRI_15_Pos 24U  // SysTick

#define SCB_SHCSR_SVCALLPENDED 0x00008000U

// ---- SysTick timer ----
typedef struct {
  volatile uint32_t CTRL;   // control and status
  volatile uint32_t LOAD;   // reload value
  volatile uint32_t VAL;    // current value
  volatile uint32_t CALIB;  // calibration value
} SysTick_TypeDef;
REG_CHECK_OFFSET(SysTick_TypeDef, LOAD, 0x04);
REG_CHECK_OFFSET(SysTick_TypeDef, VAL, 0x08);
REG_CHECK_OFFSET(SysTick_TypeDef, CALIB, 0x0C);

#define SysTick_CTRL_ENABLE 0x00000001U
#define SysTick_CTRL_TICKINT 0x00000002U
#define SysTick_CTRL_CLKSOURCE 0x00000004U  // 1: processor clock (HCLK), 0: HCLK / 8
#define SysTick_CTRL_COUNTFLAG 0x00010000U
#define SysTick_LOAD_RELOAD 0x00FFFFFFU
#define SysTick_VAL_CURRENT 0x00FFFFFFU

// ---- Nested vectored interrupt controller (32 interrupt lines, 2 priority bits) ----
typedef struct {
  volatile uint32_t ISER;  // set-enable
  uint32_t RESERVED0[31];
  volatile uint32_t ICER;  // clear-enable
  uint32_t RESERVED1[31];
  volatile uint32_t ISPR;  // set-pending
  uint32_t RESERVED2[31];
  volatile uint32_t ICPR;  // clear-pending
  uint32_t RESERVED3[31];
  uint32_t RESERVED4[64];
  volatile uint32_t IPR[8];  // priority, one byte per line; word access only on the M0+
} NVIC_TypeDef;
REG_CHECK_OFFSET(NVIC_TypeDef, ICER, 0x080);
REG_CHECK_OFFSET(NVIC_TypeDef, ISPR, 0x100);
REG_CHECK_OFFSET(NVIC_TypeDef, ICPR, 0x180);
REG_CHECK_OFFSET(NVIC_TypeDef, IPR, 0x300);

#define NVIC_PRIO_BITS 2U  // implemented priority bits: levels 0 (highest) to 3

#define SCB ((SCB_TypeDef*)SCB_BASE)
#define SysTick ((SysTick_TypeDef*)SysTick_BASE)
#define NVIC ((NVIC_TypeDef*)NVIC_BASE)
