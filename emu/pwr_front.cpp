// PWR of the emulated STM32G070.
#include "pwr_front.h"

#include <cstddef>

#include "board.h"
#include "chip.h"
#include "gpio_model.h"
#include "reg_pwr.h"
#include "rtc_model.h"

namespace emu {

namespace {

constexpr uint32_t kCR1 = offsetof(PWR_TypeDef, CR1);
constexpr uint32_t kCR3 = offsetof(PWR_TypeDef, CR3);
constexpr uint32_t kSR1 = offsetof(PWR_TypeDef, SR1);
constexpr uint32_t kSR2 = offsetof(PWR_TypeDef, SR2);
constexpr uint32_t kSCR = offsetof(PWR_TypeDef, SCR);
constexpr uint32_t kPUCRA = offsetof(PWR_TypeDef, PUCRA);

constexpr uint32_t kCr1Writable = PWR_CR1_LPMS | PWR_CR1_FPD_STOP | PWR_CR1_FPD_LPRUN | PWR_CR1_FPD_LPSLP |
                                  PWR_CR1_DBP | PWR_CR1_VOS | PWR_CR1_LPR;

}  // namespace

PwrFront::PwrFront(Chip& chip) : chip_(chip) { reset(); }

void PwrFront::reset() {
  regs_.fill(0);
  regs_[kCR1 / 4] = PWR_CR1_VOS_RANGE1 | PWR_CR1_FPD_STOP;
  regs_[kCR3 / 4] = PWR_CR3_EIWUL;
  chip_.board().rtc().setBackupAccess(false);
}

bool PwrFront::standbySelected() const { return (regs_[kCR1 / 4] & PWR_CR1_LPMS) == PWR_CR1_LPMS_STANDBY; }

PwrFront::StandbyPin PwrFront::standbyPin(int port, int pin) const {
  if ((regs_[kCR3 / 4] & PWR_CR3_APC) == 0 || port == 4) return StandbyPin::floating;
  const uint32_t up = regs_[(kPUCRA + 8u * static_cast<uint32_t>(port)) / 4];
  const uint32_t down = regs_[(kPUCRA + 8u * static_cast<uint32_t>(port) + 4u) / 4];
  if (down & PWR_PxCR_P(pin)) return StandbyPin::low;
  if (up & PWR_PxCR_P(pin)) return StandbyPin::high;
  return StandbyPin::floating;
}

uint32_t PwrFront::read(uint32_t offset) {
  switch (offset) {
    case kSR1: return chip_.board().sr1();
    case kSR2: {
      // The flash is ready, the regulator settles at once; low-power run shows on REGLPF.
      uint32_t v = PWR_SR2_FLASH_RDY;
      if (regs_[kCR1 / 4] & PWR_CR1_LPR) v |= PWR_SR2_REGLPF;
      return v;
    }
    case kSCR: return 0;
    default: return offset < regs_.size() * 4 ? regs_[offset / 4] : 0;
  }
}

void PwrFront::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kCR1:
      regs_[kCR1 / 4] = value & kCr1Writable;
      chip_.board().rtc().setBackupAccess((value & PWR_CR1_DBP) != 0);
      break;
    case kSR1:
    case kSR2: break;  // read-only
    case kSCR: chip_.board().clearSr1(value & (PWR_SCR_CWUF | PWR_SCR_CSBF)); break;
    default:
      if (offset < regs_.size() * 4) regs_[offset / 4] = value;
      break;
  }
  // What holds each pin in standby, for the board's pin model.
  if (offset == offsetof(PWR_TypeDef, CR3) || offset >= kPUCRA) {
    for (int port : {0, 1, 2, 3, 5}) {
      for (int pin = 0; pin < 16; ++pin) {
        const StandbyPin held = standbyPin(port, pin);
        chip_.board().gpio().setStandbyPull(port, pin, held == StandbyPin::low    ? sim::PinPull::down
                                                       : held == StandbyPin::high ? sim::PinPull::up
                                                                                  : sim::PinPull::none);
      }
    }
  }
}

}  // namespace emu
