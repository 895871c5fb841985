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
// Where input went missing: the ring index the reader reports the loss at (while one is pending).
volatile uint16_t rxGapAt = 0;
// A second loss before the reader reached the first: the ring takes nothing more until it does.
volatile bool rxRingStopped = false;
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

// Input went missing (the ring was full, or the UART reported an error and reception restarted).
// The ring goes on taking bytes; the reader reports the loss when it reaches the point, drops the
// line being assembled there and the rest of it up to its end, so no command is ever made of the
// pieces before and after a gap.
bool lossPending() { return rxRingOverflow || rxUartErrorCode != 0; }

// Interrupt side, before the loss's flag is set.
void markLoss() {
  if (lossPending()) {
    rxRingStopped = true;  // this second gap is then at the ring's end
  } else {
    rxGapAt = rxRingHead;
  }
}

// Main loop, at the gap: each loss reported once.
void reportLoss() {
  const bool overflow = rxRingOverflow;
  const uint32_t code = rxUartErrorCode;
  rxRingOverflow = false;
  rxUartErrorCode = 0;
  // A second gap lies ahead at the ring's end: what lies between the two goes too.
  if (rxRingStopped) {
    rxRingTail = rxRingHead;
    rxRingStopped = false;
  }
  lineLen = 0;
  discardingUntilEol = true;
  if (overflow) print("err: rx overflow");
  if (code != 0) printV2("err: uart rx error 0x%02lX (re-armed)", static_cast<unsigned long>(code));
}

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
    if (rxRingStopped) break;
    if (!ringPushByte(chunk[i])) {
      markLoss();
      rxRingOverflow = true;
      break;
    }
  }
}

extern "C" void HAL_UART_ErrorCallback(UART_HandleTypeDef* huart) {
  if (huart != mcustate().hlpuart1) return;
  if (huart->ErrorCode != 0) {
    markLoss();
    rxUartErrorCode = huart->ErrorCode;
  }
  rxDmaPrevPos = 0;
  startRxDmaToIdle();
}

void serialConfigInit() {
  lineLen = 0;
  discardingUntilEol = false;
  rxRingHead = 0;
  rxRingTail = 0;
  rxRingOverflow = false;
  rxRingStopped = false;
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
  for (;;) {
    // The flags first, then the position: a loss marked after the check lies ahead of the reader
    // (one marked while a report printed may lie right here).
    while (lossPending() && rxRingTail == rxGapAt) reportLoss();
    if (!ringPopByte(byte)) return;
    assembleByte(byte);
  }
}
