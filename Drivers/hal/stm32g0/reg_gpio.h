// General-purpose I/O ports (GPIOA..GPIOD, GPIOF on the IOPORT bus). Every register holds one
// field per pin, so the bit macros take the pin number (0..15).
#pragma once

#include "reg_base.h"

#define GPIOA_BASE (IOPORT_BASE + 0x0000UL)
#define GPIOB_BASE (IOPORT_BASE + 0x0400UL)
#define GPIOC_BASE (IOPORT_BASE + 0x0800UL)
#define GPIOD_BASE (IOPORT_BASE + 0x0C00UL)
#define GPIOF_BASE (IOPORT_BASE + 0x1400UL)

typedef struct {
  volatile uint32_t MODER;    // mode: 2 bits per pin
  volatile uint32_t OTYPER;   // output type: 1 bit per pin
  volatile uint32_t OSPEEDR;  // output speed: 2 bits per pin
  volatile uint32_t PUPDR;    // pull-up/pull-down: 2 bits per pin
  volatile uint32_t IDR;      // input data
  volatile uint32_t ODR;      // output data
  volatile uint32_t BSRR;     // bit set (low half) / reset (high half)
  volatile uint32_t LCKR;     // configuration lock
  volatile uint32_t AFR[2];   // alternate function low (pins 0..7) and high (pins 8..15): 4 bits per pin
  volatile uint32_t BRR;      // bit reset
} GPIO_TypeDef;
REG_CHECK_OFFSET(GPIO_TypeDef, OTYPER, 0x04);
REG_CHECK_OFFSET(GPIO_TypeDef, OSPEEDR, 0x08);
REG_CHECK_OFFSET(GPIO_TypeDef, PUPDR, 0x0C);
REG_CHECK_OFFSET(GPIO_TypeDef, IDR, 0x10);
REG_CHECK_OFFSET(GPIO_TypeDef, ODR, 0x14);
REG_CHECK_OFFSET(GPIO_TypeDef, BSRR, 0x18);
REG_CHECK_OFFSET(GPIO_TypeDef, LCKR, 0x1C);
REG_CHECK_OFFSET(GPIO_TypeDef, AFR, 0x20);
REG_CHECK_OFFSET(GPIO_TypeDef, BRR, 0x28);

// GPIOx_MODER: MODEy[1:0]
#define GPIO_MODER_MODE_Pos(pin) (2U * (pin))
#define GPIO_MODER_MODE(pin) (0x3U << GPIO_MODER_MODE_Pos(pin))
#define GPIO_MODER_MODE_INPUT 0x0U
#define GPIO_MODER_MODE_OUTPUT 0x1U
#define GPIO_MODER_MODE_ALTERNATE 0x2U
#define GPIO_MODER_MODE_ANALOG 0x3U  // reset state of every pin but the debug pins PA13/PA14

// GPIOx_OTYPER: OTy (0 push-pull, 1 open drain)
#define GPIO_OTYPER_OT(pin) (1U << (pin))

// GPIOx_OSPEEDR: OSPEEDy[1:0] (0 very low .. 3 very high)
#define GPIO_OSPEEDR_OSPEED_Pos(pin) (2U * (pin))
#define GPIO_OSPEEDR_OSPEED(pin) (0x3U << GPIO_OSPEEDR_OSPEED_Pos(pin))

// GPIOx_PUPDR: PUPDy[1:0]
#define GPIO_PUPDR_PUPD_Pos(pin) (2U * (pin))
#define GPIO_PUPDR_PUPD(pin) (0x3U << GPIO_PUPDR_PUPD_Pos(pin))
#define GPIO_PUPDR_PUPD_NONE 0x0U
#define GPIO_PUPDR_PUPD_PULLUP 0x1U
#define GPIO_PUPDR_PUPD_PULLDOWN 0x2U

// GPIOx_IDR / GPIOx_ODR
#define GPIO_IDR_ID(pin) (1U << (pin))
#define GPIO_ODR_OD(pin) (1U << (pin))

// GPIOx_BSRR / GPIOx_BRR
#define GPIO_BSRR_BS(pin) (1U << (pin))
#define GPIO_BSRR_BR(pin) (1U << ((pin) + 16U))
#define GPIO_BRR_BR(pin) (1U << (pin))

// GPIOx_LCKR
#define GPIO_LCKR_LCK(pin) (1U << (pin))
#define GPIO_LCKR_LCKK 0x00010000U

// GPIOx_AFR[pin / 8]: AFSELy[3:0]
#define GPIO_AFR_AFSEL_Pos(pin) (4U * ((pin)&7U))
#define GPIO_AFR_AFSEL(pin) (0xFU << GPIO_AFR_AFSEL_Pos(pin))

#define GPIOA ((GPIO_TypeDef*)GPIOA_BASE)
#define GPIOB ((GPIO_TypeDef*)GPIOB_BASE)
#define GPIOC ((GPIO_TypeDef*)GPIOC_BASE)
#define GPIOD ((GPIO_TypeDef*)GPIOD_BASE)
#define GPIOF ((GPIO_TypeDef*)GPIOF_BASE)
