// Console UART and its receive DMA on the simulated board: the UART model receives in virtual
// time, the console writes what is sent.
#include "board.h"
#include "console.h"
#include "hal_backend_ops.h"
#include "uart_model.h"

namespace {

// An event of the running reception; one that ends it frees the DMA channel.
void receptionEvent(UART_HandleTypeDef* huart, HAL_UART_RxEventTypeTypeDef type, uint16_t count) {
  if (type != HAL_UART_RXEVENT_HT) huart->hdmarx->State = HAL_DMA_STATE_READY;
  halUartReceptionEvent(huart, type, count);
}

}  // namespace

HAL_StatusTypeDef halUartConfigure(UART_HandleTypeDef*) { return HAL_OK; }

void halUartShutDown(UART_HandleTypeDef*) { sim::board().uart1().stopReceive(); }

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
  huart->hdmarx->State = HAL_DMA_STATE_BUSY;
  sim::board().uart1().startReceive(data, size);
  return HAL_OK;
}

void halUartStopReceive(UART_HandleTypeDef*) { sim::board().uart1().stopReceive(); }

extern "C" {

void HAL_UART_IRQHandler(UART_HandleTypeDef* huart) {
  if (huart == nullptr) return;
  sim::Uart& uart = sim::board().uart1();
  const uint32_t error = uart.takeError();
  if (error != 0) {
    if (huart->hdmarx != nullptr) huart->hdmarx->State = HAL_DMA_STATE_READY;
    halUartReceptionError(huart, error);
    return;
  }
  if (uart.takeIdle() && huart->RxState == HAL_UART_STATE_BUSY_RX) {
    receptionEvent(huart, HAL_UART_RXEVENT_IDLE, uart.received());
  }
}

HAL_StatusTypeDef HAL_DMA_Init(DMA_HandleTypeDef* hdma) {
  sim::board().halCall();
  if (hdma == nullptr) return HAL_ERROR;
  hdma->State = HAL_DMA_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_DMA_DeInit(DMA_HandleTypeDef* hdma) {
  if (hdma == nullptr) return HAL_ERROR;
  hdma->State = HAL_DMA_STATE_RESET;
  return HAL_OK;
}

}  // extern "C"

// DMA interrupts: channel 2 carries the console reception; other channels are served by the
// code of their peripherals (registered through simDmaIrqHook).
void (*simDmaChannel1Hook)(DMA_HandleTypeDef*) = nullptr;

extern "C" void HAL_DMA_IRQHandler(DMA_HandleTypeDef* hdma) {
  if (hdma == nullptr) return;
  if (hdma->Instance == DMA1_Channel1) {
    if (simDmaChannel1Hook != nullptr) simDmaChannel1Hook(hdma);
    return;
  }
  if (hdma->Instance != DMA1_Channel2) return;
  auto* huart = static_cast<UART_HandleTypeDef*>(hdma->Parent);
  if (huart == nullptr || huart->RxState != HAL_UART_STATE_BUSY_RX) return;
  sim::Uart& uart = sim::board().uart1();
  if (uart.takeHalf()) receptionEvent(huart, HAL_UART_RXEVENT_HT, static_cast<uint16_t>(huart->RxXferSize / 2));
  if (uart.takeFull()) receptionEvent(huart, HAL_UART_RXEVENT_TC, huart->RxXferSize);
}
