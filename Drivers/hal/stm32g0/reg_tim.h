// Basic timers (TIM6, TIM7): a 16-bit up-counter with prescaler and auto-reload, update
// interrupt/DMA and a trigger output. Slots of the general-purpose layout are reserved here.
#pragma once

#include "reg_base.h"

#define TIM6_BASE (APBPERIPH_BASE + 0x1000UL)
#define TIM7_BASE (APBPERIPH_BASE + 0x1400UL)

typedef struct {
  volatile uint32_t CR1;  // control 1
  volatile uint32_t CR2;  // control 2
  uint32_t RESERVED0;
  volatile uint32_t DIER;  // DMA/interrupt enable
  volatile uint32_t SR;    // status (flags cleared by writing 0)
  volatile uint32_t EGR;   // event generation
  uint32_t RESERVED1[3];
  volatile uint32_t CNT;  // counter
  volatile uint32_t PSC;  // prescaler: counter clock = CK_PSC / (PSC + 1), loaded at the next update
  volatile uint32_t ARR;  // auto-reload: update every ARR + 1 counts
} TIM_TypeDef;
REG_CHECK_OFFSET(TIM_TypeDef, CR2, 0x04);
REG_CHECK_OFFSET(TIM_TypeDef, DIER, 0x0C);
REG_CHECK_OFFSET(TIM_TypeDef, SR, 0x10);
REG_CHECK_OFFSET(TIM_TypeDef, EGR, 0x14);
REG_CHECK_OFFSET(TIM_TypeDef, CNT, 0x24);
REG_CHECK_OFFSET(TIM_TypeDef, PSC, 0x28);
REG_CHECK_OFFSET(TIM_TypeDef, ARR, 0x2C);

// TIMx_CR1
#define TIM_CR1_CEN 0x00000001U
#define TIM_CR1_UDIS 0x00000002U
#define TIM_CR1_URS 0x00000004U  // 1: only overflow (not UG) sets UIF / raises the interrupt
#define TIM_CR1_OPM 0x00000008U
#define TIM_CR1_ARPE 0x00000080U
#define TIM_CR1_UIFREMAP 0x00000800U

// TIMx_CR2
#define TIM_CR2_MMS_Pos 4U
#define TIM_CR2_MMS 0x00000070U  // 000: reset, 001: enable, 010: update as trigger output
#define TIM_CR2_MMS_RESET 0x00000000U
#define TIM_CR2_MMS_ENABLE 0x00000010U
#define TIM_CR2_MMS_UPDATE 0x00000020U

// TIMx_DIER
#define TIM_DIER_UIE 0x00000001U
#define TIM_DIER_UDE 0x00000100U

// TIMx_SR
#define TIM_SR_UIF 0x00000001U

// TIMx_EGR
#define TIM_EGR_UG 0x00000001U  // reload PSC/ARR and clear the counter now (sets UIF unless URS)

// TIMx_CNT / TIMx_PSC / TIMx_ARR
#define TIM_CNT_CNT 0x0000FFFFU
#define TIM_CNT_UIFCPY 0x80000000U
#define TIM_PSC_PSC 0x0000FFFFU
#define TIM_ARR_ARR 0x0000FFFFU

#define TIM6 ((TIM_TypeDef*)TIM6_BASE)
#define TIM7 ((TIM_TypeDef*)TIM7_BASE)
