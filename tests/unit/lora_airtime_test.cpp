// LoRa time on air: the values the transmit path relies on, and agreement with the chip maker's
// formula (computed independently in floating point by the simulated medium) across settings.
#include "lora_airtime.h"

#include <gtest/gtest.h>

#include "llcc68_driver.h"
#include "radio_medium.h"

namespace {

constexpr llcc68_mod_params_lora_t kNodeMod{7, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 0};

static_assert(LoraAirTime::timeOnAirMsForTx(16, kNodeMod, 8) == 52, "packet 3 is declared as 52 ms");

TEST(LoraAirTime, NodeSettingsGiveTheDeclaredTimes) {
  const std::pair<uint8_t, uint32_t> cases[] = {{0, 26},  {1, 26},   {2, 31},   {16, 52},
                                                {20, 57}, {80, 144}, {90, 159}, {255, 400}};
  for (const auto& [len, ms] : cases) {
    const llcc68_pkt_params_lora_t pkt{8, LLCC68_LORA_PKT_EXPLICIT, len, true, false};
    EXPECT_EQ(LoraAirTime::timeOnAirMs(pkt, kNodeMod), ms) << int(len);
    EXPECT_EQ(llcc68_get_lora_time_on_air_in_ms(&pkt, &kNodeMod), ms) << int(len);
    EXPECT_EQ(LoraAirTime::timeOnAirMsForTx(len, kNodeMod, 8), ms) << int(len);
  }
  const llcc68_pkt_params_lora_t p16{8, LLCC68_LORA_PKT_EXPLICIT, 16, true, false};
  EXPECT_EQ(llcc68_get_lora_time_on_air_numerator(&p16, &kNodeMod), 6432u);
  const llcc68_mod_params_lora_t sf11{11, LLCC68_LORA_BW_125, LLCC68_LORA_CR_4_5, 1};
  EXPECT_EQ(LoraAirTime::timeOnAirMs(p16, sf11), 660u);
}

TEST(LoraAirTime, BandwidthTable) {
  const std::pair<uint8_t, uint32_t> cases[] = {{0, 7812},   {1, 15625},  {2, 31250}, {3, 62500}, {4, 125000},
                                                {5, 250000}, {6, 500000}, {7, 0},     {8, 10417}, {9, 20833},
                                                {10, 41667}, {11, 0},     {255, 0}};
  const llcc68_pkt_params_lora_t pkt{8, LLCC68_LORA_PKT_EXPLICIT, 16, true, false};
  for (const auto& [code, hz] : cases) {
    EXPECT_EQ(LoraAirTime::bwInHz(code), hz) << int(code);
    EXPECT_EQ(llcc68_get_lora_bw_in_hz(static_cast<llcc68_lora_bw_t>(code)), hz) << int(code);
    // A code outside the table has no time on air (and must not divide by zero).
    const llcc68_mod_params_lora_t mod{7, code, LLCC68_LORA_CR_4_5, 0};
    if (hz == 0) {
      EXPECT_EQ(LoraAirTime::timeOnAirMs(pkt, mod), 0u) << int(code);
      EXPECT_EQ(llcc68_get_lora_time_on_air_in_ms(&pkt, &mod), 0u) << int(code);
    } else {
      EXPECT_GT(LoraAirTime::timeOnAirMs(pkt, mod), 0u) << int(code);
    }
  }
}

TEST(LoraAirTime, AgreesWithThePublishedFormulaForOtherSettings) {
  for (uint8_t sf = 5; sf <= 11; ++sf) {
    for (uint8_t bw : {LLCC68_LORA_BW_125, LLCC68_LORA_BW_250, LLCC68_LORA_BW_500}) {
      for (uint8_t cr = 1; cr <= 4; ++cr) {
        for (uint8_t ldro = 0; ldro <= 1; ++ldro) {
          for (int variant = 0; variant < 4; ++variant) {
            const bool crc = (variant & 1) != 0;
            const bool implicit = (variant & 2) != 0;
            for (int len = 0; len <= 255; len += (len < 20 ? 1 : 7)) {
              const llcc68_mod_params_lora_t mod{sf, bw, cr, ldro};
              const llcc68_pkt_params_lora_t pkt{
                  12, implicit ? uint8_t(LLCC68_LORA_PKT_IMPLICIT) : uint8_t(LLCC68_LORA_PKT_EXPLICIT),
                  static_cast<uint8_t>(len), crc, false};
              sim::LoraAirSettings air;
              air.sf = sf;
              air.bwCode = bw;
              air.cr = cr;
              air.ldro = ldro != 0 && sf >= 7;  // the optimisation only changes SF7 and up
              air.preamble = 12;
              air.crcOn = crc;
              air.implicitHeader = implicit;
              const uint64_t us = air.timeOnAirUs(static_cast<size_t>(len));
              const uint32_t ms = LoraAirTime::timeOnAirMs(pkt, mod);
              // Whole milliseconds rounded up; the float formula may land a hair above an integer.
              EXPECT_TRUE(ms == (us + 999) / 1000 || ms + 1 == (us + 999) / 1000)
                  << "SF" << int(sf) << " bw " << int(bw) << " cr " << int(cr) << " ldro " << int(ldro) << " crc "
                  << crc << " implicit " << implicit << " len " << len << ": " << ms << " ms vs " << us << " us";
            }
          }
        }
      }
    }
  }
}

}  // namespace
