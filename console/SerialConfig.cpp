// Console receive path. The interrupt side only copies bytes and sets flags; every message is
// printed from the main loop.
#include "SerialConfig.h"

#include "Debug.h"
#include "MCUState.h"
#include "stm32g0xx_hal.h"

namespace {

uint8_t rxDmaBuf[kRxDmaChunkBytes];
uint16_t rxDmaPrevPos = 0;
uint8_t rxRing[kRxRingSize];
volatile uint16_t rxRingHead = 0;
volatile uint16_t rxRingTail = 0;
volatile bool rxRingOverflow = false;
volatile bool rxDmaStartError = false;
bool rxDmaStartErrorReported = false;
volatile uint32_t rxUartErrorCode = 0;
uint32_t rxDmaRetryTick = 0;
bool rxDmaRetryTickValid = false;
char lineBuf[kLineMax];
uint32_t lineLen = 0;
bool discardingUntilEol = false;

bool ringPushByte(uint8_t byte) {
  const uint16_t head = rxRingHead;
  const uint16_t next = static_cast<uint16_t>((head + 1u) % kRxRingSize);
  if (next == rxRingTail) return false;
  rxRing[head] = byte;
  rxRingHead = next;
  return true;
}

bool ringPopByte(uint8_t& byte) {
  const uint16_t tail = rxRingTail;
  if (tail == rxRingHead) return false;
  byte = rxRing[tail];
  rxRingTail = static_cast<uint16_t>((tail + 1u) % kRxRingSize);
  return true;
}

void startRxDmaToIdle() {
  UART_HandleTypeDef* uart = mcustate().hlpuart1;
  if (uart == nullptr) return;
  if (HAL_UARTEx_ReceiveToIdle_DMA(uart, rxDmaBuf, kRxDmaChunkBytes) == HAL_OK) {
    rxDmaStartError = false;
    rxDmaStartErrorReported = false;
  } else {
    rxDmaStartError = true;
  }
}

void assembleByte(uint8_t byte) {
  if (byte == 0x00) return;
  if (byte == '\r' || byte == '\n') {
    if (discardingUntilEol) {
      discardingUntilEol = false;
      lineLen = 0;
      return;
    }
    if (lineLen == 0) return;
    lineBuf[lineLen] = '\0';
    lineLen = 0;
    serialHandleLine(lineBuf);
    return;
  }
  if (discardingUntilEol) return;
  if (lineLen >= kLineMax - 1) {
    discardingUntilEol = true;
    lineLen = 0;
    print("err: line too long");
    return;
  }
  lineBuf[lineLen++] = static_cast<char>(byte);
}

// Input was lost at this point: the line it cut is dropped up to its end, so no command is ever
// made of the pieces before and after a gap.
void dropLineAtLoss() {
  lineLen = 0;
  discardingUntilEol = true;
}

}  // namespace

extern "C" void HAL_UARTEx_RxEventCallback(UART_HandleTypeDef* huart, uint16_t size) {
  const HAL_UART_RxEventTypeTypeDef type = HAL_UARTEx_GetRxEventType(huart);
  if (size > kRxDmaChunkBytes) size = kRxDmaChunkBytes;
  uint16_t start = rxDmaPrevPos;
  if (size < start) start = 0;
  for (uint16_t i = start; i < size; ++i) {
    // After a loss nothing more goes in until the main loop has read up to it: the gap stays at the
    // ring's end, where the line it cut is dropped, and never joins two pieces of input.
    if (rxRingOverflow || !ringPushByte(rxDmaBuf[i])) {
      rxRingOverflow = true;
      break;
    }
  }
  rxDmaPrevPos = size;
  if (type == HAL_UART_RXEVENT_IDLE || type == HAL_UART_RXEVENT_TC) {
    rxDmaPrevPos = 0;
    startRxDmaToIdle();
  }
}

extern "C" void HAL_UART_ErrorCallback(UART_HandleTypeDef* huart) {
  if (huart != mcustate().hlpuart1) return;
  rxUartErrorCode = huart->ErrorCode;
  rxDmaPrevPos = 0;
  startRxDmaToIdle();
}

void serialConfigInit() {
  lineLen = 0;
  discardingUntilEol = false;
  rxRingHead = 0;
  rxRingTail = 0;
  rxRingOverflow = false;
  rxDmaStartError = false;
  rxDmaPrevPos = 0;
  startRxDmaToIdle();
}

bool serialRxIdle() { return rxRingHead == rxRingTail; }

void serialConfigPoll() {
  if (rxDmaStartError && !rxDmaStartErrorReported) {
    rxDmaStartErrorReported = true;
    print("err: uart rx dma start failed (retrying)");
  }
  if (rxUartErrorCode != 0) {
    const uint32_t code = rxUartErrorCode;
    rxUartErrorCode = 0;
    dropLineAtLoss();
    rxRingTail = rxRingHead;
    printV2("err: uart rx error 0x%02lX (re-armed)", static_cast<unsigned long>(code));
  }
  UART_HandleTypeDef* uart = mcustate().hlpuart1;
  if (uart != nullptr && uart->RxState != HAL_UART_STATE_BUSY_RX) {
    const uint32_t now = HAL_GetTick();
    if (!rxDmaRetryTickValid || now - rxDmaRetryTick >= kRxDmaRetryIntervalMs) {
      rxDmaRetryTick = now;
      rxDmaRetryTickValid = true;
      rxDmaPrevPos = 0;
      startRxDmaToIdle();
    }
  }
  uint8_t byte = 0;
  while (ringPopByte(byte)) assembleByte(byte);
  // Everything before the gap has been read (the ring takes nothing while the flag is set).
  if (rxRingOverflow && serialRxIdle()) {
    dropLineAtLoss();
    rxRingOverflow = false;
    print("err: rx overflow");
  }
}
