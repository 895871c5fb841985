// The emulated Cortex-M0+: slices of execution between the board's events, exceptions, sleep.
#include "core.h"

#include <cstdio>
#include <cstdlib>

#include "board.h"
#include "m0_timing.h"

namespace emu {

namespace {

constexpr uint32_t kFlashBase = 0x08000000;
constexpr uint32_t kFlashSize = 0x20000;
constexpr uint64_t kSliceUs = 1000;  // the longest stretch the core runs before the board looks around
constexpr uint32_t kExcReturnThread = 0xFFFFFFF9;
constexpr uint32_t kExcReturnHandler = 0xFFFFFFF1;
constexpr uint32_t kStackAligned = 1u << 9;  // xPSR bit 9 in a stacked frame: one word of padding
constexpr uint32_t kThumb = 1u << 24;
constexpr uint32_t kExceptionExit = 8;  // QEMU's EXCP_EXCEPTION_EXIT: a branch to EXC_RETURN
constexpr uint32_t kHardFault = 3;
constexpr uint32_t kNmi = 2;
constexpr uint16_t kWfi = 0xBF30;
constexpr uint16_t kWfe = 0xBF20;

const int kFrameRegs[6] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3, UC_ARM_REG_R12, UC_ARM_REG_LR};

}  // namespace

Core::Core(sim::Board& board) : board_(board) {
  if (uc_open(UC_ARCH_ARM, static_cast<uc_mode>(UC_MODE_THUMB | UC_MODE_MCLASS), &uc_) != UC_ERR_OK ||
      uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M0) != UC_ERR_OK) {
    std::fprintf(stderr, "orvane-emu: cannot open the Cortex-M0 core of libunicorn\n");
    std::exit(2);
  }
  uc_hook_add(uc_, &blockHook_, UC_HOOK_BLOCK, reinterpret_cast<void*>(&Core::onBlock), this, 1, 0);
  uc_hook_add(uc_, &intrHook_, UC_HOOK_INTR, reinterpret_cast<void*>(&Core::onInterrupt), this, 1, 0);
  flashBlocks_.resize(kFlashSize / 2);
  board_.interrupts().setTakenByCore(true);
  anchorToBoard();
}

Core::~Core() {
  if (uc_ != nullptr) uc_close(uc_);
}

uint32_t Core::reg(int id) const {
  uint32_t v = 0;
  uc_reg_read(uc_, id, &v);
  return v;
}

void Core::setReg(int id, uint32_t value) { uc_reg_write(uc_, id, &value); }

uint32_t Core::word(uint32_t address) const {
  uint32_t v = 0;
  uc_mem_read(uc_, address, &v, 4);
  return v;
}

// ---- time ---------------------------------------------------------------------------------------

uint64_t Core::nowUs() const { return anchorUs_ + (cycles_ - anchorCycles_) * 1000000ull / clockHz_; }

uint64_t Core::nowNs() const { return anchorUs_ * 1000 + (cycles_ - anchorCycles_) * 1000000000ull / clockHz_; }

void Core::anchorToBoard() {
  anchorUs_ = board_.nowUs();
  anchorCycles_ = cycles_;
}

void Core::setClockHz(uint32_t hz) {
  if (hz == 0 || hz == clockHz_) return;
  sync();
  anchorToBoard();
  clockHz_ = hz;
}

void Core::sync() {
  const uint64_t now = nowUs();
  if (now > board_.nowUs()) board_.busyWait(now - board_.nowUs());
  // Keep the span since the anchor short: whole microseconds move into it, the cycles left over stay.
  const uint64_t elapsedUs = now - anchorUs_;
  if (elapsedUs > 1000000) {
    anchorUs_ = now;
    anchorCycles_ += elapsedUs * clockHz_ / 1000000ull;
  }
}

void Core::afterAccess() {
  if (board_.nowUs() > nowUs()) anchorToBoard();  // the core was stalled meanwhile
  const uint64_t next = board_.nextEventUs();
  if (next != sim::kNever && next >= anchorUs_) {
    const uint64_t at = anchorCycles_ + (next - anchorUs_) * clockHz_ / 1000000ull;
    if (at < stopAtCycles_) stopAtCycles_ = at;
  }
}

void Core::planSlice() {
  const uint64_t now = nowUs();
  uint64_t until = board_.nextEventUs();
  if (until > now + kSliceUs) until = now + kSliceUs;
  if (until <= now) until = now + 1;
  stopAtCycles_ = anchorCycles_ + ((until - anchorUs_) * clockHz_ + 999999) / 1000000ull;
}

// ---- execution ----------------------------------------------------------------------------------

const Core::Block& Core::blockAt(uint32_t address, uint32_t size) {
  Block* slot = nullptr;
  if (address >= kFlashBase && address < kFlashBase + kFlashSize) {
    slot = &flashBlocks_[(address - kFlashBase) / 2];
  } else {
    slot = &otherBlocks_[address];
  }
  if (slot->size == size) return *slot;
  Block b;
  b.size = size;
  // A translated block holds at most 512 instructions (QEMU's limit): 2 KiB of Thumb code at most.
  uint16_t code[1024];
  const uint32_t bytes = size < sizeof code ? size : static_cast<uint32_t>(sizeof code);
  uc_mem_read(uc_, address, code, bytes);
  uint16_t last = 0;
  for (uint32_t at = 0; at + 1 < bytes;) {
    const uint16_t hw = code[at / 2];
    b.cycles += m0Cycles(hw, false);
    ++b.instructions;
    last = hw;
    at += isWide(hw) ? 4 : 2;
  }
  b.conditionalBranch = isConditionalBranch(last);
  b.endsInSleep = last == kWfi || last == kWfe;
  *slot = b;
  return *slot;
}

void Core::onBlock(uc_engine* uc, uint64_t address, uint32_t size, void* self) {
  Core& c = *static_cast<Core*>(self);
  // The branch that ended the previous block was taken: one more cycle.
  if (c.prevConditional_ && address != c.prevEnd_) ++c.cycles_;
  c.prevConditional_ = false;
  const Block& b = c.blockAt(static_cast<uint32_t>(address), size);
  IRQn_Type irq;
  const bool sliceOver = c.cycles_ + b.cycles > c.stopAtCycles_ && c.instructionsInSlice_ != 0;
  if (sliceOver || c.interruptToTake(irq)) {
    c.stopped_ = true;  // the block runs in the next slice
    uc_emu_stop(uc);
    return;
  }
  c.cycles_ += b.cycles;
  c.instructions_ += b.instructions;
  c.instructionsInSlice_ += b.instructions;
  c.prevEnd_ = static_cast<uint32_t>(address) + size;
  c.prevConditional_ = b.conditionalBranch;
  c.sleepPending_ = b.endsInSleep;
}

void Core::onInterrupt(uc_engine* uc, uint32_t number, void* self) {
  Core& c = *static_cast<Core*>(self);
  if (number == kExceptionExit) {
    c.pendingExit_ = true;
  } else {
    c.fault_ = static_cast<int>(number);
  }
  uc_emu_stop(uc);
}

// ---- exceptions ---------------------------------------------------------------------------------

int Core::priorityOf(IRQn_Type irq) const {
  if (irq == NonMaskableInt_IRQn) return -2;
  if (irq == HardFault_IRQn) return -1;
  return board_.interrupts().priority(irq);
}

int Core::currentPriority() const {
  int level = 4;  // thread mode: below every configurable level
  for (uint32_t exc : active_) {
    const int p = priorityOf(static_cast<IRQn_Type>(static_cast<int>(exc) - 16));
    if (p < level) level = p;
  }
  if ((reg(UC_ARM_REG_PRIMASK) & 1u) != 0 && level > 0) level = 0;
  return level;
}

bool Core::interruptToTake(IRQn_Type& irq) {
  if (!board_.interrupts().anyReady()) return false;
  if (!board_.interrupts().nextReady(irq)) return false;
  return priorityOf(irq) < currentPriority();
}

void Core::enter(IRQn_Type irq) {
  const uint32_t exc = static_cast<uint32_t>(static_cast<int>(irq) + 16);
  uint32_t sp = reg(UC_ARM_REG_SP);
  const uint32_t xpsr = reg(UC_ARM_REG_XPSR);
  uint32_t frame[8];
  for (int i = 0; i < 6; ++i) frame[i] = reg(kFrameRegs[i]);
  frame[6] = pc_ & ~1u;
  frame[7] = xpsr & ~kStackAligned;
  if ((sp & 4u) != 0) {  // the frame starts on an 8-byte boundary
    sp -= 4;
    frame[7] |= kStackAligned;
  }
  sp -= sizeof frame;
  uc_mem_write(uc_, sp, frame, sizeof frame);
  setReg(UC_ARM_REG_SP, sp);
  setReg(UC_ARM_REG_LR, active_.empty() ? kExcReturnThread : kExcReturnHandler);
  setReg(UC_ARM_REG_XPSR, (xpsr & ~0x1FFu) | kThumb | exc);
  board_.interrupts().clear(irq);
  active_.push_back(exc);
  ++taken_[exc];
  pc_ = word(vtor_ + 4 * exc) & ~1u;
  cycles_ += kExceptionEntryCycles;
  prevConditional_ = false;
}

void Core::leave(uint32_t excReturn) {
  if (active_.empty() || (excReturn & 0xFu) == 0xCu)
    stopOnLockup("exception return without an exception, or to the process stack");
  uint32_t sp = reg(UC_ARM_REG_SP);
  uint32_t frame[8];
  uc_mem_read(uc_, sp, frame, sizeof frame);
  for (int i = 0; i < 6; ++i) setReg(kFrameRegs[i], frame[i]);
  sp += sizeof frame + ((frame[7] & kStackAligned) != 0 ? 4 : 0);
  setReg(UC_ARM_REG_SP, sp);
  setReg(UC_ARM_REG_XPSR, (frame[7] & ~kStackAligned) | kThumb);
  active_.pop_back();
  pc_ = frame[6] & ~1u;
  cycles_ += kExceptionReturnCycles;
  prevConditional_ = false;
}

void Core::busFault(uint32_t address, bool write) {
  std::fprintf(stderr, "orvane-emu: bus fault: %s of 0x%08x\n", write ? "write" : "read",
               static_cast<unsigned>(address));
  fault_ = -1;
  uc_emu_stop(uc_);
}

void Core::requestReset() {
  resetRequested_ = true;
  uc_emu_stop(uc_);
}

void Core::stopOnLockup(const std::string& why) {
  std::fprintf(stderr, "orvane-emu: the core locks up (%s) at pc 0x%08x\n", why.c_str(), static_cast<unsigned>(pc_));
  board_.exitSim(3, "lockup");
}

// ---- sleep --------------------------------------------------------------------------------------

void Core::sleep() {
  sync();
  // A pending interrupt that would be taken with PRIMASK clear ends WFI at once, even with PRIMASK
  // set; in deep sleep it also keeps the chip out of standby.
  if (board_.interrupts().anyReady()) return;
  if (sleep_.deepSleepIsStandby && sleep_.deepSleepIsStandby()) {
    sleep_.enterStandby();
    return;
  }
  board_.waitForInterrupt();
  anchorToBoard();
}

// ---- the run ------------------------------------------------------------------------------------

void Core::run() {
  runUntil([] { return false; });
  std::abort();
}

void Core::runUntil(const std::function<bool()>& done) {
  if (!started_) {
    started_ = true;
    setReg(UC_ARM_REG_SP, word(vtor_));
    pc_ = word(vtor_ + 4) & ~1u;
    setReg(UC_ARM_REG_XPSR, kThumb);
    anchorToBoard();
  }
  while (!done()) {
    IRQn_Type irq;
    if (faultInjected_) {
      faultInjected_ = false;
      std::fprintf(stderr, "orvane-emu: injected fault at pc 0x%08x\n", static_cast<unsigned>(pc_));
      enter(HardFault_IRQn);
    } else if (interruptToTake(irq)) {
      enter(irq);
    }
    planSlice();
    stopped_ = pendingExit_ = sleepPending_ = false;
    fault_ = 0;
    instructionsInSlice_ = 0;
    const uc_err err = uc_emu_start(uc_, pc_ | 1u, 0, 0, 0);
    pc_ = reg(UC_ARM_REG_PC);
    if (resetRequested_) {
      sync();
      board_.restart(sim::ResetKind::software);
    }
    if (err != UC_ERR_OK || fault_ != 0) {
      const bool inFault = !active_.empty() && (active_.back() == kHardFault || active_.back() == kNmi);
      if (inFault) stopOnLockup(err != UC_ERR_OK ? uc_strerror(err) : "a fault in a fault handler");
      std::fprintf(stderr, "orvane-emu: hard fault at pc 0x%08x: %s\n", static_cast<unsigned>(pc_),
                   err != UC_ERR_OK ? uc_strerror(err) : "CPU exception");
      enter(HardFault_IRQn);
    } else if (pendingExit_) {
      leave(pc_);
    } else if (!stopped_ && sleepPending_) {
      sleep();
    }
    sync();
  }
}

}  // namespace emu
