// Console receive path. The interrupt side only copies bytes and sets flags; every message is
// printed from the main loop.
#include "SerialConfig.h"

#include "Debug.h"
#include "MCUState.h"
#include "stm32g0xx_hal.h"

namespace {

// Receptions alternate between two buffers, so that the next one can start before the last one's
// bytes are copied: at 4 MHz the copy takes longer than two bytes on the line, and the USART would
// overrun while reception waited for it.
uint8_t rxDmaBuf[2][kRxDmaChunkBytes];
uint8_t rxDmaBufInUse = 0;
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
  rxDmaBufInUse ^= 1u;
  if (HAL_UARTEx_ReceiveToIdle_DMA(uart, rxDmaBuf[rxDmaBufInUse], kRxDmaChunkBytes) == HAL_OK) {
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

// Input was lost (the ring was full, or the UART reported an error and reception restarted). Until
// the main loop has read everything before the gap, the ring takes nothing more: the gap stays at
// the ring's end, where the line it cut is dropped, so no command is ever made of the pieces
// before and after it.
bool lossPending() { return rxRingOverflow || rxUartErrorCode != 0; }

}  // namespace

extern "C" void HAL_UARTEx_RxEventCallback(UART_HandleTypeDef* huart, uint16_t size) {
  const HAL_UART_RxEventTypeTypeDef type = HAL_UARTEx_GetRxEventType(huart);
  const uint8_t* chunk = rxDmaBuf[rxDmaBufInUse];
  if (size > kRxDmaChunkBytes) size = kRxDmaChunkBytes;
  uint16_t start = rxDmaPrevPos;
  if (size < start) start = 0;
  rxDmaPrevPos = size;
  if (type == HAL_UART_RXEVENT_IDLE || type == HAL_UART_RXEVENT_TC) {
    rxDmaPrevPos = 0;
    startRxDmaToIdle();  // into the other buffer
  }
  for (uint16_t i = start; i < size; ++i) {
    if (lossPending()) break;
    if (!ringPushByte(chunk[i])) {
      rxRingOverflow = true;
      break;
    }
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
  // Flags first, then the ring: with a loss pending the ring stays empty, the gap is here.
  const bool overflow = rxRingOverflow;
  const uint32_t code = rxUartErrorCode;
  if ((overflow || code != 0) && serialRxIdle()) {
    lineLen = 0;
    discardingUntilEol = true;  // the rest of the cut line, up to its end
    if (overflow) {
      rxRingOverflow = false;
      print("err: rx overflow");
    }
    if (code != 0) {
      rxUartErrorCode = 0;
      printV2("err: uart rx error 0x%02lX (re-armed)", static_cast<unsigned long>(code));
    }
  }
}
