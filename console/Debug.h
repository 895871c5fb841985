// Console output: every line the firmware prints goes through here to the console UART.
#pragma once

#include <cstdarg>
#include <cstdint>

struct UID;

constexpr uint32_t kConsoleTxTimeoutMs = 100;
constexpr unsigned kFormatBufferSize = 512;
constexpr unsigned kTsPrefixReserve = 24;

// Sends `length` bytes, then finishes the console line (CR LF, or CR after a lone LF).
void printRaw(const char* text, int length);
void debug(const char* text);
void debugV2(const char* format, ...) __attribute__((format(printf, 1, 2)));
void vprintFormatted(const char* format, va_list args);
// The shell's names for the same two operations.
void print(const char* text);
void printV2(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends `length` bytes as upper-case hex ("%02X", or "%02X " with appendSpace) at `offset`,
// always keeping room for the terminating NUL; returns the new offset.
int appendHexBytes(char* buffer, int offset, unsigned capacity, const uint8_t* data, unsigned length,
                   bool appendSpace);

// Milliseconds since this start (every wake from standby is a start).
uint32_t debugWakeMs();
// "[wake+%lums] " into buffer; returns its length, or 0 when it does not fit.
int debugTsPrefix(char* buffer, unsigned capacity);

// "  UID (u24): %lu (0x%06lX)" through debugV2 (flag true) or printV2 (flag false).
void debugV2Uid(const UID& uid, bool flag);
