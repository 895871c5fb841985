// ADC1 of the emulated STM32G070.
#include "adc_front.h"

#include <cstddef>

#include "adc_model.h"
#include "board.h"
#include "chip.h"
#include "rcc_front.h"
#include "reg_adc.h"

namespace emu {

namespace {

constexpr uint32_t kISR = offsetof(ADC_TypeDef, ISR);
constexpr uint32_t kIER = offsetof(ADC_TypeDef, IER);
constexpr uint32_t kCR = offsetof(ADC_TypeDef, CR);
constexpr uint32_t kCFGR1 = offsetof(ADC_TypeDef, CFGR1);
constexpr uint32_t kCFGR2 = offsetof(ADC_TypeDef, CFGR2);
constexpr uint32_t kSMPR = offsetof(ADC_TypeDef, SMPR);
constexpr uint32_t kAWD1TR = offsetof(ADC_TypeDef, AWD1TR);
constexpr uint32_t kAWD2TR = offsetof(ADC_TypeDef, AWD2TR);
constexpr uint32_t kCHSELR = offsetof(ADC_TypeDef, CHSELR);
constexpr uint32_t kAWD3TR = offsetof(ADC_TypeDef, AWD3TR);
constexpr uint32_t kDR = offsetof(ADC_TypeDef, DR);
constexpr uint32_t kAWD2CR = offsetof(ADC_TypeDef, AWD2CR);
constexpr uint32_t kAWD3CR = offsetof(ADC_TypeDef, AWD3CR);
constexpr uint32_t kCALFACT = offsetof(ADC_TypeDef, CALFACT);

// Sampling times of the SMPx codes, in ADC clock cycles.
constexpr double kSampleCycles[8] = {1.5, 3.5, 7.5, 12.5, 19.5, 39.5, 79.5, 160.5};
constexpr double kCalibrationCycles = 82;     // t_CAL
constexpr double kChannelConfigCycles = 2;    // CHSELR applied, CCRDY raised
constexpr uint32_t kCalibrationFactor = 0x40;  // what the calibration leaves in CALFACT

constexpr uint32_t kKeptFlags = ADC_ISR_ADRDY | ADC_ISR_EOSMP | ADC_ISR_AWD1 | ADC_ISR_AWD2 | ADC_ISR_AWD3 |
                                ADC_ISR_EOCAL | ADC_ISR_CCRDY;

sim::Adc& model(Chip& chip) { return chip.board().adc(); }

}  // namespace

AdcFront::AdcFront(Chip& chip) : chip_(chip) { reset(); }

void AdcFront::reset() {
  model(chip_).reset();
  isr_ = ier_ = cr_ = cfgr1_ = cfgr2_ = smpr_ = chselr_ = ccr_ = calfact_ = 0;
  awdtr_.fill(0x0FFF0000u);
  awdcr_.fill(0);
  calibrationEndsNs_ = channelsReadyNs_ = 0;
  channelsPending_ = false;
  clearedFlags_ = 0;
}

uint64_t AdcFront::nowNs() const { return chip_.core().nowNs(); }

double AdcFront::clockHz() const {
  const double pclk = chip_.rcc().pclkHz();
  switch (cfgr2_ & ADC_CFGR2_CKMODE) {
    case ADC_CFGR2_CKMODE_PCLK_DIV2: return pclk / 2;
    case ADC_CFGR2_CKMODE_PCLK_DIV4: return pclk / 4;
    case ADC_CFGR2_CKMODE_PCLK: return pclk;
    default: {
      // The asynchronous clock: HSI16 (RCC_CCIPR.ADCSEL = 10) or SYSCLK, through ADC_CCR.PRESC.
      static constexpr uint16_t kPresc[16] = {1, 2, 4, 6, 8, 10, 12, 16, 32, 64, 128, 256, 256, 256, 256, 256};
      const double source = chip_.rcc().sysclkHz();
      return source / kPresc[(ccr_ & ADC_CCR_PRESC) >> ADC_CCR_PRESC_Pos];
    }
  }
}

void AdcFront::pushSelection() {
  sim::Adc& adc = model(chip_);
  for (int ch = 0; ch <= 18; ++ch) {
    adc.select(ch, (chselr_ & ADC_CHSELR_CHSEL(ch)) != 0);
    adc.setSamplingTimeSelect(ch, (smpr_ & ADC_SMPR_SMPSEL_CH(ch)) != 0 ? 1 : 0);
  }
  adc.setInternalPath(ADC_CH_TEMPSENSOR, (ccr_ & ADC_CCR_TSEN) != 0);
  adc.setInternalPath(ADC_CH_VREFINT, (ccr_ & ADC_CCR_VREFEN) != 0);
  adc.setInternalPath(ADC_CH_VBAT, (ccr_ & ADC_CCR_VBATEN) != 0);
}

void AdcFront::pushSetup() {
  sim::AdcSetup s;
  s.clockHz = clockHz();
  static constexpr int kBits[4] = {12, 10, 8, 6};
  s.resolutionBits = kBits[(cfgr1_ & ADC_CFGR1_RES) >> ADC_CFGR1_RES_Pos];
  s.sampleCycles = {kSampleCycles[(smpr_ & ADC_SMPR_SMP1) >> ADC_SMPR_SMP1_Pos],
                    kSampleCycles[(smpr_ & ADC_SMPR_SMP2) >> ADC_SMPR_SMP2_Pos]};
  s.backward = (cfgr1_ & ADC_CFGR1_SCANDIR) != 0;
  s.continuous = (cfgr1_ & ADC_CFGR1_CONT) != 0;
  if (cfgr2_ & ADC_CFGR2_OVSE) {
    s.oversampleRatio = 2 << ((cfgr2_ & ADC_CFGR2_OVSR) >> ADC_CFGR2_OVSR_Pos);
    s.oversampleShift = static_cast<int>((cfgr2_ & ADC_CFGR2_OVSS) >> ADC_CFGR2_OVSS_Pos);
  }
  model(chip_).setup(s);
}

uint32_t AdcFront::status() {
  sim::Adc& adc = model(chip_);
  const uint64_t now = nowNs();
  if (channelsPending_ && now >= channelsReadyNs_ && !adc.unresponsive()) {
    channelsPending_ = false;
    isr_ |= ADC_ISR_CCRDY;
  }
  if ((cr_ & ADC_CR_ADCAL) && now >= calibrationEndsNs_ && !adc.unresponsive()) {
    cr_ &= ~ADC_CR_ADCAL;
    adc.calibrate();
    calfact_ = kCalibrationFactor;
    isr_ |= ADC_ISR_EOCAL;
  }
  uint32_t isr = isr_;
  if (adc.endOfConversion()) isr |= ADC_ISR_EOC | ADC_ISR_EOS;
  if ((cr_ & ADC_CR_ADSTART) && adc.overrun()) isr |= ADC_ISR_OVR;
  return isr & ~clearedFlags_;
}

uint32_t AdcFront::peek(uint32_t offset) {
  switch (offset) {
    case kIER: return ier_;
    case kCR: return cr_;
    case kCFGR1: return cfgr1_;
    case kCFGR2: return cfgr2_;
    case kSMPR: return smpr_;
    case kAWD1TR: return awdtr_[0];
    case kAWD2TR: return awdtr_[1];
    case kAWD3TR: return awdtr_[2];
    case kCHSELR: return chselr_;
    case kAWD2CR: return awdcr_[0];
    case kAWD3CR: return awdcr_[1];
    case kCALFACT: return calfact_;
    case kCommonOffset: return ccr_;
    default: return 0;
  }
}

uint32_t AdcFront::read(uint32_t offset) {
  switch (offset) {
    case kISR: return status();
    case kCR: {
      (void)status();
      // A single conversion clears ADSTART when it is done; a stop, when the converter has stopped.
      if ((cr_ & ADC_CR_ADSTART) && !model(chip_).running()) cr_ &= ~ADC_CR_ADSTART;
      return cr_;
    }
    case kDR: return model(chip_).readData();  // reading the data clears EOC
    default: return peek(offset);
  }
}

// ADC_CR: the bits are set by software and cleared by the converter when the action is done; a 1
// written to a bit already set (a read-modify-write carries them) asks for nothing.
void AdcFront::writeControl(uint32_t value) {
  sim::Adc& adc = model(chip_);
  const bool silent = adc.unresponsive();
  const bool stuck = adc.stopStuck();
  const uint32_t before = read(kCR);
  const uint32_t asked = value & ~before;
  // The regulator off: the converter loses its calibration.
  if ((before & ADC_CR_ADVREGEN) && !(value & ADC_CR_ADVREGEN)) {
    adc.reset();
    pushSelection();
    calfact_ = 0;
  }
  cr_ = (cr_ & ~ADC_CR_ADVREGEN) | (value & ADC_CR_ADVREGEN);
  if ((asked & ADC_CR_ADCAL) && !(before & ADC_CR_ADEN)) {
    cr_ |= ADC_CR_ADCAL;
    calibrationEndsNs_ = nowNs() + static_cast<uint64_t>(kCalibrationCycles / clockHz() * 1e9);
  }
  if ((asked & ADC_CR_ADEN) && !(cr_ & ADC_CR_ADCAL)) {
    cr_ |= ADC_CR_ADEN;
    if (!silent) isr_ |= ADC_ISR_ADRDY;
  }
  if ((asked & ADC_CR_ADSTP) && (before & ADC_CR_ADSTART)) {
    if (stuck) {
      cr_ |= ADC_CR_ADSTP;  // the stop never completes
    } else {
      adc.stop();
      cr_ &= ~(ADC_CR_ADSTART | ADC_CR_ADSTP);
    }
  }
  if ((asked & ADC_CR_ADDIS) && (before & ADC_CR_ADEN) && !(before & ADC_CR_ADSTART)) {
    if (stuck) {
      cr_ |= ADC_CR_ADDIS;  // the disable never completes
    } else {
      cr_ &= ~(ADC_CR_ADEN | ADC_CR_ADDIS);
    }
  }
  // A start needs the converter enabled and idle, and the channel configuration applied (CCRDY).
  if ((asked & ADC_CR_ADSTART) && (cr_ & ADC_CR_ADEN) && !(cr_ & ADC_CR_ADDIS) && !channelsPending_ && !silent) {
    cr_ |= ADC_CR_ADSTART;
    clearedFlags_ = 0;
    pushSetup();
    if (cfgr1_ & ADC_CFGR1_DMAEN) {
      adc.startDma();
    } else {
      adc.startSingle();
    }
  }
}

void AdcFront::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kISR:
      isr_ &= ~(value & kKeptFlags);
      clearedFlags_ |= value & (ADC_ISR_EOC | ADC_ISR_EOS | ADC_ISR_OVR);
      if (value & (ADC_ISR_EOC | ADC_ISR_EOS)) (void)model(chip_).readData();
      return;
    case kIER: ier_ = value; return;
    case kCR: writeControl(value); return;
    case kCFGR1: cfgr1_ = value; return;
    case kCFGR2: cfgr2_ = value; return;
    case kSMPR:
      smpr_ = value;
      pushSelection();
      return;
    case kAWD1TR: awdtr_[0] = value; return;
    case kAWD2TR: awdtr_[1] = value; return;
    case kAWD3TR: awdtr_[2] = value; return;
    case kCHSELR:
      chselr_ = value & ADC_CHSELR_CHSEL_ALL;
      pushSelection();
      // The new selection is applied a few ADC clock cycles later, which CCRDY tells.
      isr_ &= ~ADC_ISR_CCRDY;
      channelsPending_ = true;
      channelsReadyNs_ = nowNs() + static_cast<uint64_t>(kChannelConfigCycles / clockHz() * 1e9);
      return;
    case kAWD2CR: awdcr_[0] = value; return;
    case kAWD3CR: awdcr_[1] = value; return;
    case kCALFACT: calfact_ = value & ADC_CALFACT_CALFACT; return;
    case kCommonOffset:
      ccr_ = value;
      pushSelection();
      return;
    default: return;
  }
}

}  // namespace emu
