// RCC of the emulated STM32G070.
#include "rcc_front.h"

#include <cstddef>

#include "board.h"
#include "chip.h"
#include "reg_rcc.h"
#include "rtc_model.h"
#include "scs_front.h"

namespace emu {

namespace {

constexpr uint32_t reg(uint32_t offset) { return offset / 4; }
constexpr uint32_t kCR = offsetof(RCC_TypeDef, CR);
constexpr uint32_t kICSCR = offsetof(RCC_TypeDef, ICSCR);
constexpr uint32_t kCFGR = offsetof(RCC_TypeDef, CFGR);
constexpr uint32_t kPLLCFGR = offsetof(RCC_TypeDef, PLLCFGR);
constexpr uint32_t kCIFR = offsetof(RCC_TypeDef, CIFR);
constexpr uint32_t kCICR = offsetof(RCC_TypeDef, CICR);
constexpr uint32_t kIOPRSTR = offsetof(RCC_TypeDef, IOPRSTR);
constexpr uint32_t kAPBRSTR2 = offsetof(RCC_TypeDef, APBRSTR2);
constexpr uint32_t kAHBENR = offsetof(RCC_TypeDef, AHBENR);
constexpr uint32_t kBDCR = offsetof(RCC_TypeDef, BDCR);
constexpr uint32_t kCSR = offsetof(RCC_TypeDef, CSR);

// Shift of each HPRE and PPRE code: the dividers are powers of two.
constexpr uint8_t kAhbShift[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 6, 7, 8, 9};
constexpr uint8_t kApbShift[8] = {0, 0, 0, 0, 1, 2, 3, 4};

// Bits the registers keep (the rest read as zero).
constexpr uint32_t kCrWritable = RCC_CR_HSION | RCC_CR_HSIKERON | RCC_CR_HSIDIV | RCC_CR_HSEON | RCC_CR_HSEBYP |
                                 RCC_CR_CSSON | RCC_CR_PLLON;
constexpr uint32_t kCfgrWritable = RCC_CFGR_SW | RCC_CFGR_HPRE | RCC_CFGR_PPRE | RCC_CFGR_MCOSEL | RCC_CFGR_MCOPRE;

}  // namespace

RccFront::RccFront(Chip& chip) : chip_(chip) {
  // Reset values (reference manual, RCC register descriptions).
  regs_[reg(kCR)] = RCC_CR_HSION;             // HSI16 on, undivided
  regs_[reg(kICSCR)] = 64u << RCC_ICSCR_HSITRIM_Pos;
  regs_[reg(kPLLCFGR)] = 16u << RCC_PLLCFGR_PLLN_Pos;
  regs_[reg(kAHBENR)] = RCC_AHBENR_FLASHEN;
  // The reset flags of this start, as the board's state folder says how it came about.
  regs_[reg(kCSR)] = chip_.board().csr() & 0xFF000000u;
}

bool RccFront::sourceReady(uint32_t sw) const {
  const uint32_t cr = regs_[reg(kCR)];
  switch (sw) {
    case RCC_CFGR_SW_HSISYS: return (cr & RCC_CR_HSION) != 0;
    case RCC_CFGR_SW_PLLRCLK: return (cr & RCC_CR_PLLON) != 0 && (regs_[reg(kPLLCFGR)] & RCC_PLLCFGR_PLLSRC) == RCC_PLLCFGR_PLLSRC_HSI;
    case RCC_CFGR_SW_LSI: return (regs_[reg(kCSR)] & RCC_CSR_LSION) != 0;
    default: return false;  // no crystal is fitted on this board: HSE and LSE never start
  }
}

uint32_t RccFront::sourceHz(uint32_t sw) const {
  switch (sw) {
    case RCC_CFGR_SW_HSISYS: return HSI16_VALUE >> ((regs_[reg(kCR)] & RCC_CR_HSIDIV) >> RCC_CR_HSIDIV_Pos);
    case RCC_CFGR_SW_PLLRCLK: {
      const uint32_t cfg = regs_[reg(kPLLCFGR)];
      const uint32_t m = ((cfg & RCC_PLLCFGR_PLLM) >> RCC_PLLCFGR_PLLM_Pos) + 1;
      const uint32_t n = (cfg & RCC_PLLCFGR_PLLN) >> RCC_PLLCFGR_PLLN_Pos;
      const uint32_t r = ((cfg & RCC_PLLCFGR_PLLR) >> RCC_PLLCFGR_PLLR_Pos) + 1;
      return static_cast<uint32_t>(static_cast<uint64_t>(HSI16_VALUE) / m * n / r);
    }
    case RCC_CFGR_SW_LSI: return chip_.board().rtc().lsiHz();
    default: return 0;
  }
}

uint32_t RccFront::sysclkHz() const { return sourceHz((regs_[reg(kCFGR)] & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos); }

uint32_t RccFront::hclkHz() const {
  return sysclkHz() >> kAhbShift[(regs_[reg(kCFGR)] & RCC_CFGR_HPRE) >> RCC_CFGR_HPRE_Pos];
}

uint32_t RccFront::pclkHz() const {
  return hclkHz() >> kApbShift[(regs_[reg(kCFGR)] & RCC_CFGR_PPRE) >> RCC_CFGR_PPRE_Pos];
}

uint32_t RccFront::usart1KernelHz() const {
  switch ((regs_[reg(offsetof(RCC_TypeDef, CCIPR))] & RCC_CCIPR_USART1SEL) >> RCC_CCIPR_USART1SEL_Pos) {
    case RCC_CCIPR_USART1SEL_SYSCLK: return sysclkHz();
    case RCC_CCIPR_USART1SEL_HSI16: return (regs_[reg(kCR)] & (RCC_CR_HSION | RCC_CR_HSIKERON)) ? HSI16_VALUE : 0;
    case RCC_CCIPR_USART1SEL_LSE: return 0;  // no crystal
    default: return pclkHz();
  }
}

uint32_t RccFront::read(uint32_t offset) {
  uint32_t v = regs_[reg(offset)];
  switch (offset) {
    case kCR:  // the ready flags follow their enables
      if (v & RCC_CR_HSION) v |= RCC_CR_HSIRDY;
      if (sourceReady(RCC_CFGR_SW_PLLRCLK)) v |= RCC_CR_PLLRDY;
      return v;
    case kICSCR: return v | 0x40u;  // HSICAL: the factory trimming of this chip
    case kCSR: return (v & RCC_CSR_LSION) ? (v | RCC_CSR_LSIRDY) : v;
    case kBDCR: return chip_.board().rtc().domainRegisters().bdcr;  // kept with the RTC domain
    default: return v;
  }
}

void RccFront::write(uint32_t offset, uint32_t value) {
  uint32_t& r = regs_[reg(offset)];
  const uint32_t hclkBefore = hclkHz();
  switch (offset) {
    case kCR:
      // HSI16 cannot stop while it clocks the system.
      if (((regs_[reg(kCFGR)] & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos) == RCC_CFGR_SW_HSISYS) value |= RCC_CR_HSION;
      r = value & kCrWritable;
      break;
    case kICSCR: r = value & RCC_ICSCR_HSITRIM; break;
    case kCFGR: {
      // The switch happens when the source is ready; SWS then shows it.
      const uint32_t sw = value & RCC_CFGR_SW;
      const uint32_t sws = sourceReady(sw) ? sw : (r & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos;
      r = (value & kCfgrWritable) | (sws << RCC_CFGR_SWS_Pos);
      break;
    }
    case kCIFR: break;  // read-only
    case kCICR: regs_[reg(kCIFR)] &= ~value; break;
    case kBDCR: {
      // The RTC domain takes writes only with PWR_CR1.DBP; BDRST resets it, backup registers included.
      sim::RtcModel& rtc = chip_.board().rtc();
      if (!rtc.backupAccess()) break;
      if (value & RCC_BDCR_BDRST) {  // held in reset while BDRST is set
        rtc.resetDomain();
        value = RCC_BDCR_BDRST;
      }
      sim::RtcModel::DomainRegisters kept = rtc.domainRegisters();
      kept.bdcr = value & (RCC_BDCR_LSEON | RCC_BDCR_LSEBYP | RCC_BDCR_LSEDRV | RCC_BDCR_RTCSEL | RCC_BDCR_RTCEN |
                           RCC_BDCR_BDRST | RCC_BDCR_LSCOEN | RCC_BDCR_LSCOSEL);
      rtc.setDomainRegisters(kept);
      break;
    }
    case kCSR:
      if (value & RCC_CSR_RMVF) chip_.board().writeCsr(value);
      r = (r & 0xFF000000u & ((value & RCC_CSR_RMVF) ? 0u : ~0u)) | (value & RCC_CSR_LSION);
      break;
    default:
      if (offset >= kIOPRSTR && offset <= kAPBRSTR2) resetPeripherals(offset, value & ~r);
      r = value;
      break;
  }
  if (hclkHz() != hclkBefore) {
    chip_.core().setClockHz(hclkHz());
    chip_.scs().clockChanged();
  }
}

void RccFront::resetPeripherals(uint32_t offset, uint32_t bits) {
  for (const Block& b : chip_.blocks()) {
    // A block is reset by the bit of the reset register that matches its enable bit.
    if (b.enableRegister == offset + (kAHBENR - offsetof(RCC_TypeDef, AHBRSTR)) && (bits & b.enableBit) != 0) {
      b.front->reset();
    }
  }
}

}  // namespace emu
