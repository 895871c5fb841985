// Console UART of the simulated board: the UART model receives in virtual time and hands its bytes
// to the DMA channel of the reception, as the chip does; the console writes what is sent.
#include "board.h"
#include "console.h"
#include "hal_backend_ops.h"
#include "hal_dma_channel.h"
#include "uart_model.h"

namespace {

sim::Uart& model() { return sim::board().uart1(); }

}  // namespace

void halUartStopReception(UART_HandleTypeDef* huart) {
  model().setInterrupts(false, false, false);
  model().setDmaRequests(false);
  if (huart->hdmarx != nullptr) simDmaAbort(huart->hdmarx);
}

HAL_StatusTypeDef halUartConfigure(UART_HandleTypeDef* huart) {
  model().setReceiverEnabled((huart->Init.Mode & UART_MODE_RX) != 0U);
  return HAL_OK;
}

void halUartShutDown(UART_HandleTypeDef* huart) {
  halUartStopReception(huart);
  model().setReceiverEnabled(false);
}

// The model has no FIFO: its settings change nothing.
void halUartChangeFifo(UART_HandleTypeDef*, HalUartFifo, uint32_t) {}

// The wire takes its time; a timeout cuts the transmission where the wire had got to.
HAL_StatusTypeDef halUartSend(UART_HandleTypeDef*, const uint8_t* data, uint16_t size, uint32_t timeoutMs) {
  uint16_t fits = size;
  HAL_StatusTypeDef status = HAL_OK;
  if (timeoutMs != HAL_MAX_DELAY) {
    const uint64_t budgetUs = static_cast<uint64_t>(timeoutMs) * 1000u;
    while (fits > 0 && sim::Uart::txTimeUs(fits) > budgetUs) --fits;
    if (fits < size) status = HAL_TIMEOUT;
  }
  sim::board().console().write(data, fits);
  sim::board().busyWait(status == HAL_OK ? sim::Uart::txTimeUs(fits) : static_cast<uint64_t>(timeoutMs) * 1000u);
  return status;
}

HAL_StatusTypeDef halUartStartReceiveToIdle(UART_HandleTypeDef* huart, uint8_t* data, uint16_t size) {
  DMA_HandleTypeDef* hdma = huart->hdmarx;
  halUartHookReceptionDma(hdma);
  if (simDmaStart(hdma, reinterpret_cast<uintptr_t>(data), size) != HAL_OK) return HAL_ERROR;
  // An idle line from before this reception is not its own. An error flagged while nothing was
  // receiving (an overrun while the reception waited to be restarted) is: bytes were lost, and the
  // error interrupt reports it as soon as it is enabled.
  model().clearStatus(sim::Uart::kIdle);
  model().setInterrupts(false, true, true);
  model().setDmaRequests(true);
  return HAL_OK;
}

void halUartStopReceive(UART_HandleTypeDef* huart) {
  halUartStopReception(huart);
  model().clearStatus(sim::Uart::kErrors | sim::Uart::kIdle);
}

extern "C" {

// USART interrupt: line errors first (they end the reception), then the idle line.
void HAL_UART_IRQHandler(UART_HandleTypeDef* huart) {
  if (huart == nullptr) return;
  sim::Uart& uart = model();
  const uint32_t errors = uart.status() & sim::Uart::kErrors;
  if (errors != 0U) {
    uart.clearStatus(sim::Uart::kErrors);
    uint32_t code = 0U;
    if ((errors & sim::Uart::kParityError) != 0U) code |= HAL_UART_ERROR_PE;
    if ((errors & sim::Uart::kFramingError) != 0U) code |= HAL_UART_ERROR_FE;
    if ((errors & sim::Uart::kNoise) != 0U) code |= HAL_UART_ERROR_NE;
    if ((errors & sim::Uart::kOverrun) != 0U) code |= HAL_UART_ERROR_ORE;
    if (huart->RxState == HAL_UART_STATE_BUSY_RX) {
      halUartReceptionError(huart, code);
    } else {
      huart->ErrorCode = huart->ErrorCode | code;
    }
    return;
  }
  if ((uart.status() & sim::Uart::kIdle) != 0U) {
    uart.clearStatus(sim::Uart::kIdle);
    if (huart->RxState != HAL_UART_STATE_BUSY_RX || huart->ReceptionType != HAL_UART_RECEPTION_TOIDLE) return;
    const uint32_t remaining = huart->hdmarx != nullptr ? simDmaRemaining(huart->hdmarx) : 0U;
    // Nothing received yet: keep listening. Buffer full: the DMA transfer-complete ends it.
    if (remaining == 0U || remaining >= huart->RxXferSize) return;
    halUartStopReception(huart);
    huart->RxXferCount = static_cast<uint16_t>(remaining);
    halUartReceptionEvent(huart, HAL_UART_RXEVENT_IDLE, static_cast<uint16_t>(huart->RxXferSize - remaining));
  }
}

}  // extern "C"
