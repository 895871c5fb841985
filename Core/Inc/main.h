// Board bring-up: peripheral handles and initialisers shared by main and the interrupt handlers.
#pragma once

#include "stm32g0xx_hal.h"

extern UART_HandleTypeDef huart1;
extern DMA_HandleTypeDef hdma_usart1_rx;
extern ADC_HandleTypeDef hadc1;
extern DMA_HandleTypeDef hdma_adc1;
extern RTC_HandleTypeDef hrtc;
extern TIM_HandleTypeDef htim6;
extern SPI_HandleTypeDef hspi1;

void SystemClock_Config(void);
// Every start's bring-up, in its order: clocks, pins, DMA, converter, RTC, SPI, console UART,
// timers, the records' peripheral handles and the console's reception. The tests' board starts
// from here too.
void bringUpBoard(void);
void MX_GPIO_Init(void);
void MX_DMA_Init(void);
void MX_ADC1_Init(void);
void MX_RTC_Init(void);
void MX_SPI1_Init(void);
void MX_USART1_UART_Init(void);
void MX_TIM6_Init(void);
// The application the entry point runs forever: the bench shell or the field build's unattended
// cycle, chosen when the program is linked (app/bench_app.cpp or app/field_app.cpp).
void appLoop();
// A configuration failure: nothing sensible can run, so the board sleeps 5 s in standby and
// restarts (at once, by a system reset, when standby cannot be entered).
[[noreturn]] void Error_Handler(void);
