// Peripheral instances of the simulated board. The firmware only passes these pointers back to
// the hardware layer, so each is a tag that names the simulated peripheral.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct { uint8_t index; } GPIO_TypeDef;
typedef struct { uint8_t index; } USART_TypeDef;
typedef struct { uint8_t index; } DMA_Channel_TypeDef;
typedef struct { uint8_t index; } TIM_TypeDef;
typedef struct { uint8_t index; } ADC_TypeDef;
typedef struct { uint8_t index; } SPI_TypeDef;
typedef struct { uint8_t index; } RTC_TypeDef;

extern GPIO_TypeDef simGpioPorts[6];  // A, B, C, D, E (absent on this package), F
extern USART_TypeDef simUsart1;
extern DMA_Channel_TypeDef simDmaChannels[7];
extern TIM_TypeDef simTim6;
extern ADC_TypeDef simAdc1;
extern SPI_TypeDef simSpi1;
extern RTC_TypeDef simRtc;

#define GPIOA (&simGpioPorts[0])
#define GPIOB (&simGpioPorts[1])
#define GPIOC (&simGpioPorts[2])
#define GPIOD (&simGpioPorts[3])
#define GPIOF (&simGpioPorts[5])
#define USART1 (&simUsart1)
#define DMA1_Channel1 (&simDmaChannels[0])
#define DMA1_Channel2 (&simDmaChannels[1])
#define DMA1_Channel3 (&simDmaChannels[2])
#define TIM6 (&simTim6)
#define ADC1 (&simAdc1)
#define SPI1 (&simSpi1)
#define RTC (&simRtc)

// The simulated flash holds only the configuration page (the program is host code). Its base is
// placed so that the page has the index it has on the chip: the last of 64 pages of 2 KiB.
extern uint32_t __device_config_flash_start[];
#define FLASH_BASE ((uintptr_t)__device_config_flash_start - 63U * 0x800U)

#ifdef __cplusplus
}
#endif
