// UART in asynchronous mode, as the console uses it: set-up, blocking transmission, and reception
// to idle line through a DMA channel. The handle's states and the events that end a reception are
// kept here; the backend moves the bytes.
#include "hal_backend_ops.h"

namespace {

HAL_StatusTypeDef changeFifo(UART_HandleTypeDef* huart, HalUartFifo change, uint32_t threshold) {
  if (huart == nullptr || huart->Instance == nullptr) return HAL_ERROR;
  if (huart->gState != HAL_UART_STATE_READY) return HAL_BUSY;
  huart->gState = HAL_UART_STATE_BUSY;
  halUartChangeFifo(huart, change, threshold);
  huart->gState = HAL_UART_STATE_READY;
  return HAL_OK;
}

// A reception that has ended, by an event or an error.
void endReception(UART_HandleTypeDef* huart) {
  huart->RxState = HAL_UART_STATE_READY;
  huart->ReceptionType = HAL_UART_RECEPTION_STANDARD;
}

// The reception a DMA event belongs to; null when none is running.
UART_HandleTypeDef* receptionOf(DMA_HandleTypeDef* hdma) {
  auto* huart = static_cast<UART_HandleTypeDef*>(hdma->Parent);
  return huart != nullptr && huart->RxState == HAL_UART_STATE_BUSY_RX ? huart : nullptr;
}

void rxDmaHalfComplete(DMA_HandleTypeDef* hdma) {
  if (UART_HandleTypeDef* huart = receptionOf(hdma)) {
    halUartReceptionEvent(huart, HAL_UART_RXEVENT_HT, static_cast<uint16_t>(huart->RxXferSize / 2U));
  }
}

void rxDmaComplete(DMA_HandleTypeDef* hdma) {
  if (UART_HandleTypeDef* huart = receptionOf(hdma)) {
    halUartStopReception(huart);
    huart->RxXferCount = 0U;
    halUartReceptionEvent(huart, HAL_UART_RXEVENT_TC, huart->RxXferSize);
  }
}

void rxDmaError(DMA_HandleTypeDef* hdma) {
  if (UART_HandleTypeDef* huart = receptionOf(hdma)) {
    halUartReceptionError(huart, HAL_UART_ERROR_DMA);
  }
}

}  // namespace

void halUartHookReceptionDma(DMA_HandleTypeDef* hdma) {
  hdma->XferHalfCpltCallback = rxDmaHalfComplete;
  hdma->XferCpltCallback = rxDmaComplete;
  hdma->XferErrorCallback = rxDmaError;
  hdma->XferAbortCallback = nullptr;
}

void halUartReceptionEvent(UART_HandleTypeDef* huart, HAL_UART_RxEventTypeTypeDef type, uint16_t count) {
  if (type != HAL_UART_RXEVENT_HT) endReception(huart);
  huart->RxEventType = type;
  HAL_UARTEx_RxEventCallback(huart, count);
}

// Not inlined: the DMA error and the line errors share one copy in the image.
[[gnu::noinline]] void halUartReceptionError(UART_HandleTypeDef* huart, uint32_t code) {
  halUartStopReception(huart);
  huart->ErrorCode = huart->ErrorCode | code;
  endReception(huart);
  HAL_UART_ErrorCallback(huart);
}

extern "C" {

// Frame format, direction, oversampling, baud rate; FIFO settings are kept (the FIFO functions
// below change them). Settings the USART cannot take leave the handle as it was before its first
// set-up; a missing acknowledge leaves it READY, so that a retry can follow.
HAL_StatusTypeDef HAL_UART_Init(UART_HandleTypeDef* huart) {
  halCallBegins();
  if (huart == nullptr || huart->Instance == nullptr) return HAL_ERROR;
  if (huart->gState == HAL_UART_STATE_RESET) {
    huart->Lock = HAL_UNLOCKED;
    HAL_UART_MspInit(huart);  // clocks, pins, DMA
  }
  huart->gState = HAL_UART_STATE_BUSY;
  const HAL_StatusTypeDef status = halUartConfigure(huart);
  if (status == HAL_ERROR) {
    huart->gState = HAL_UART_STATE_RESET;
    return HAL_ERROR;
  }
  if (status != HAL_OK) {
    huart->gState = HAL_UART_STATE_READY;
    return status;
  }
  huart->ErrorCode = HAL_UART_ERROR_NONE;
  huart->ReceptionType = HAL_UART_RECEPTION_STANDARD;
  huart->gState = HAL_UART_STATE_READY;
  huart->RxState = HAL_UART_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_UART_DeInit(UART_HandleTypeDef* huart) {
  if (huart == nullptr || huart->Instance == nullptr) return HAL_ERROR;
  huart->gState = HAL_UART_STATE_BUSY;
  halUartShutDown(huart);
  HAL_UART_MspDeInit(huart);
  huart->ErrorCode = HAL_UART_ERROR_NONE;
  huart->ReceptionType = HAL_UART_RECEPTION_STANDARD;
  huart->gState = HAL_UART_STATE_RESET;
  huart->RxState = HAL_UART_STATE_RESET;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_UARTEx_SetTxFifoThreshold(UART_HandleTypeDef* huart, uint32_t threshold) {
  return changeFifo(huart, HalUartFifo::kTxThreshold, threshold);
}

HAL_StatusTypeDef HAL_UARTEx_SetRxFifoThreshold(UART_HandleTypeDef* huart, uint32_t threshold) {
  return changeFifo(huart, HalUartFifo::kRxThreshold, threshold);
}

HAL_StatusTypeDef HAL_UARTEx_DisableFifoMode(UART_HandleTypeDef* huart) {
  return changeFifo(huart, HalUartFifo::kDisable, 0U);
}

// Blocking; timeoutMs bounds the whole call (HAL_MAX_DELAY: no bound).
HAL_StatusTypeDef HAL_UART_Transmit(UART_HandleTypeDef* huart, const uint8_t* data, uint16_t size, uint32_t timeoutMs) {
  halCallBegins();
  if (huart == nullptr || data == nullptr || size == 0U) return HAL_ERROR;
  if (huart->gState != HAL_UART_STATE_READY) return HAL_BUSY;
  huart->gState = HAL_UART_STATE_BUSY_TX;
  const HAL_StatusTypeDef status = halUartSend(huart, data, size, timeoutMs);
  huart->gState = HAL_UART_STATE_READY;
  return status;
}

// Receives into data until the buffer is full or the line goes idle after at least one byte. Each
// event reaches HAL_UARTEx_RxEventCallback with the number of bytes in the buffer; half buffer lets
// the reception go on, idle and full end it, a line error ends it through HAL_UART_ErrorCallback.
HAL_StatusTypeDef HAL_UARTEx_ReceiveToIdle_DMA(UART_HandleTypeDef* huart, uint8_t* data, uint16_t size) {
  halCallBegins();
  if (huart == nullptr || data == nullptr || size == 0U) return HAL_ERROR;
  if (huart->RxState != HAL_UART_STATE_READY) return HAL_BUSY;
  if (huart->hdmarx == nullptr) return HAL_ERROR;
  huart->pRxBuffPtr = data;
  huart->RxXferSize = size;
  huart->RxXferCount = size;
  huart->ErrorCode = HAL_UART_ERROR_NONE;
  huart->ReceptionType = HAL_UART_RECEPTION_TOIDLE;
  huart->RxEventType = HAL_UART_RXEVENT_TC;
  huart->RxState = HAL_UART_STATE_BUSY_RX;
  if (halUartStartReceiveToIdle(huart, data, size) != HAL_OK) {
    huart->ErrorCode = HAL_UART_ERROR_DMA;
    endReception(huart);
    return HAL_ERROR;
  }
  return HAL_OK;
}

HAL_UART_RxEventTypeTypeDef HAL_UARTEx_GetRxEventType(const UART_HandleTypeDef* huart) { return huart->RxEventType; }

// Stops a reception without a callback.
HAL_StatusTypeDef HAL_UART_AbortReceive(UART_HandleTypeDef* huart) {
  if (huart == nullptr || huart->Instance == nullptr) return HAL_ERROR;
  halUartStopReceive(huart);
  huart->RxXferCount = 0U;
  endReception(huart);
  return HAL_OK;
}

}  // extern "C"
