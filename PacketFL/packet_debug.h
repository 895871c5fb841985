// Frames byte for byte on the console: a labelled hex line, and the raw dump of a frame with its
// tag recomputed, so that the line shows exactly the bytes that go on the air.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned kHexDumpBufCap = 893;

// label + hex digits as one line through print; nothing when there are no bytes.
void printPacketHexLine(const char* label, const uint8_t* data, size_t len);
// The same line through printRaw.
void debugPacketHexLine(const char* label, const uint8_t* data, size_t len);
// "<label>RAW HEX <n> bytes: " + body + its tag (live key), n = bodyLen + 4.
void debugPacketRawHexWithHmac(const char* label, const uint8_t* body, size_t bodyLen);
void debugPacketRawHexParts(const char* label, const uint8_t* data, size_t len, const uint8_t* extra, size_t extraLen);
