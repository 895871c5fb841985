// RTC and TAMP of the emulated STM32G070.
#include "rtc_front.h"

#include <cstddef>

#include "board.h"
#include "chip.h"
#include "reg_rtc.h"
#include "rtc_model.h"

namespace emu {

namespace {

constexpr uint32_t kDR = offsetof(RTC_TypeDef, DR);
constexpr uint32_t kICSR = offsetof(RTC_TypeDef, ICSR);
constexpr uint32_t kPRER = offsetof(RTC_TypeDef, PRER);
constexpr uint32_t kWUTR = offsetof(RTC_TypeDef, WUTR);
constexpr uint32_t kCR = offsetof(RTC_TypeDef, CR);
constexpr uint32_t kWPR = offsetof(RTC_TypeDef, WPR);
constexpr uint32_t kSR = offsetof(RTC_TypeDef, SR);
constexpr uint32_t kMISR = offsetof(RTC_TypeDef, MISR);
constexpr uint32_t kSCR = offsetof(RTC_TypeDef, SCR);
constexpr uint32_t kTampBkp0 = offsetof(TAMP_TypeDef, BKP0R);
constexpr unsigned kSyncPeriods = 2;  // INITF and RSF follow within two RTCCLK periods

sim::RtcModel& model(Chip& chip) { return chip.board().rtc(); }

}  // namespace

RtcFront::RtcFront(Chip& chip) : chip_(chip) {
  // The domain is as the board kept it: reset values after a power-on, else as last written.
  const sim::RtcModel::DomainRegisters& kept = model(chip_).domainRegisters();
  regs_[kDR / 4] = 0x00002101;  // Monday 1 January of year 00
  regs_[kPRER / 4] = kept.prer;
  regs_[kWUTR / 4] = kept.wutr;
  regs_[kCR / 4] = kept.cr;
  sim::RtcModel& rtc = model(chip_);
  if (kept != sim::RtcModel::DomainRegisters{}) {
    rtc.init((kept.prer & RTC_PRER_PREDIV_A) >> RTC_PRER_PREDIV_A_Pos, kept.prer & RTC_PRER_PREDIV_S);
  }
  // The wake-up timer runs on through resets: a start finds it as it was left.
  if (kept.cr & RTC_CR_WUTE) {
    (void)rtc.armWakeUp(kept.wutr & RTC_WUTR_WUT, kept.cr & RTC_CR_WUCKSEL, (kept.cr & RTC_CR_WUTIE) != 0);
  }
}

uint64_t RtcFront::nowNs() const { return chip_.core().nowNs(); }

uint64_t RtcFront::rtcClockNs(unsigned periods) const { return periods * 1000000000ull / model(chip_).lsiHz(); }

// Writes need the RTC domain's write access (PWR_CR1.DBP) and the unlocked write protection.
bool RtcFront::writable() const { return model(chip_).backupAccess() && keyStage_ == 2; }

// What the domain keeps through a reset.
void RtcFront::keep() {
  sim::RtcModel::DomainRegisters kept = model(chip_).domainRegisters();
  kept.prer = regs_[kPRER / 4];
  kept.cr = regs_[kCR / 4];
  kept.wutr = regs_[kWUTR / 4];
  model(chip_).setDomainRegisters(kept);
}

uint32_t RtcFront::peek(uint32_t offset) {
  if (offset == kWPR || offset == kSCR) return 0;
  return offset / 4 < regs_.size() ? regs_[offset / 4] : 0;
}

uint32_t RtcFront::read(uint32_t offset) {
  if (offset != kICSR) return peek(offset);
  const uint32_t cr = regs_[kCR / 4];
  const uint64_t now = nowNs();
  uint32_t v = regs_[kICSR / 4] & RTC_ICSR_INIT;
  if (!(cr & RTC_CR_ALRAE)) v |= RTC_ICSR_ALRAWF;
  if (!(cr & RTC_CR_ALRBE)) v |= RTC_ICSR_ALRBWF;
  if (!(cr & RTC_CR_WUTE) && !model(chip_).wakeUpTimerFails()) v |= RTC_ICSR_WUTWF;
  if ((v & RTC_ICSR_INIT) && now >= initfAtNs_) v |= RTC_ICSR_INITF;
  if (!(v & RTC_ICSR_INIT) && now >= rsfAtNs_ && (regs_[kICSR / 4] & RTC_ICSR_RSF)) v |= RTC_ICSR_RSF;
  return v;
}

void RtcFront::write(uint32_t offset, uint32_t value) {
  if (!model(chip_).backupAccess()) return;  // the RTC domain is write-protected
  if (offset == kWPR) {
    const uint32_t key = value & RTC_WPR_KEY;
    keyStage_ = key == RTC_WPR_KEY1 ? 1 : (key == RTC_WPR_KEY2 && keyStage_ == 1) ? 2 : 0;
    return;
  }
  if (!writable()) return;
  const uint32_t icsr = read(kICSR);
  switch (offset) {
    case kICSR: {
      const bool leaving = (icsr & RTC_ICSR_INIT) && !(value & RTC_ICSR_INIT);
      if ((value & RTC_ICSR_INIT) && !(icsr & RTC_ICSR_INIT)) initfAtNs_ = nowNs() + rtcClockNs(kSyncPeriods);
      uint32_t kept = (value & RTC_ICSR_INIT) | (regs_[kICSR / 4] & RTC_ICSR_RSF);
      // RSF is cleared by writing 0 and set again when the shadow registers have synchronised.
      if (!(value & RTC_ICSR_RSF)) {
        kept |= RTC_ICSR_RSF;
        rsfAtNs_ = nowNs() + rtcClockNs(kSyncPeriods);
      }
      regs_[kICSR / 4] = kept;
      if (leaving) {
        const uint32_t prer = regs_[kPRER / 4];
        model(chip_).init((prer & RTC_PRER_PREDIV_A) >> RTC_PRER_PREDIV_A_Pos, prer & RTC_PRER_PREDIV_S);
      }
      return;
    }
    case kPRER:
      if (icsr & RTC_ICSR_INITF) regs_[kPRER / 4] = value & (RTC_PRER_PREDIV_A | RTC_PRER_PREDIV_S);
      break;
    case kWUTR:
      if (icsr & RTC_ICSR_WUTWF) regs_[kWUTR / 4] = value & RTC_WUTR_WUT;
      break;
    case kCR: {
      // WUCKSEL changes only while the timer is stopped (WUTWF).
      uint32_t cr = value;
      if (!(icsr & RTC_ICSR_WUTWF)) cr = (cr & ~RTC_CR_WUCKSEL) | (regs_[kCR / 4] & RTC_CR_WUCKSEL);
      regs_[kCR / 4] = cr;
      sim::RtcModel& rtc = model(chip_);
      if (cr & RTC_CR_WUTE) {
        (void)rtc.armWakeUp(regs_[kWUTR / 4], cr & RTC_CR_WUCKSEL, (cr & RTC_CR_WUTIE) != 0);
      } else {
        rtc.disarmWakeUp();
      }
      break;
    }
    case kSR:
    case kMISR:
    case kSCR: return;  // no alarm or timestamp runs; the wake-up flag is seen only from standby
    default:
      if (offset / 4 < regs_.size()) regs_[offset / 4] = value;
      return;
  }
  keep();
}

uint32_t TampFront::read(uint32_t offset) {
  if (offset >= kTampBkp0) return model(chip_).readBackup((offset - kTampBkp0) / 4);
  return offset / 4 < regs_.size() ? regs_[offset / 4] : 0;
}

void TampFront::write(uint32_t offset, uint32_t value) {
  if (offset >= kTampBkp0) {
    model(chip_).writeBackup((offset - kTampBkp0) / 4, value);  // ignored without PWR_CR1.DBP
    return;
  }
  if (offset / 4 < regs_.size() && model(chip_).backupAccess()) regs_[offset / 4] = value;
}

}  // namespace emu
