// USART in asynchronous mode on the registers: set-up, blocking transmission, and reception to idle
// line through a DMA channel, whose events (half buffer, full buffer, idle line, line errors) the
// interrupt code reports to the common part.
#include "hal_backend.h"
#include "hal_backend_ops.h"

namespace {

constexpr uint32_t kEnableAckTimeoutMs = 10;
constexpr uint32_t kRxErrorFlags = USART_ISR_PE | USART_ISR_FE | USART_ISR_NE | USART_ISR_ORE;
constexpr uint32_t kRxErrorClears = USART_ICR_PECF | USART_ICR_FECF | USART_ICR_NECF | USART_ICR_ORECF;
constexpr uint16_t kPrescalerDivider[12] = {1, 2, 4, 6, 8, 10, 12, 16, 32, 64, 128, 256};

uint32_t kernelClockHz(const USART_TypeDef* usart) {
  if (usart != USART1) return HAL_RCC_GetPCLK1Freq();  // USART2..4 run on PCLK
  switch ((RCC->CCIPR & RCC_CCIPR_USART1SEL) >> RCC_CCIPR_USART1SEL_Pos) {
    case RCC_CCIPR_USART1SEL_SYSCLK: return HAL_RCC_GetSysClockFreq();
    case RCC_CCIPR_USART1SEL_HSI16: return HSI16_VALUE;
    case RCC_CCIPR_USART1SEL_LSE: return LSE_VALUE;
    default: return HAL_RCC_GetPCLK1Freq();
  }
}

// USART_BRR for the handle's baud rate, rounded to the nearest divider; 0 when out of range.
uint32_t baudRateRegister(const UART_HandleTypeDef& huart) {
  const uint32_t presc = huart.Init.ClockPrescaler;
  const uint32_t baud = huart.Init.BaudRate;
  if (presc >= sizeof(kPrescalerDivider) / sizeof(kPrescalerDivider[0]) || baud == 0U) return 0U;
  const uint32_t clock = kernelClockHz(huart.Instance) / kPrescalerDivider[presc];
  if ((huart.Init.OverSampling & USART_CR1_OVER8) != 0U) {
    const uint32_t div = (2U * clock + baud / 2U) / baud;
    if (div < 16U || div > 0xFFFFU) return 0U;
    return (div & 0xFFF0U) | ((div & 0xFU) >> 1U);
  }
  const uint32_t div = (clock + baud / 2U) / baud;
  return (div < 16U || div > 0xFFFFU) ? 0U : div;
}

}  // namespace

void halUartStopReception(UART_HandleTypeDef* huart) {
  USART_TypeDef* usart = huart->Instance;
  regClear(usart->CR1, USART_CR1_IDLEIE | USART_CR1_RXNEIE | USART_CR1_PEIE);
  regClear(usart->CR3, USART_CR3_EIE | USART_CR3_DMAR);
  if (huart->hdmarx != nullptr) (void)HAL_DMA_Abort(huart->hdmarx);
}

// Frame format, direction, oversampling and baud rate, with the USART disabled meanwhile.
HAL_StatusTypeDef halUartConfigure(UART_HandleTypeDef* huart) {
  USART_TypeDef* usart = huart->Instance;
  regClear(usart->CR1, USART_CR1_UE);

  const uint32_t brr = baudRateRegister(*huart);
  if (brr == 0U) return HAL_ERROR;
  const uint32_t frame = USART_CR1_M | USART_CR1_PCE | USART_CR1_PS | USART_CR1_TE | USART_CR1_RE | USART_CR1_OVER8;
  regModify(usart->CR1, frame,
            (huart->Init.WordLength | huart->Init.Parity | huart->Init.Mode | huart->Init.OverSampling) & frame);
  regModify(usart->CR2, USART_CR2_STOP, huart->Init.StopBits & USART_CR2_STOP);
  regModify(
      usart->CR3, USART_CR3_RTSE | USART_CR3_CTSE | USART_CR3_ONEBIT,
      (huart->Init.HwFlowCtl | huart->Init.OneBitSampling) & (USART_CR3_RTSE | USART_CR3_CTSE | USART_CR3_ONEBIT));
  usart->PRESC = huart->Init.ClockPrescaler & USART_PRESC_PRESCALER;
  usart->BRR = brr;
  // Plain asynchronous mode: no LIN, clock output, smartcard, half duplex or IrDA.
  regClear(usart->CR2, USART_CR2_LINEN | USART_CR2_CLKEN);
  regClear(usart->CR3, USART_CR3_SCEN | USART_CR3_HDSEL | USART_CR3_IREN);
  regSet(usart->CR1, USART_CR1_UE);

  // The transmitter and receiver acknowledge their enable.
  const uint32_t acks = ((huart->Init.Mode & UART_MODE_TX) != 0U ? USART_ISR_TEACK : 0U) |
                        ((huart->Init.Mode & UART_MODE_RX) != 0U ? USART_ISR_REACK : 0U);
  return regWait(usart->ISR, acks, acks, kEnableAckTimeoutMs);
}

void halUartShutDown(UART_HandleTypeDef* huart) {
  halUartStopReception(huart);
  USART_TypeDef* usart = huart->Instance;
  regClear(usart->CR1, USART_CR1_UE);
  usart->CR1 = 0U;
  usart->CR2 = 0U;
  usart->CR3 = 0U;
}

// FIFO and CR3 fields need UE = 0: the change runs with the USART disabled, then CR1 is restored.
void halUartChangeFifo(UART_HandleTypeDef* huart, HalUartFifo change, uint32_t threshold) {
  USART_TypeDef* usart = huart->Instance;
  const uint32_t cr1 = usart->CR1;
  regClear(usart->CR1, USART_CR1_UE);
  switch (change) {
    case HalUartFifo::kTxThreshold: regModify(usart->CR3, USART_CR3_TXFTCFG, threshold & USART_CR3_TXFTCFG); break;
    case HalUartFifo::kRxThreshold: regModify(usart->CR3, USART_CR3_RXFTCFG, threshold & USART_CR3_RXFTCFG); break;
    case HalUartFifo::kDisable: regClear(usart->CR1, USART_CR1_FIFOEN); break;
  }
  usart->CR1 = (usart->CR1 & USART_CR1_FIFOEN) | (cr1 & ~USART_CR1_FIFOEN);
}

// Each byte waits for room in the transmit data register, then the last one for the end of
// transmission.
HAL_StatusTypeDef halUartSend(UART_HandleTypeDef* huart, const uint8_t* data, uint16_t size, uint32_t timeoutMs) {
  USART_TypeDef* usart = huart->Instance;
  PollDeadline deadline(timeoutMs);
  for (uint16_t i = 0; i < size; ++i) {
    while ((usart->ISR & USART_ISR_TXE) == 0U) {
      if (deadline.expired()) return HAL_TIMEOUT;
    }
    usart->TDR = data[i];
  }
  while ((usart->ISR & USART_ISR_TC) == 0U) {
    if (deadline.expired()) return HAL_TIMEOUT;
  }
  return HAL_OK;
}

// The DMA channel writes the buffer, the USART raises IDLE and line errors; half and full buffer
// come from the DMA channel.
HAL_StatusTypeDef halUartStartReceiveToIdle(UART_HandleTypeDef* huart, uint8_t* data, uint16_t size) {
  DMA_HandleTypeDef* hdma = huart->hdmarx;
  USART_TypeDef* usart = huart->Instance;
  halUartHookReceptionDma(hdma);
  if (HAL_DMA_Start_IT(hdma, reinterpret_cast<uint32_t>(&usart->RDR), reinterpret_cast<uint32_t>(data), size) !=
      HAL_OK) {
    return HAL_ERROR;
  }
  // An idle line from before this reception is not its own. A byte already waiting in RDR is, and
  // the DMA takes it as soon as the request is enabled; so is an error flagged while nothing was
  // receiving (an overrun while the reception waited to be restarted): the error interrupt reports
  // it as soon as EIE is set.
  usart->ICR = USART_ICR_IDLECF;
  if ((usart->CR1 & USART_CR1_PCE) != 0U) regSet(usart->CR1, USART_CR1_PEIE);
  regSet(usart->CR3, USART_CR3_EIE | USART_CR3_DMAR);
  regSet(usart->CR1, USART_CR1_IDLEIE);
  return HAL_OK;
}

void halUartStopReceive(UART_HandleTypeDef* huart) {
  halUartStopReception(huart);
  huart->Instance->ICR = kRxErrorClears | USART_ICR_IDLECF;
}

extern "C" {

// USART interrupt: line errors first (they end the reception), then the idle line.
void HAL_UART_IRQHandler(UART_HandleTypeDef* huart) {
  if (huart == nullptr || huart->Instance == nullptr) return;
  USART_TypeDef* usart = huart->Instance;
  const uint32_t isr = usart->ISR;
  const uint32_t cr1 = usart->CR1;
  const uint32_t cr3 = usart->CR3;

  const uint32_t errors = isr & kRxErrorFlags;
  if (errors != 0U && ((cr3 & USART_CR3_EIE) != 0U || (cr1 & USART_CR1_PEIE) != 0U)) {
    usart->ICR = kRxErrorClears;
    uint32_t code = 0U;
    if ((errors & USART_ISR_PE) != 0U) code |= HAL_UART_ERROR_PE;
    if ((errors & USART_ISR_FE) != 0U) code |= HAL_UART_ERROR_FE;
    if ((errors & USART_ISR_NE) != 0U) code |= HAL_UART_ERROR_NE;
    if ((errors & USART_ISR_ORE) != 0U) code |= HAL_UART_ERROR_ORE;
    if (huart->RxState == HAL_UART_STATE_BUSY_RX) {
      halUartReceptionError(huart, code);
    } else {
      huart->ErrorCode = huart->ErrorCode | code;
      regClear(usart->CR3, USART_CR3_EIE);  // nothing is receiving: no one to tell
    }
    return;
  }

  if ((isr & USART_ISR_IDLE) != 0U && (cr1 & USART_CR1_IDLEIE) != 0U) {
    usart->ICR = USART_ICR_IDLECF;
    if (huart->RxState != HAL_UART_STATE_BUSY_RX || huart->ReceptionType != HAL_UART_RECEPTION_TOIDLE) return;
    // Requests off first, so no byte can land in the buffer after it has been counted.
    regClear(usart->CR3, USART_CR3_DMAR);
    const uint32_t remaining = huart->hdmarx != nullptr ? HAL_DMA_GetCounter(huart->hdmarx) : 0U;
    // Nothing received yet: keep listening. Buffer full: the DMA transfer-complete ends it.
    if (remaining == 0U || remaining >= huart->RxXferSize) {
      regSet(usart->CR3, USART_CR3_DMAR);
      return;
    }
    halUartStopReception(huart);
    huart->RxXferCount = static_cast<uint16_t>(remaining);
    halUartReceptionEvent(huart, HAL_UART_RXEVENT_IDLE, static_cast<uint16_t>(huart->RxXferSize - remaining));
  }
}

}  // extern "C"
