// Peripheral types and instances of the STM32G070 for the hardware layer (GPIO_TypeDef, USART1,
// DMA1_Channel2, ...), with every register definition of the target backend behind them.
#pragma once

#include "reg_adc.h"
#include "reg_base.h"
#include "reg_core.h"
#include "reg_dma.h"
#include "reg_flash.h"
#include "reg_gpio.h"
#include "reg_pwr.h"
#include "reg_rcc.h"
#include "reg_rtc.h"
#include "reg_spi.h"
#include "reg_syscfg.h"
#include "reg_tim.h"
#include "reg_usart.h"
