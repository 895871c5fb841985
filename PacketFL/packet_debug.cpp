// Hex dumps of frames, cut at the line buffer's end.
#include "packet_debug.h"

#include <cstdio>

#include "Debug.h"
#include "HMAC.h"

namespace {

// Writes the label into buf; returns the offset after it (cut to the buffer).
int startLine(char (&buf)[kHexDumpBufCap], const char* label) {
  const int n = std::snprintf(buf, sizeof buf, "%s", label != nullptr ? label : "");
  if (n < 0) return 0;
  return n < static_cast<int>(sizeof buf) ? n : static_cast<int>(sizeof buf) - 1;
}

int appendHex(char (&buf)[kHexDumpBufCap], int offset, const uint8_t* data, size_t len) {
  return appendHexBytes(buf, offset, sizeof buf, data, static_cast<unsigned>(len), false);
}

}  // namespace

void printPacketHexLine(const char* label, const uint8_t* data, size_t len) {
  if (data == nullptr || len == 0) return;
  char buf[kHexDumpBufCap];
  const int n = appendHex(buf, startLine(buf, label), data, len);
  buf[n] = '\0';
  print(buf);
}

void debugPacketHexLine(const char* label, const uint8_t* data, size_t len) {
  if (data == nullptr || len == 0) return;
  char buf[kHexDumpBufCap];
  const int n = appendHex(buf, startLine(buf, label), data, len);
  printRaw(buf, n);
}

void debugPacketRawHexParts(const char* label, const uint8_t* data, size_t len, const uint8_t* extra, size_t extraLen) {
  char buf[kHexDumpBufCap];
  int n = std::snprintf(buf, sizeof buf, "%sRAW HEX %3u bytes: ", label != nullptr ? label : "",
                        static_cast<unsigned>(len + extraLen));
  if (n < 0) n = 0;
  if (n >= static_cast<int>(sizeof buf)) n = static_cast<int>(sizeof buf) - 1;
  n = appendHex(buf, n, data, len);
  n = appendHex(buf, n, extra, extraLen);
  printRaw(buf, n);
}

void debugPacketRawHexWithHmac(const char* label, const uint8_t* body, size_t bodyLen) {
  const uint32_t tag = HMAC::compute(body, body != nullptr ? bodyLen : 0);
  const uint8_t tagBytes[HMAC::TAG_BYTES] = {static_cast<uint8_t>(tag), static_cast<uint8_t>(tag >> 8),
                                             static_cast<uint8_t>(tag >> 16), static_cast<uint8_t>(tag >> 24)};
  debugPacketRawHexParts(label, body, body != nullptr ? bodyLen : 0, tagBytes, sizeof tagBytes);
}
