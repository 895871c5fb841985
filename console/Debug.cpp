// Console output operations and their line-end rule.
#include "Debug.h"

#include <cstdio>
#include <cstring>

#include "MCUState.h"
#include "stm32g0xx_hal.h"
#include "uid.h"

namespace {
constexpr uint8_t crlf[2] = {'\r', '\n'};

void send(const uint8_t* data, uint16_t len) {
  UART_HandleTypeDef* uart = mcustate().hlpuart1;
  if (uart == nullptr || len == 0) return;
  (void)HAL_UART_Transmit(uart, data, len, kConsoleTxTimeoutMs);
}
}  // namespace

void printRaw(const char* text, int length) {
  if (length > 0 && text != nullptr) send(reinterpret_cast<const uint8_t*>(text), static_cast<uint16_t>(length));
  if (length <= 0 || text == nullptr || text[length - 1] != '\n') {
    send(crlf, 2);
  } else if (length < 2 || text[length - 2] != '\r') {
    send(crlf, 1);  // a lone LF gets its CR
  }
}

void debug(const char* text) { printRaw(text, static_cast<int>(std::strlen(text))); }

void vprintFormatted(const char* format, va_list args) {
  char buffer[kFormatBufferSize];
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n <= 0) return;
  const int len = n < static_cast<int>(sizeof buffer) ? n : static_cast<int>(sizeof buffer) - 1;
  printRaw(buffer, len);
}

void debugV2(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintFormatted(format, args);
  va_end(args);
}

void print(const char* text) { debug(text); }

void printV2(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintFormatted(format, args);
  va_end(args);
}

int appendHexBytes(char* buffer, int offset, unsigned capacity, const uint8_t* data, unsigned length,
                   bool appendSpace) {
  if (buffer == nullptr || data == nullptr || offset < 0 || capacity == 0) return offset;
  const unsigned room = appendSpace ? 3u : 2u;
  for (unsigned i = 0; i < length; ++i) {
    if (static_cast<unsigned>(offset) + room >= capacity) break;
    const int n = std::snprintf(buffer + offset, capacity - static_cast<unsigned>(offset),
                                appendSpace ? "%02X " : "%02X", data[i]);
    if (n <= 0) break;
    offset += n;
  }
  return offset;
}

uint32_t debugWakeMs() { return HAL_GetTick(); }

int debugTsPrefix(char* buffer, unsigned capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  const int n = std::snprintf(buffer, capacity, "[wake+%lums] ", static_cast<unsigned long>(debugWakeMs()));
  if (n > 0 && static_cast<unsigned>(n) < capacity) return n;
  buffer[0] = '\0';
  return 0;
}

void debugV2Uid(const UID& uid, bool flag) {
  const unsigned long v = uid.toU24();
  if (flag)
    debugV2("  UID (u24): %lu (0x%06lX)\r\n", v, v);
  else
    printV2("  UID (u24): %lu (0x%06lX)\r\n", v, v);
}
