// Printout of a received packet 14 and the log lines of applied settings.
#include "rxpacket14_debug.h"

#include <bit>
#include <cmath>
#include <cstdio>

#include "Debug.h"
#include "functions.h"
#include "packet_debug.h"

namespace LoRaRXPacket14 {

namespace {

// Radians as "<integer>.<4 digits>" (integer part truncated, fraction without sign; a value between
// -1 and 0 keeps its minus sign). Values the split cannot hold are named instead of being converted.
void formatRad4(char (&out)[24], float v) {
  if (std::isnan(v)) {
    std::snprintf(out, sizeof out, "nan");
  } else if (!std::isfinite(v) || std::fabs(v) >= 32768.0f) {
    std::snprintf(out, sizeof out, "%sout-of-range", v < 0 ? "-" : "");
  } else {
    const SplitFloat s = splitFloat6(v, 4);
    std::snprintf(out, sizeof out, "%s%d.%04ld", (s.integer == 0 && v < 0.0f) ? "-" : "", static_cast<int>(s.integer),
                  static_cast<long>(s.decimal));
  }
}

// Seconds truncated to an integer, for a value that may come from an unchecked record.
int wholeSeconds(float s) {
  if (std::isnan(s)) return 0;
  if (s >= 2147483648.0f) return INT32_MAX;
  if (s <= -2147483648.0f) return INT32_MIN;
  return static_cast<int>(s);
}

}  // namespace

void debugPkt(const Payload& p) {
  debug("Payload (RX packet 14):\n");
  debugV2("  packetCode: %u\r\n", static_cast<unsigned>(p.packetCode));
  debugV2("  packetCounter (u24): %lu\r\n", static_cast<unsigned long>(p.packetCounter.toU32()));
  debugV2Uid(p.uid, true);
  debugV2("  opcode: 0x%04X\r\n", static_cast<unsigned>(p.opcode));
  debugV2("  opcode2: 0x%04X (fecOk=%s)\r\n", static_cast<unsigned>(p.opcode2), verifyFecCopies(p) ? "yes" : "no");
  debugV2("  args: [%lu, %lu, %lu, %lu]\r\n", static_cast<unsigned long>(p.args[0]),
          static_cast<unsigned long>(p.args[1]), static_cast<unsigned long>(p.args[2]),
          static_cast<unsigned long>(p.args[3]));
  if (p.opcode == Op::SET_PhaseShift) {
    char rad[24];
    formatRad4(rad, std::bit_cast<float>(p.args[7]));
    debugV2("  phaseRad: %s rad\r\n", rad);
  } else if (p.opcode == Op::SET_txDebugPacketRate) {
    debugV2("  txDebugPacketRate: %u\r\n", static_cast<unsigned>(p.args[0] & 0xFFFFu));
  }
  debugPacketRawHexWithHmac("  ", reinterpret_cast<const uint8_t*>(&p), WIRE_BODY_BYTES);
}

void logTxDebugPacketRateChange(uint16_t before, uint16_t after) {
  debugV2("RX14 SET_txDebugPacketRate: txDebugPacketRate %u -> %u, committing flash\r\n", static_cast<unsigned>(before),
          static_cast<unsigned>(after));
}

void logSleepForceRXChange(float secondsBefore, float secondsAfter, bool forceBefore, bool forceAfter) {
  debugV2("RX14 SET_SleepForceRX: sleepMaxSec %d -> %d s, forceLoraRX %u -> %u, committing flash\r\n",
          wholeSeconds(secondsBefore), wholeSeconds(secondsAfter), forceBefore ? 1u : 0u, forceAfter ? 1u : 0u);
}

void logPhaseShiftChange(float before, float after) {
  char a[24];
  char b[24];
  formatRad4(a, before);
  formatRad4(b, after);
  debugV2("RX14 SET_PhaseShift: inductive50HzPhaseCorrection %s -> %s rad, committing flash\r\n", a, b);
}

void logTxPowerDbmChange(int before, int after) {
  debugV2("RX14 SET_TxPowerDbm: txPowerDbm %d -> %d dBm (RTC)\r\n", before, after);
}

}  // namespace LoRaRXPacket14
