// TIM6 of the emulated STM32G070.
#include "tim6_front.h"

#include <cstddef>

#include "board.h"
#include "chip.h"
#include "reg_tim.h"
#include "tim6_model.h"

namespace emu {

namespace {

constexpr uint32_t kCR1 = offsetof(TIM_TypeDef, CR1);
constexpr uint32_t kCR2 = offsetof(TIM_TypeDef, CR2);
constexpr uint32_t kDIER = offsetof(TIM_TypeDef, DIER);
constexpr uint32_t kSR = offsetof(TIM_TypeDef, SR);
constexpr uint32_t kEGR = offsetof(TIM_TypeDef, EGR);
constexpr uint32_t kCNT = offsetof(TIM_TypeDef, CNT);
constexpr uint32_t kPSC = offsetof(TIM_TypeDef, PSC);
constexpr uint32_t kARR = offsetof(TIM_TypeDef, ARR);

sim::Tim6& model(Chip& chip) { return chip.board().tim6(); }

}  // namespace

Tim6Front::Tim6Front(Chip& chip) : chip_(chip) { reset(); }

void Tim6Front::reset() {
  cr1_ = cr2_ = dier_ = psc_ = 0;
  arr_ = 0xFFFF;
  sim::Tim6& tim = model(chip_);
  tim.stop();
  tim.enableUpdateInterrupt(false);
  tim.setPrescaler(0);
  tim.setAutoReload(arr_);
  tim.setCounter(0);
  tim.clearUpdateFlag();
}

uint32_t Tim6Front::read(uint32_t offset) {
  switch (offset) {
    case kCR1: return cr1_;
    case kCR2: return cr2_;
    case kDIER: return dier_;
    case kSR: return model(chip_).updateFlag() ? TIM_SR_UIF : 0;
    case kCNT: return model(chip_).counter();
    case kPSC: return psc_;
    case kARR: return arr_;
    default: return 0;
  }
}

void Tim6Front::write(uint32_t offset, uint32_t value) {
  sim::Tim6& tim = model(chip_);
  switch (offset) {
    case kCR1: {
      const bool start = (value & TIM_CR1_CEN) && !(cr1_ & TIM_CR1_CEN);
      const bool stop = !(value & TIM_CR1_CEN) && (cr1_ & TIM_CR1_CEN);
      cr1_ = value & (TIM_CR1_CEN | TIM_CR1_UDIS | TIM_CR1_URS | TIM_CR1_OPM | TIM_CR1_ARPE | TIM_CR1_UIFREMAP);
      if (start) tim.start();
      if (stop) tim.stop();
      return;
    }
    case kCR2: cr2_ = value & TIM_CR2_MMS; return;
    case kDIER:
      dier_ = value & (TIM_DIER_UIE | TIM_DIER_UDE);
      tim.enableUpdateInterrupt((dier_ & TIM_DIER_UIE) != 0);
      return;
    case kSR:
      if (!(value & TIM_SR_UIF)) tim.clearUpdateFlag();  // flags clear by writing 0
      return;
    case kEGR:
      // The update loads the prescaler written since and restarts the count.
      if (value & TIM_EGR_UG) {
        tim.setPrescaler(psc_);
        tim.generateUpdate((cr1_ & TIM_CR1_URS) != 0);
      }
      return;
    case kCNT: tim.setCounter(value & TIM_CNT_CNT); return;
    // The prescaler takes effect at the next update event (here: the next UG).
    case kPSC: psc_ = value & TIM_PSC_PSC; return;
    case kARR:
      arr_ = value & TIM_ARR_ARR;
      tim.setAutoReload(arr_);  // without ARPE at once (the board's firmware runs without preload)
      return;
    default: return;
  }
}

}  // namespace emu
