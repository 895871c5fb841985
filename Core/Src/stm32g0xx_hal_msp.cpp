// Low-level set-up the hardware layer asks for when a peripheral is initialised: clocks, pins,
// DMA channels.
#include "board_gpio.h"
#include "main.h"

namespace {

// Both DMA channels of this board move a peripheral's data register into an incrementing
// buffer, once per start (normal mode); only the request, the data width and the priority differ.
void initReceiveDma(DMA_HandleTypeDef& dma, DMA_Channel_TypeDef* channel, uint32_t request, uint32_t periphAlign,
                    uint32_t memAlign, uint32_t priority) {
  dma.Instance = channel;
  dma.Init.Request = request;
  dma.Init.Direction = DMA_PERIPH_TO_MEMORY;
  dma.Init.PeriphInc = DMA_PINC_DISABLE;
  dma.Init.MemInc = DMA_MINC_ENABLE;
  dma.Init.PeriphDataAlignment = periphAlign;
  dma.Init.MemDataAlignment = memAlign;
  dma.Init.Mode = DMA_NORMAL;
  dma.Init.Priority = priority;
  if (HAL_DMA_Init(&dma) != HAL_OK) Error_Handler();
}

}  // namespace

extern "C" {

void HAL_MspInit(void) {
  __HAL_RCC_SYSCFG_CLK_ENABLE();
  __HAL_RCC_PWR_CLK_ENABLE();
}

void HAL_UART_MspInit(UART_HandleTypeDef* huart) {
  if (huart->Instance != USART1) return;
  RCC_PeriphCLKInitTypeDef periph{};
  periph.PeriphClockSelection = RCC_PERIPHCLK_USART1;
  periph.Usart1ClockSelection = RCC_USART1CLKSOURCE_PCLK1;
  if (HAL_RCCEx_PeriphCLKConfig(&periph) != HAL_OK) Error_Handler();

  __HAL_RCC_USART1_CLK_ENABLE();
  __HAL_RCC_GPIOA_CLK_ENABLE();

  static_assert(Wiring::consoleTx.port == Wiring::Port::A && Wiring::consoleRx.port == Wiring::Port::A);
  static_assert(Wiring::consoleTx.alternate == GPIO_AF1_USART1 && Wiring::consoleRx.alternate == GPIO_AF1_USART1);
  GPIO_InitTypeDef pins{};
  pins.Pin = Wiring::pinsOf({Wiring::consoleTx, Wiring::consoleRx});
  pins.Mode = GPIO_MODE_AF_PP;
  pins.Pull = GPIO_NOPULL;
  pins.Speed = GPIO_SPEED_FREQ_LOW;
  pins.Alternate = GPIO_AF1_USART1;
  HAL_GPIO_Init(GPIOA, &pins);
  pins.Pin = Wiring::pinsOf({Wiring::consoleRx});
  pins.Pull = GPIO_PULLUP;
  HAL_GPIO_Init(GPIOA, &pins);

  initReceiveDma(hdma_usart1_rx, DMA1_Channel2, DMA_REQUEST_USART1_RX, DMA_PDATAALIGN_BYTE, DMA_MDATAALIGN_BYTE,
                 DMA_PRIORITY_HIGH);
  __HAL_LINKDMA(huart, hdmarx, hdma_usart1_rx);
}

void HAL_SPI_MspInit(SPI_HandleTypeDef* hspi) {
  if (hspi->Instance != SPI1) return;
  __HAL_RCC_SPI1_CLK_ENABLE();
  __HAL_RCC_GPIOA_CLK_ENABLE();
  static_assert(Wiring::spiSck.port == Wiring::Port::A && Wiring::spiMiso.port == Wiring::Port::A &&
                Wiring::spiMosi.port == Wiring::Port::A);
  static_assert(Wiring::spiSck.alternate == GPIO_AF0_SPI1 && Wiring::spiMiso.alternate == GPIO_AF0_SPI1 &&
                Wiring::spiMosi.alternate == GPIO_AF0_SPI1);
  GPIO_InitTypeDef pins{};
  pins.Pin = Wiring::pinsOf({Wiring::spiSck, Wiring::spiMiso, Wiring::spiMosi});
  pins.Mode = GPIO_MODE_AF_PP;
  pins.Pull = GPIO_NOPULL;
  pins.Speed = GPIO_SPEED_FREQ_LOW;
  pins.Alternate = GPIO_AF0_SPI1;
  HAL_GPIO_Init(GPIOA, &pins);
}

// The ADC inputs of the wiring (PA0..PA4, and PB1 for the inductive E-field pick-up). PB1 leaves the
// GPIO bring-up as a driven-low output; as such the converter would read 0 V on it, so it becomes
// an analog input here with the others.
static_assert(Wiring::adcPins(Wiring::Port::C) == 0 && Wiring::adcPins(Wiring::Port::D) == 0 &&
                  Wiring::adcPins(Wiring::Port::F) == 0,
              "the ADC set-up takes its inputs on ports A and B");

void HAL_ADC_MspInit(ADC_HandleTypeDef* hadc) {
  if (hadc->Instance != ADC1) return;
  __HAL_RCC_ADC_CLK_ENABLE();
  __HAL_RCC_GPIOA_CLK_ENABLE();
  __HAL_RCC_GPIOB_CLK_ENABLE();

  GPIO_InitTypeDef pins{};
  pins.Pin = Wiring::adcPins(Wiring::Port::A);
  pins.Mode = GPIO_MODE_ANALOG;
  pins.Pull = GPIO_NOPULL;
  HAL_GPIO_Init(GPIOA, &pins);
  pins.Pin = Wiring::adcPins(Wiring::Port::B);
  HAL_GPIO_Init(GPIOB, &pins);

  initReceiveDma(hdma_adc1, DMA1_Channel1, DMA_REQUEST_ADC1, DMA_PDATAALIGN_HALFWORD, DMA_MDATAALIGN_HALFWORD,
                 DMA_PRIORITY_LOW);
  __HAL_LINKDMA(hadc, DMA_Handle, hdma_adc1);
}

void HAL_ADC_MspDeInit(ADC_HandleTypeDef* hadc) {
  if (hadc->Instance != ADC1) return;
  __HAL_RCC_ADC_CLK_DISABLE();
  HAL_GPIO_DeInit(GPIOA, Wiring::adcPins(Wiring::Port::A));
  HAL_GPIO_DeInit(GPIOB, Wiring::adcPins(Wiring::Port::B));
  (void)HAL_DMA_DeInit(hadc->DMA_Handle);
}

void HAL_RTC_MspInit(RTC_HandleTypeDef* hrtc) {
  if (hrtc->Instance != RTC) return;
  HAL_PWR_EnableBkUpAccess();  // the clock selection and enable live in the backup domain
  RCC_PeriphCLKInitTypeDef periph{};
  periph.PeriphClockSelection = RCC_PERIPHCLK_RTC;
  periph.RTCClockSelection = RCC_RTCCLKSOURCE_LSI;
  if (HAL_RCCEx_PeriphCLKConfig(&periph) != HAL_OK) Error_Handler();
  __HAL_RCC_RTC_ENABLE();
  __HAL_RCC_RTCAPB_CLK_ENABLE();
}

void HAL_TIM_Base_MspInit(TIM_HandleTypeDef* htim) {
  if (htim->Instance == TIM6) __HAL_RCC_TIM6_CLK_ENABLE();
}

}  // extern "C"
