// The flash interface of the emulated STM32G070.
#include "flash_front.h"

#include <cstddef>
#include <cstdio>

#include "board.h"
#include "chip.h"
#include "flash_model.h"
#include "interrupt_controller.h"
#include "reg_flash.h"

namespace emu {

namespace {

constexpr uint32_t kACR = offsetof(FLASH_TypeDef, ACR);
constexpr uint32_t kKEYR = offsetof(FLASH_TypeDef, KEYR);
constexpr uint32_t kSR = offsetof(FLASH_TypeDef, SR);
constexpr uint32_t kCR = offsetof(FLASH_TypeDef, CR);
constexpr uint32_t kECCR = offsetof(FLASH_TypeDef, ECCR);
constexpr uint32_t kOPTR = offsetof(FLASH_TypeDef, OPTR);
constexpr uint32_t kWRP1AR = offsetof(FLASH_TypeDef, WRP1AR);
constexpr uint32_t kWRP1BR = offsetof(FLASH_TypeDef, WRP1BR);

constexpr uint32_t kFactoryOptionBytes = 0xDFFFE1AA;  // FLASH_OPTR as the option bytes leave the factory
// Errors left from an earlier operation stop the next one (PGSERR).
constexpr uint32_t kSequenceErrors = FLASH_SR_PROGERR | FLASH_SR_SIZERR | FLASH_SR_PGAERR | FLASH_SR_WRPERR |
                                     FLASH_SR_MISSERR | FLASH_SR_FASTERR | FLASH_SR_PGSERR;
constexpr uint32_t kPageOffset = Chip::kConfigPage - Chip::kFlashBase;

sim::FlashModel& model(Chip& chip) { return chip.board().flash(); }

}  // namespace

FlashFront::FlashFront(Chip& chip) : chip_(chip) { reset(); }

void FlashFront::reset() {
  acr_ = FLASH_ACR_ICEN | FLASH_ACR_PRFTEN | FLASH_ACR_DBG_SWEN;
  sr_ = 0;
  cr_ = FLASH_CR_LOCK | FLASH_CR_OPTLOCK;
  eccr_ = 0;
  wrp1ar_ = wrp1br_ = 0x000000FF;  // no area protected (start above end)
  keyStage_ = 0;
  lockedUntilReset_ = false;
  lowWordLatched_ = false;
  model(chip_).lock();
}

uint32_t FlashFront::read(uint32_t offset) {
  switch (offset) {
    case kACR: return acr_;
    case kSR: return sr_;  // the core stalls while the flash is busy: code never sees BSY1
    case kCR: return cr_;
    case kECCR: return eccr_;
    case kOPTR: return kFactoryOptionBytes;
    case kWRP1AR: return wrp1ar_;
    case kWRP1BR: return wrp1br_;
    default: return 0;
  }
}

void FlashFront::write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case kACR:
      acr_ = value & (FLASH_ACR_LATENCY | FLASH_ACR_PRFTEN | FLASH_ACR_ICEN | FLASH_ACR_DBG_SWEN);
      return;
    case kKEYR:
      if (!(cr_ & FLASH_CR_LOCK) || lockedUntilReset_) return;
      if (keyStage_ == 0 && value == FLASH_KEYR_KEY1) {
        keyStage_ = 1;
      } else if (keyStage_ == 1 && value == FLASH_KEYR_KEY2) {
        keyStage_ = 0;
        cr_ &= ~FLASH_CR_LOCK;
        model(chip_).unlock();
      } else {
        lockedUntilReset_ = true;  // a wrong sequence locks FLASH_CR until the next reset
      }
      return;
    case kSR: sr_ &= ~(value & (FLASH_SR_ERRORS | FLASH_SR_EOP)); return;  // write 1 to clear
    case kCR:
      if (cr_ & FLASH_CR_LOCK) return;  // locked: ignored
      cr_ = (value & ~FLASH_CR_STRT) | (cr_ & FLASH_CR_OPTLOCK);  // OPTLOCK clears only with its keys
      if (value & FLASH_CR_LOCK) {
        model(chip_).lock();
        lowWordLatched_ = false;
      }
      if (value & FLASH_CR_STRT) start();
      return;
    case kECCR:
      eccr_ = (eccr_ & ~(value & (FLASH_ECCR_ECCC | FLASH_ECCR_ECCD))) & ~FLASH_ECCR_ECCCIE;
      eccr_ |= value & FLASH_ECCR_ECCCIE;
      return;
    case kWRP1AR: wrp1ar_ = value; return;
    case kWRP1BR: wrp1br_ = value; return;
    default: return;
  }
}

// An operation's end: EOP (only with EOPIE) or its error flag.
void FlashFront::done(int result) {
  switch (static_cast<sim::FlashModel::Result>(result)) {
    case sim::FlashModel::Result::ok:
      if (cr_ & FLASH_CR_EOPIE) sr_ |= FLASH_SR_EOP;
      break;
    case sim::FlashModel::Result::notErased: sr_ |= FLASH_SR_PROGERR; break;
    case sim::FlashModel::Result::locked: sr_ |= FLASH_SR_WRPERR; break;
    case sim::FlashModel::Result::badAddress: sr_ |= FLASH_SR_PGAERR; break;
    case sim::FlashModel::Result::fault: sr_ |= FLASH_SR_OPERR; break;
  }
}

void FlashFront::start() {
  if (sr_ & kSequenceErrors) {
    sr_ |= FLASH_SR_PGSERR;
    return;
  }
  if ((cr_ & FLASH_CR_PER) && !(cr_ & (FLASH_CR_PG | FLASH_CR_MER1))) {
    const uint32_t page = (cr_ & FLASH_CR_PNB) >> FLASH_CR_PNB_Pos;
    if (page != sim::FlashModel::kPageIndex) {
      std::fprintf(stderr, "orvane-emu: an erase of flash page %u (the program) is not modelled\n",
                   static_cast<unsigned>(page));
      chip_.board().exitSim(3, "program flash erased");
    }
    done(static_cast<int>(model(chip_).erasePage(page)));
    return;
  }
  if (cr_ & FLASH_CR_MER1) {
    std::fprintf(stderr, "orvane-emu: a mass erase of the flash is not modelled\n");
    chip_.board().exitSim(3, "mass erase");
  }
  sr_ |= FLASH_SR_PGSERR;  // STRT with neither PER nor MER1, or with PG
}

// Programming: the low word, then the high word of a double word, each a 32-bit write with PG set.
void FlashFront::program(uint32_t offset, unsigned size, uint32_t value) {
  if (!(cr_ & FLASH_CR_PG) || (sr_ & kSequenceErrors)) {
    sr_ |= FLASH_SR_PGSERR;
    lowWordLatched_ = false;
    return;
  }
  if (size != 4) {
    sr_ |= FLASH_SR_SIZERR;
    lowWordLatched_ = false;
    return;
  }
  if (!lowWordLatched_) {
    if (offset % 8 != 0) {
      sr_ |= FLASH_SR_PGAERR;
      return;
    }
    lowWordLatched_ = true;
    latchedOffset_ = offset;
    lowWord_ = value;
    return;
  }
  lowWordLatched_ = false;
  if (offset != latchedOffset_ + 4) {
    sr_ |= FLASH_SR_PGAERR;  // the second word is not the first one's neighbour
    return;
  }
  done(static_cast<int>(model(chip_).program(latchedOffset_, lowWord_ | (static_cast<uint64_t>(value) << 32))));
}

// A read of a double word that fails its ECC check: ECCD with its address, and the NMI. A second
// error while ECCD is set keeps the first one's address.
void FlashFront::eccCheck(uint32_t offset) {
  if (!model(chip_).eccError(offset) || (eccr_ & FLASH_ECCR_ECCD)) return;
  eccr_ = (eccr_ & FLASH_ECCR_ECCCIE) | FLASH_ECCR_ECCD | (((kPageOffset + offset) / 8) & FLASH_ECCR_ADDR_ECC);
  chip_.board().interrupts().pend(NonMaskableInt_IRQn);
}

uint32_t FlashFront::Page::peek(uint32_t offset) {
  const uint8_t* p = flash_.chip_.board().flash().page() + (offset & ~3u);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t FlashFront::Page::readSized(uint32_t offset, unsigned size) {
  flash_.eccCheck(offset);
  const uint8_t* p = flash_.chip_.board().flash().page() + offset;
  uint32_t v = 0;
  for (unsigned i = 0; i < size; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

void FlashFront::Page::writeSized(uint32_t offset, unsigned size, uint32_t value) {
  flash_.program(offset, size, value);
}

}  // namespace emu
