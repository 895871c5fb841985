// Console UART and its receive DMA on the simulated board.
#include "board.h"
#include "console.h"
#include "stm32g0xx_hal.h"
#include "uart_model.h"

namespace {
UART_HandleTypeDef* gConsoleUart = nullptr;  // the handle whose reception runs on USART1

void finishReception(UART_HandleTypeDef* huart, HAL_UART_RxEventTypeTypeDef type, uint16_t size) {
  huart->RxEventType = type;
  if (type != HAL_UART_RXEVENT_HT) {
    huart->RxState = HAL_UART_STATE_READY;
    huart->ReceptionType = HAL_UART_RECEPTION_STANDARD;
    if (huart->hdmarx != nullptr) huart->hdmarx->State = HAL_DMA_STATE_READY;
  }
  HAL_UARTEx_RxEventCallback(huart, size);
}
}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_UART_Init(UART_HandleTypeDef* huart) {
  sim::board().halCall();
  if (huart == nullptr || huart->Instance == nullptr) return HAL_ERROR;
  if (huart->gState == HAL_UART_STATE_RESET) HAL_UART_MspInit(huart);
  huart->ErrorCode = HAL_UART_ERROR_NONE;
  huart->gState = HAL_UART_STATE_READY;
  huart->RxState = HAL_UART_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_UART_DeInit(UART_HandleTypeDef* huart) {
  if (huart == nullptr) return HAL_ERROR;
  HAL_UART_MspDeInit(huart);
  sim::board().uart1().stopReceive();
  huart->gState = HAL_UART_STATE_RESET;
  huart->RxState = HAL_UART_STATE_RESET;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_UARTEx_SetTxFifoThreshold(UART_HandleTypeDef* huart, uint32_t) {
  return huart ? HAL_OK : HAL_ERROR;
}
HAL_StatusTypeDef HAL_UARTEx_SetRxFifoThreshold(UART_HandleTypeDef* huart, uint32_t) {
  return huart ? HAL_OK : HAL_ERROR;
}
HAL_StatusTypeDef HAL_UARTEx_DisableFifoMode(UART_HandleTypeDef* huart) { return huart ? HAL_OK : HAL_ERROR; }

HAL_StatusTypeDef HAL_UART_Transmit(UART_HandleTypeDef* huart, const uint8_t* data, uint16_t size,
                                    uint32_t timeoutMs) {
  sim::board().halCall();
  if (huart == nullptr || data == nullptr || size == 0) return HAL_ERROR;
  if (huart->gState != HAL_UART_STATE_READY) return HAL_BUSY;
  huart->gState = HAL_UART_STATE_BUSY_TX;
  // The wire takes its time; a timeout cuts the transmission where the wire had got to.
  uint16_t fits = size;
  HAL_StatusTypeDef status = HAL_OK;
  if (timeoutMs != HAL_MAX_DELAY) {
    const uint64_t budgetUs = static_cast<uint64_t>(timeoutMs) * 1000u;
    while (fits > 0 && sim::Uart::txTimeUs(fits) > budgetUs) --fits;
    if (fits < size) status = HAL_TIMEOUT;
  }
  sim::board().console().write(data, fits);
  sim::board().busyWait(status == HAL_OK ? sim::Uart::txTimeUs(fits) : static_cast<uint64_t>(timeoutMs) * 1000u);
  huart->gState = HAL_UART_STATE_READY;
  return status;
}

HAL_StatusTypeDef HAL_UARTEx_ReceiveToIdle_DMA(UART_HandleTypeDef* huart, uint8_t* data, uint16_t size) {
  sim::board().halCall();
  if (huart == nullptr || data == nullptr || size == 0) return HAL_ERROR;
  if (huart->RxState != HAL_UART_STATE_READY) return HAL_BUSY;
  gConsoleUart = huart;
  huart->pRxBuffPtr = data;
  huart->RxXferSize = size;
  huart->RxXferCount = size;
  huart->ErrorCode = HAL_UART_ERROR_NONE;
  huart->ReceptionType = HAL_UART_RECEPTION_TOIDLE;
  huart->RxEventType = HAL_UART_RXEVENT_TC;
  huart->RxState = HAL_UART_STATE_BUSY_RX;
  if (huart->hdmarx != nullptr) huart->hdmarx->State = HAL_DMA_STATE_BUSY;
  sim::board().uart1().startReceive(data, size);
  return HAL_OK;
}

HAL_UART_RxEventTypeTypeDef HAL_UARTEx_GetRxEventType(const UART_HandleTypeDef* huart) {
  return huart->RxEventType;
}

HAL_StatusTypeDef HAL_UART_AbortReceive(UART_HandleTypeDef* huart) {
  if (huart == nullptr) return HAL_ERROR;
  sim::board().uart1().stopReceive();
  huart->RxState = HAL_UART_STATE_READY;
  huart->ReceptionType = HAL_UART_RECEPTION_STANDARD;
  return HAL_OK;
}

void HAL_UART_IRQHandler(UART_HandleTypeDef* huart) {
  if (huart == nullptr) return;
  sim::Uart& uart = sim::board().uart1();
  const uint32_t error = uart.takeError();
  if (error != 0) {
    huart->ErrorCode = huart->ErrorCode | error;
    huart->RxState = HAL_UART_STATE_READY;
    huart->ReceptionType = HAL_UART_RECEPTION_STANDARD;
    if (huart->hdmarx != nullptr) huart->hdmarx->State = HAL_DMA_STATE_READY;
    HAL_UART_ErrorCallback(huart);
    return;
  }
  if (uart.takeIdle() && huart->RxState == HAL_UART_STATE_BUSY_RX) {
    finishReception(huart, HAL_UART_RXEVENT_IDLE, uart.received());
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
  if (uart.takeHalf()) finishReception(huart, HAL_UART_RXEVENT_HT, static_cast<uint16_t>(huart->RxXferSize / 2));
  if (uart.takeFull()) finishReception(huart, HAL_UART_RXEVENT_TC, huart->RxXferSize);
}
