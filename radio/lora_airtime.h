// LoRa time on air in whole milliseconds (rounded up), integer arithmetic only. The command
// layer's llcc68_get_lora_* functions answer with these same helpers.
#pragma once

#include <cstdint>

#include "llcc68_driver.h"

namespace LoraAirTime {

constexpr uint32_t bwInHz(uint8_t bw) {
  switch (bw) {
    case LLCC68_LORA_BW_007: return 7812;
    case LLCC68_LORA_BW_015: return 15625;
    case LLCC68_LORA_BW_031: return 31250;
    case LLCC68_LORA_BW_062: return 62500;
    case LLCC68_LORA_BW_125: return 125000;
    case LLCC68_LORA_BW_250: return 250000;
    case LLCC68_LORA_BW_500: return 500000;
    case LLCC68_LORA_BW_010: return 10417;
    case LLCC68_LORA_BW_020: return 20833;
    case LLCC68_LORA_BW_041: return 41667;
    default: return 0;
  }
}

// Time on air multiplied by the bandwidth in hertz: (symbols + 0.25) x 2^SF, where the symbols
// are the preamble, its 4.25 sync symbols and 8 header symbols (inside the 12 or 14), and the
// payload blocks.
constexpr uint32_t timeOnAirNumerator(const llcc68_pkt_params_lora_t& pkt, const llcc68_mod_params_lora_t& mod) {
  const int32_t sf = mod.sf;
  int32_t denominator = 4 * sf;
  int32_t n = 8 * static_cast<int32_t>(pkt.pld_len_in_bytes) + (pkt.crc_is_on ? 16 : 0) - 4 * sf +
              (pkt.header_type == LLCC68_LORA_PKT_IMPLICIT ? 0 : 20);
  if (sf > 6) {
    n += 8;
    if (mod.ldro != 0) denominator = 4 * (sf - 2);
  }
  if (n < 0) n = 0;
  const int32_t blocks = (n + denominator - 1) / denominator;
  const int32_t q =
      (static_cast<int32_t>(mod.cr) + 4) * blocks + static_cast<int32_t>(pkt.preamble_len_in_symb) + (sf > 6 ? 12 : 14);
  return static_cast<uint32_t>(4 * q + 1) << (sf - 2);
}

constexpr uint32_t timeOnAirMs(const llcc68_pkt_params_lora_t& pkt, const llcc68_mod_params_lora_t& mod) {
  const uint32_t bw = bwInHz(mod.bw);
  if (bw == 0) return 0;  // not a bandwidth of this chip: report nothing rather than divide by zero
  return (timeOnAirNumerator(pkt, mod) * 1000u + bw - 1) / bw;
}

// An explicit-header frame with CRC on and normal IQ, as every frame of this node is sent.
constexpr uint32_t timeOnAirMsForTx(uint8_t payloadLen, const llcc68_mod_params_lora_t& mod, uint16_t preambleLen) {
  const llcc68_pkt_params_lora_t pkt{preambleLen, LLCC68_LORA_PKT_EXPLICIT, payloadLen, true, false};
  return timeOnAirMs(pkt, mod);
}

}  // namespace LoraAirTime
