// SysTick, NVIC and SCB of the emulated Cortex-M0+.
#include "scs_front.h"

#include "board.h"
#include "chip.h"
#include "interrupt_controller.h"
#include "rcc_front.h"
#include "reg_core.h"
#include "systick_model.h"

namespace emu {

namespace {

// Offsets in the system control space (0xE000E000).
constexpr uint32_t kSystCsr = SysTick_BASE - SCS_BASE;
constexpr uint32_t kSystRvr = kSystCsr + offsetof(SysTick_TypeDef, LOAD);
constexpr uint32_t kSystCvr = kSystCsr + offsetof(SysTick_TypeDef, VAL);
constexpr uint32_t kSystCalib = kSystCsr + offsetof(SysTick_TypeDef, CALIB);
constexpr uint32_t kIser = NVIC_BASE - SCS_BASE;
constexpr uint32_t kIcer = kIser + offsetof(NVIC_TypeDef, ICER);
constexpr uint32_t kIspr = kIser + offsetof(NVIC_TypeDef, ISPR);
constexpr uint32_t kIcpr = kIser + offsetof(NVIC_TypeDef, ICPR);
constexpr uint32_t kIpr = kIser + offsetof(NVIC_TypeDef, IPR);
constexpr uint32_t kCpuid = SCB_BASE - SCS_BASE;
constexpr uint32_t kIcsr = kCpuid + offsetof(SCB_TypeDef, ICSR);
constexpr uint32_t kVtor = kCpuid + offsetof(SCB_TypeDef, VTOR);
constexpr uint32_t kAircr = kCpuid + offsetof(SCB_TypeDef, AIRCR);
constexpr uint32_t kScr = kCpuid + offsetof(SCB_TypeDef, SCR);
constexpr uint32_t kCcr = kCpuid + offsetof(SCB_TypeDef, CCR);
constexpr uint32_t kShpr2 = kCpuid + offsetof(SCB_TypeDef, SHPR2);
constexpr uint32_t kShpr3 = kCpuid + offsetof(SCB_TypeDef, SHPR3);

constexpr uint32_t kCortexM0PlusCpuid = 0x410CC601;  // ARM, Cortex-M0+ r0p1
constexpr uint32_t kPriorityShift = 8 - NVIC_PRIO_BITS;

sim::InterruptController& nvic(Chip& chip) { return chip.board().interrupts(); }

}  // namespace

ScsFront::ScsFront(Chip& chip) : chip_(chip) {}

bool ScsFront::sleepDeep() const { return (scr_ & SCB_SCR_SLEEPDEEP) != 0; }

uint32_t ScsFront::tickClockHz() const {
  const uint32_t hclk = chip_.rcc().hclkHz();
  return (systCsr_ & SysTick_CTRL_CLKSOURCE) ? hclk : hclk / 8;
}

// The counter reloads: the tick comes RVR + 1 counts later, and every RVR + 1 counts from then.
void ScsFront::restartTick() {
  sim::SysTick& tick = chip_.board().sysTick();
  const uint64_t hz = tickClockHz();
  if (!(systCsr_ & SysTick_CTRL_ENABLE) || hz == 0) {
    tick.suspend();
    return;
  }
  tick.start(static_cast<uint32_t>((static_cast<uint64_t>(systRvr_) + 1) * 1000000ull / hz));
  if (!(systCsr_ & SysTick_CTRL_TICKINT)) tick.suspend();
}

void ScsFront::clockChanged() { restartTick(); }

void ScsFront::writeSysTickControl(uint32_t value) {
  const uint32_t before = systCsr_;
  systCsr_ = value & (SysTick_CTRL_ENABLE | SysTick_CTRL_TICKINT | SysTick_CTRL_CLKSOURCE);
  sim::SysTick& tick = chip_.board().sysTick();
  const bool wasOn = (before & SysTick_CTRL_ENABLE) != 0;
  const bool on = (systCsr_ & SysTick_CTRL_ENABLE) != 0;
  if (on && (!wasOn || ((before ^ systCsr_) & SysTick_CTRL_CLKSOURCE))) {
    restartTick();
  } else if (on) {
    // The counter runs on; only its interrupt comes and goes.
    if (systCsr_ & SysTick_CTRL_TICKINT) {
      tick.resume();
    } else {
      tick.suspend();
    }
  } else {
    tick.suspend();
  }
}

uint32_t ScsFront::pendingMask() const {
  uint32_t mask = 0;
  for (int irq = 0; irq < 32; ++irq) {
    if (nvic(chip_).pending(static_cast<IRQn_Type>(irq))) mask |= 1u << irq;
  }
  return mask;
}

uint32_t ScsFront::read(uint32_t offset) {
  sim::InterruptController& ic = nvic(chip_);
  if (offset >= kIpr && offset < kIpr + 32) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < 4; ++i) {
      v |= static_cast<uint32_t>(ic.priority(static_cast<IRQn_Type>((offset - kIpr) + i))) << (8 * i + kPriorityShift);
    }
    return v;
  }
  switch (offset) {
    case kSystCsr: return systCsr_;
    case kSystRvr: return systRvr_;
    case kSystCvr: {
      if (!(systCsr_ & SysTick_CTRL_ENABLE)) return 0;
      const sim::SysTick& tick = chip_.board().sysTick();
      const uint64_t leftUs = tick.nextTickUs() - chip_.board().nowUs();
      return static_cast<uint32_t>(leftUs * tickClockHz() / 1000000ull) & SysTick_VAL_CURRENT;
    }
    case kSystCalib: return 0;
    case kIser:
    case kIcer: {
      uint32_t mask = 0;
      for (int irq = 0; irq < 32; ++irq) {
        if (ic.enabled(static_cast<IRQn_Type>(irq))) mask |= 1u << irq;
      }
      return mask;
    }
    case kIspr:
    case kIcpr: return pendingMask();
    case kCpuid: return kCortexM0PlusCpuid;
    case kIcsr: {
      uint32_t v = chip_.core().activeException() & SCB_ICSR_VECTACTIVE;
      IRQn_Type next;
      if (ic.nextReady(next)) v |= static_cast<uint32_t>(next + 16) << SCB_ICSR_VECTPENDING_Pos;
      if (pendingMask() != 0) v |= SCB_ICSR_ISRPENDING;
      if (ic.pending(SysTick_IRQn)) v |= SCB_ICSR_PENDSTSET;
      if (ic.pending(PendSV_IRQn)) v |= SCB_ICSR_PENDSVSET;
      if (ic.pending(NonMaskableInt_IRQn)) v |= SCB_ICSR_NMIPENDSET;
      return v;
    }
    case kVtor: return chip_.core().vectorTable();
    case kAircr: return 0xFA050000u;  // VECTKEYSTAT; little-endian
    case kScr: return scr_;
    case kCcr: return SCB_CCR_STKALIGN | SCB_CCR_UNALIGN_TRP;  // fixed on ARMv6-M
    case kShpr2: return shpr2_;
    case kShpr3: return shpr3_;
    default: return 0;
  }
}

void ScsFront::write(uint32_t offset, uint32_t value) {
  sim::InterruptController& ic = nvic(chip_);
  if (offset >= kIpr && offset < kIpr + 32) {
    for (uint32_t i = 0; i < 4; ++i) {
      ic.setPriority(static_cast<IRQn_Type>((offset - kIpr) + i), static_cast<uint8_t>((value >> (8 * i)) >> kPriorityShift));
    }
    return;
  }
  switch (offset) {
    case kSystCsr: writeSysTickControl(value); return;
    case kSystRvr: systRvr_ = value & SysTick_LOAD_RELOAD; return;
    case kSystCvr: restartTick(); return;  // any write clears the counter: it reloads
    case kIser:
    case kIcer:
    case kIspr:
    case kIcpr:
      for (int irq = 0; irq < 32; ++irq) {
        if (!(value & (1u << irq))) continue;
        const IRQn_Type line = static_cast<IRQn_Type>(irq);
        if (offset == kIser) ic.enable(line, true);
        if (offset == kIcer) ic.enable(line, false);
        if (offset == kIspr) ic.pend(line);
        if (offset == kIcpr) ic.clear(line);
      }
      return;
    case kIcsr:
      if (value & SCB_ICSR_NMIPENDSET) ic.pend(NonMaskableInt_IRQn);
      if (value & SCB_ICSR_PENDSTSET) ic.pend(SysTick_IRQn);
      if (value & SCB_ICSR_PENDSTCLR) ic.clear(SysTick_IRQn);
      if (value & SCB_ICSR_PENDSVSET) ic.pend(PendSV_IRQn);
      if (value & SCB_ICSR_PENDSVCLR) ic.clear(PendSV_IRQn);
      return;
    case kVtor: chip_.core().setVectorTable(value & SCB_VTOR_TBLOFF); return;
    case kAircr:
      // Without its key a write is ignored.
      if ((value & SCB_AIRCR_VECTKEY) == SCB_AIRCR_VECTKEY_VALUE && (value & SCB_AIRCR_SYSRESETREQ)) {
        chip_.core().requestReset();
      }
      return;
    case kScr: scr_ = value & (SCB_SCR_SLEEPONEXIT | SCB_SCR_SLEEPDEEP | SCB_SCR_SEVONPEND); return;
    case kShpr2:
      shpr2_ = value & 0xC0000000u;
      ic.setPriority(SVC_IRQn, static_cast<uint8_t>(value >> 30));
      return;
    case kShpr3:
      shpr3_ = value & 0xC0C00000u;
      ic.setPriority(PendSV_IRQn, static_cast<uint8_t>((value >> 22) & 3u));
      ic.setPriority(SysTick_IRQn, static_cast<uint8_t>(value >> 30));
      return;
    default: return;
  }
}

}  // namespace emu
