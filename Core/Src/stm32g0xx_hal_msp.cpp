// Low-level set-up the hardware layer asks for when a peripheral is initialised: clocks, pins,
// DMA channels.
#include "main.h"

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

  GPIO_InitTypeDef pins{};
  pins.Pin = GPIO_PIN_9 | GPIO_PIN_10;
  pins.Mode = GPIO_MODE_AF_PP;
  pins.Pull = GPIO_NOPULL;
  pins.Speed = GPIO_SPEED_FREQ_LOW;
  pins.Alternate = GPIO_AF1_USART1;
  HAL_GPIO_Init(GPIOA, &pins);
  pins.Pin = GPIO_PIN_10;
  pins.Pull = GPIO_PULLUP;
  HAL_GPIO_Init(GPIOA, &pins);

  hdma_usart1_rx.Instance = DMA1_Channel2;
  hdma_usart1_rx.Init.Request = DMA_REQUEST_USART1_RX;
  hdma_usart1_rx.Init.Direction = DMA_PERIPH_TO_MEMORY;
  hdma_usart1_rx.Init.PeriphInc = DMA_PINC_DISABLE;
  hdma_usart1_rx.Init.MemInc = DMA_MINC_ENABLE;
  hdma_usart1_rx.Init.PeriphDataAlignment = DMA_PDATAALIGN_BYTE;
  hdma_usart1_rx.Init.MemDataAlignment = DMA_MDATAALIGN_BYTE;
  hdma_usart1_rx.Init.Mode = DMA_NORMAL;
  hdma_usart1_rx.Init.Priority = DMA_PRIORITY_HIGH;
  if (HAL_DMA_Init(&hdma_usart1_rx) != HAL_OK) Error_Handler();
  __HAL_LINKDMA(huart, hdmarx, hdma_usart1_rx);
}

void HAL_SPI_MspInit(SPI_HandleTypeDef* hspi) {
  if (hspi->Instance != SPI1) return;
  __HAL_RCC_SPI1_CLK_ENABLE();
  __HAL_RCC_GPIOA_CLK_ENABLE();
  // PA5 SCK, PA6 MISO, PA7 MOSI.
  GPIO_InitTypeDef pins{};
  pins.Pin = GPIO_PIN_5 | GPIO_PIN_6 | GPIO_PIN_7;
  pins.Mode = GPIO_MODE_AF_PP;
  pins.Pull = GPIO_NOPULL;
  pins.Speed = GPIO_SPEED_FREQ_LOW;
  pins.Alternate = GPIO_AF0_SPI1;
  HAL_GPIO_Init(GPIOA, &pins);
}

// ADC inputs: PA0..PA4 and PB1 (channel 9, the inductive E-field pick-up). PB1 leaves the GPIO
// bring-up as a driven-low output; as such the converter would read 0 V on it, so it becomes an
// analog input here with the others.
void HAL_ADC_MspInit(ADC_HandleTypeDef* hadc) {
  if (hadc->Instance != ADC1) return;
  __HAL_RCC_ADC_CLK_ENABLE();
  __HAL_RCC_GPIOA_CLK_ENABLE();
  __HAL_RCC_GPIOB_CLK_ENABLE();

  GPIO_InitTypeDef pins{};
  pins.Pin = GPIO_PIN_0 | GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_3 | GPIO_PIN_4;
  pins.Mode = GPIO_MODE_ANALOG;
  pins.Pull = GPIO_NOPULL;
  HAL_GPIO_Init(GPIOA, &pins);
  pins.Pin = GPIO_PIN_1;
  HAL_GPIO_Init(GPIOB, &pins);

  hdma_adc1.Instance = DMA1_Channel1;
  hdma_adc1.Init.Request = DMA_REQUEST_ADC1;
  hdma_adc1.Init.Direction = DMA_PERIPH_TO_MEMORY;
  hdma_adc1.Init.PeriphInc = DMA_PINC_DISABLE;
  hdma_adc1.Init.MemInc = DMA_MINC_ENABLE;
  hdma_adc1.Init.PeriphDataAlignment = DMA_PDATAALIGN_HALFWORD;
  hdma_adc1.Init.MemDataAlignment = DMA_MDATAALIGN_HALFWORD;
  hdma_adc1.Init.Mode = DMA_NORMAL;
  hdma_adc1.Init.Priority = DMA_PRIORITY_LOW;
  if (HAL_DMA_Init(&hdma_adc1) != HAL_OK) Error_Handler();
  __HAL_LINKDMA(hadc, DMA_Handle, hdma_adc1);
}

void HAL_ADC_MspDeInit(ADC_HandleTypeDef* hadc) {
  if (hadc->Instance != ADC1) return;
  __HAL_RCC_ADC_CLK_DISABLE();
  HAL_GPIO_DeInit(GPIOA, GPIO_PIN_0 | GPIO_PIN_1 | GPIO_PIN_2 | GPIO_PIN_3 | GPIO_PIN_4);
  HAL_GPIO_DeInit(GPIOB, GPIO_PIN_1);
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
