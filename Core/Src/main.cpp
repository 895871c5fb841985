// Entry point: capture the reset causes, bring the board up, start the console and the shell.
#include "main.h"

#include "Debug.h"
#include "DeviceConfig.h"
#include "MCUState.h"
#include "SerialConfig.h"
#include "board_gpio.h"
#include "sleep.h"
#include "uplink_counter.h"

UART_HandleTypeDef huart1;
DMA_HandleTypeDef hdma_usart1_rx;
ADC_HandleTypeDef hadc1;
DMA_HandleTypeDef hdma_adc1;
RTC_HandleTypeDef hrtc;
TIM_HandleTypeDef htim6;
SPI_HandleTypeDef hspi1;

namespace {
constexpr uint32_t kExpectedPclkHz = 4000000;
}

int main(void) {
  // Reset and wake-up flags first, before anything else can change them.
  setMCUGstate().resetCause = HAL_RCCEx_ReadCSR();
  setMCUGstate().bootCause = HAL_PWREx_ReadSR1();
  HAL_RCCEx_WriteCSR(HAL_RESET_FLAGS_CLEAR);

  bringUpBoard();
  DeviceConfig::init();
  resumeUplinkCounter();
  debug("\n\n\n******************************\n\n\n");
  resetCauseDecoder(mcustate().resetCause, mcustate().bootCause);

  const uint32_t pclk = HAL_RCC_GetPCLK1Freq();
  if (pclk != kExpectedPclkHz)
    debugV2("CPU clock mismatch: %d != %d\n", static_cast<int>(pclk), static_cast<int>(kExpectedPclkHz));

  if (HAL_ADCEx_Calibration_Start(&hadc1) != HAL_OK) {
    debug("calibration error!");
    Error_Handler();
  }

  for (;;) appLoop();
}

void bringUpBoard(void) {
  HAL_Init();
  SystemClock_Config();
  MX_GPIO_Init();
  MX_DMA_Init();
  MX_ADC1_Init();
  MX_RTC_Init();
  MX_SPI1_Init();
  MX_USART1_UART_Init();
  MX_TIM6_Init();
  initDelayTimer();

  (void)HAL_RCCEx_EnablePwrClockReadBack();

  setMCUGstate().hlpuart1 = &huart1;
  setMCUGstate().hadc1 = &hadc1;
  setMCUGstate().hrtc = &hrtc;

  serialConfigInit();
}

void SystemClock_Config(void) {
  if (HAL_PWREx_ControlVoltageScaling(PWR_REGULATOR_VOLTAGE_SCALE1) != HAL_OK) Error_Handler();

  RCC_OscInitTypeDef osc{};
  osc.OscillatorType = RCC_OSCILLATORTYPE_HSI | RCC_OSCILLATORTYPE_LSI;
  osc.HSIState = RCC_HSI_ON;
  osc.HSIDiv = RCC_HSI_DIV4;
  osc.HSICalibrationValue = RCC_HSICALIBRATION_DEFAULT;
  osc.LSIState = RCC_LSI_ON;
  osc.PLL.PLLState = RCC_PLL_NONE;
  if (HAL_RCC_OscConfig(&osc) != HAL_OK) Error_Handler();

  RCC_ClkInitTypeDef clk{};
  clk.ClockType = RCC_CLOCKTYPE_HCLK | RCC_CLOCKTYPE_SYSCLK | RCC_CLOCKTYPE_PCLK1;
  clk.SYSCLKSource = RCC_SYSCLKSOURCE_HSI;
  clk.AHBCLKDivider = RCC_SYSCLK_DIV1;
  clk.APB1CLKDivider = RCC_HCLK_DIV1;
  if (HAL_RCC_ClockConfig(&clk, FLASH_LATENCY_0) != HAL_OK) Error_Handler();
}

void MX_GPIO_Init(void) {
  __HAL_RCC_GPIOA_CLK_ENABLE();
  __HAL_RCC_GPIOB_CLK_ENABLE();
  __HAL_RCC_GPIOC_CLK_ENABLE();
  __HAL_RCC_GPIOD_CLK_ENABLE();
  __HAL_RCC_GPIOF_CLK_ENABLE();

  using Wiring::Boot;
  using Wiring::Port;
  HAL_GPIO_WritePin(GPIOB, Wiring::bootPins(Port::B, Boot::outputDrivenLow), GPIO_PIN_RESET);
  HAL_GPIO_WritePin(GPIOA, Wiring::bootPins(Port::A, Boot::outputDrivenLow), GPIO_PIN_RESET);

  // Every pin of the wiring in the state it starts in, port by port.
  struct Group {
    GPIO_TypeDef* port;
    uint32_t pins;
    uint32_t mode;
  };
  const Group groups[] = {
      {GPIOC, Wiring::bootPins(Port::C, Boot::analog), GPIO_MODE_ANALOG},
      {GPIOF, Wiring::bootPins(Port::F, Boot::analog), GPIO_MODE_ANALOG},
      {GPIOB, Wiring::outputPins(Port::B), GPIO_MODE_OUTPUT_PP},
      {GPIOB, Wiring::bootPins(Port::B, Boot::input), GPIO_MODE_INPUT},
      {GPIOB, Wiring::bootPins(Port::B, Boot::analog), GPIO_MODE_ANALOG},
      {GPIOA, Wiring::outputPins(Port::A), GPIO_MODE_OUTPUT_PP},
      {GPIOA, Wiring::bootPins(Port::A, Boot::analog), GPIO_MODE_ANALOG},
      {GPIOD, Wiring::bootPins(Port::D, Boot::analog), GPIO_MODE_ANALOG},
      {GPIOD, Wiring::bootPins(Port::D, Boot::input), GPIO_MODE_INPUT},
  };
  for (const Group& g : groups) {
    GPIO_InitTypeDef init{};
    init.Pin = g.pins;
    init.Mode = g.mode;
    init.Pull = GPIO_NOPULL;
    init.Speed = GPIO_SPEED_FREQ_LOW;
    HAL_GPIO_Init(g.port, &init);
  }

  mcustate().pin.lora.initGpioInputs();
  mcustate().pin.button.provisioning.init();
}

void MX_DMA_Init(void) {
  __HAL_RCC_DMA1_CLK_ENABLE();
  HAL_NVIC_SetPriority(DMA1_Channel1_IRQn, 0, 0);
  HAL_NVIC_EnableIRQ(DMA1_Channel1_IRQn);
  HAL_NVIC_SetPriority(DMA1_Channel2_3_IRQn, 0, 0);
  HAL_NVIC_EnableIRQ(DMA1_Channel2_3_IRQn);
  HAL_NVIC_SetPriority(USART1_IRQn, 0, 0);
  HAL_NVIC_EnableIRQ(USART1_IRQn);
}

void MX_ADC1_Init(void) {
  hadc1.Instance = ADC1;
  hadc1.Init.ClockPrescaler = ADC_CLOCK_SYNC_PCLK_DIV2;
  hadc1.Init.Resolution = ADC_RESOLUTION_12B;
  hadc1.Init.DataAlign = ADC_DATAALIGN_RIGHT;
  hadc1.Init.ScanConvMode = ADC_SCAN_SEQ_FIXED;
  hadc1.Init.EOCSelection = ADC_EOC_SINGLE_CONV;
  hadc1.Init.LowPowerAutoWait = DISABLE;
  hadc1.Init.LowPowerAutoPowerOff = DISABLE;
  hadc1.Init.ContinuousConvMode = ENABLE;
  hadc1.Init.NbrOfConversion = 4;
  hadc1.Init.DiscontinuousConvMode = DISABLE;
  hadc1.Init.ExternalTrigConv = ADC_SOFTWARE_START;
  hadc1.Init.ExternalTrigConvEdge = ADC_EXTERNALTRIGCONVEDGE_NONE;
  hadc1.Init.DMAContinuousRequests = DISABLE;
  hadc1.Init.Overrun = ADC_OVR_DATA_PRESERVED;
  hadc1.Init.SamplingTimeCommon1 = ADC_SAMPLETIME_160CYCLES_5;
  hadc1.Init.SamplingTimeCommon2 = ADC_SAMPLETIME_1CYCLE_5;
  hadc1.Init.OversamplingMode = DISABLE;
  hadc1.Init.TriggerFrequencyMode = ADC_TRIGGER_FREQ_HIGH;
  if (HAL_ADC_Init(&hadc1) != HAL_OK) Error_Handler();

  ADC_ChannelConfTypeDef channel{};
  channel.Channel = ADC_CHANNEL_0;
  channel.Rank = ADC_RANK_CHANNEL_NUMBER;
  channel.SamplingTime = ADC_SAMPLINGTIME_COMMON_1;
  if (HAL_ADC_ConfigChannel(&hadc1, &channel) != HAL_OK) Error_Handler();
}

void MX_RTC_Init(void) {
  hrtc.Instance = RTC;
  hrtc.Init.HourFormat = RTC_HOURFORMAT_24;
  hrtc.Init.AsynchPrediv = 127;
  hrtc.Init.SynchPrediv = 255;
  hrtc.Init.OutPut = RTC_OUTPUT_DISABLE;
  hrtc.Init.OutPutRemap = RTC_OUTPUT_REMAP_NONE;
  hrtc.Init.OutPutPolarity = RTC_OUTPUT_POLARITY_HIGH;
  hrtc.Init.OutPutType = RTC_OUTPUT_TYPE_OPENDRAIN;
  hrtc.Init.OutPutPullUp = RTC_OUTPUT_PULLUP_NONE;
  if (HAL_RTC_Init(&hrtc) != HAL_OK) Error_Handler();
}

// The radio bus: master, mode 0, 8-bit, MSB first, 125 kHz at 4 MHz; the radio's chip select
// is driven by hand.
void MX_SPI1_Init(void) {
  hspi1.Instance = SPI1;
  hspi1.Init.Mode = SPI_MODE_MASTER;
  hspi1.Init.Direction = SPI_DIRECTION_2LINES;
  hspi1.Init.DataSize = SPI_DATASIZE_8BIT;
  hspi1.Init.CLKPolarity = SPI_POLARITY_LOW;
  hspi1.Init.CLKPhase = SPI_PHASE_1EDGE;
  hspi1.Init.NSS = SPI_NSS_SOFT;
  hspi1.Init.BaudRatePrescaler = SPI_BAUDRATEPRESCALER_32;
  hspi1.Init.FirstBit = SPI_FIRSTBIT_MSB;
  hspi1.Init.TIMode = SPI_TIMODE_DISABLE;
  hspi1.Init.CRCCalculation = SPI_CRCCALCULATION_DISABLE;
  hspi1.Init.CRCPolynomial = 7;
  hspi1.Init.CRCLength = SPI_CRC_LENGTH_DATASIZE;
  hspi1.Init.NSSPMode = SPI_NSS_PULSE_ENABLE;
  if (HAL_SPI_Init(&hspi1) != HAL_OK) Error_Handler();
}

void MX_TIM6_Init(void) {
  htim6.Instance = TIM6;
  htim6.Init.Prescaler = 0;
  htim6.Init.CounterMode = TIM_COUNTERMODE_UP;
  htim6.Init.Period = 65535;
  htim6.Init.AutoReloadPreload = TIM_AUTORELOAD_PRELOAD_DISABLE;
  if (HAL_TIM_Base_Init(&htim6) != HAL_OK) Error_Handler();
  TIM_MasterConfigTypeDef master{};
  master.MasterOutputTrigger = TIM_TRGO_RESET;
  master.MasterSlaveMode = TIM_MASTERSLAVEMODE_DISABLE;
  if (HAL_TIMEx_MasterConfigSynchronization(&htim6, &master) != HAL_OK) Error_Handler();
}

void MX_USART1_UART_Init(void) {
  huart1.Instance = USART1;
  huart1.Init.BaudRate = 115200;
  huart1.Init.WordLength = UART_WORDLENGTH_8B;
  huart1.Init.StopBits = UART_STOPBITS_1;
  huart1.Init.Parity = UART_PARITY_NONE;
  huart1.Init.Mode = UART_MODE_TX_RX;
  huart1.Init.HwFlowCtl = UART_HWCONTROL_NONE;
  huart1.Init.OverSampling = UART_OVERSAMPLING_16;
  huart1.Init.OneBitSampling = UART_ONE_BIT_SAMPLE_DISABLE;
  huart1.Init.ClockPrescaler = UART_PRESCALER_DIV1;
  huart1.AdvancedInit.AdvFeatureInit = UART_ADVFEATURE_NO_INIT;
  if (HAL_UART_Init(&huart1) != HAL_OK) Error_Handler();
  if (HAL_UARTEx_SetTxFifoThreshold(&huart1, UART_TXFIFO_THRESHOLD_1_8) != HAL_OK) Error_Handler();
  if (HAL_UARTEx_SetRxFifoThreshold(&huart1, UART_RXFIFO_THRESHOLD_1_8) != HAL_OK) Error_Handler();
  if (HAL_UARTEx_DisableFifoMode(&huart1) != HAL_OK) Error_Handler();
}

void Error_Handler(void) {
  __disable_irq();
  standBy(5);
  // Standby could not be entered (no RTC to wake the board, or an interrupt pending): restart now
  // rather than hang with interrupts off.
  NVIC_SystemReset();
  for (;;) {
  }
}
