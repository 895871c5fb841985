// ADC1, reference manual section "Analog-to-digital converter": regulator, enable and disable,
// self-calibration, the channel selection and its CCRDY handshake, sampling times, resolution,
// scan direction, continuous mode, oversampling, software-started conversions read from DR or
// requested by the DMA, the flags (ADRDY, EOC, EOS, OVR, EOCAL, CCRDY) and the internal channels'
// enables, over the board's ADC model (which converts the front end's voltages at their instants).
#pragma once

#include <array>
#include <cstdint>

#include "front.h"

namespace emu {

class Chip;

class AdcFront final : public Front {
 public:
  static constexpr uint32_t kCommonOffset = 0x308;  // ADC_CCR, in the same 1 KiB block

  explicit AdcFront(Chip& chip);

  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  uint32_t peek(uint32_t offset) override;
  void reset() override;

  // The converter's clock (ADC_CFGR2.CKMODE).
  double clockHz() const;

 private:
  void writeControl(uint32_t value);
  void pushSelection();
  void pushSetup();
  uint32_t status();
  uint64_t nowNs() const;

  Chip& chip_;
  uint32_t isr_ = 0;  // the flags the front keeps: ADRDY, EOCAL, CCRDY, EOSMP; EOC, EOS, OVR cleared
  uint32_t ier_ = 0, cr_ = 0, cfgr1_ = 0, cfgr2_ = 0, smpr_ = 0, chselr_ = 0, ccr_ = 0, calfact_ = 0;
  std::array<uint32_t, 3> awdtr_{};
  std::array<uint32_t, 2> awdcr_{};
  uint64_t calibrationEndsNs_ = 0;  // ADCAL reads 1 until then
  uint64_t channelsReadyNs_ = 0;    // CCRDY rises then after a CHSELR write
  bool channelsPending_ = false;
  uint32_t clearedFlags_ = 0;  // EOC, EOS or OVR written 1 to since the conversions began
};

}  // namespace emu
