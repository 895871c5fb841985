// The Cortex-M0+ of the emulated STM32G070, on libunicorn's ARMv6-M core. Unicorn executes the
// instructions; around it this class keeps the architecture's parts that Unicorn leaves out: time
// from executed instructions (each translated block weighed once with the core's cycle timings, at
// the clock RCC selects), exception entry and return with priorities and PRIMASK, WFI (a pending
// interrupt ends it at once, even with PRIMASK set; otherwise time jumps to the next event), and
// the board's clock kept in step with the core's.
#pragma once

#include <unicorn/unicorn.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "stm32g0xx_hal_cortex.h"

namespace sim {
class Board;
}

namespace emu {

class Core {
 public:
  // What the chip decides for the core: whether a deep sleep is standby, and entering it.
  struct SleepHooks {
    std::function<bool()> deepSleepIsStandby;
    std::function<void()> enterStandby;  // returns only when standby cannot be entered
  };

  explicit Core(sim::Board& board);
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  uc_engine* uc() { return uc_; }
  void setSleepHooks(SleepHooks hooks) { sleep_ = std::move(hooks); }

  // Time. The core runs ahead of the board between its accesses to the peripherals; sync() lets the
  // board catch up (devices fire, interrupts pend) before a register front acts on a model.
  uint64_t nowUs() const;
  uint64_t nowNs() const;
  uint64_t cycles() const { return cycles_; }
  uint32_t clockHz() const { return clockHz_; }
  void setClockHz(uint32_t hz);
  void sync();
  // After a front acted on a model: a new event may fall due before the slice was to end, and time
  // the model spent with the core stalled (a flash erase) has passed.
  void afterAccess();

  // The exception model: the vector table's base (SCB_VTOR), the one active (ICSR VECTACTIVE).
  void setVectorTable(uint32_t address) { vtor_ = address; }
  uint32_t vectorTable() const { return vtor_; }
  uint32_t activeException() const { return active_.empty() ? 0 : active_.back(); }
  // A fault the chip's bus raises (an access the memory map does not answer): a HardFault.
  void busFault(uint32_t address, bool write);
  // Tests: the next instruction the core executes takes a fault, as an access the memory map does
  // not answer would (a HardFault with that instruction's address stacked).
  void injectFault() { faultInjected_ = true; }
  // SCB_AIRCR.SYSRESETREQ: the chip resets once the running instruction has completed.
  void requestReset();

  // Runs from the reset vector; never returns (the board restarts or exits the process).
  [[noreturn]] void run();
  // Runs (from the reset vector the first time) until `done()` holds, checked between slices of
  // execution: tests drive the chip this way.
  void runUntil(const std::function<bool()>& done);

  // Statistics of the run so far: instructions executed, exceptions entered by number.
  uint64_t instructions() const { return instructions_; }
  uint64_t exceptionsTaken(uint32_t number) const { return number < taken_.size() ? taken_[number] : 0; }

 private:
  struct Block {
    uint32_t size = 0;
    uint32_t cycles = 0;
    uint32_t instructions = 0;
    bool conditionalBranch = false;  // its last instruction: +1 cycle when taken
    bool endsInSleep = false;        // its last instruction is WFI or WFE
  };
  static void onBlock(uc_engine* uc, uint64_t address, uint32_t size, void* self);
  static void onInterrupt(uc_engine* uc, uint32_t number, void* self);
  const Block& blockAt(uint32_t address, uint32_t size);
  bool interruptToTake(IRQn_Type& irq);
  int currentPriority() const;
  int priorityOf(IRQn_Type irq) const;
  void enter(IRQn_Type irq);
  void leave(uint32_t excReturn);
  void sleep();
  void planSlice();
  void anchorToBoard();
  uint32_t reg(int id) const;
  void setReg(int id, uint32_t value);
  uint32_t word(uint32_t address) const;
  [[noreturn]] void stopOnLockup(const std::string& why);

  sim::Board& board_;
  uc_engine* uc_ = nullptr;
  uc_hook blockHook_ = 0, intrHook_ = 0;
  SleepHooks sleep_;
  uint32_t clockHz_ = 16000000;  // HSI16 at reset
  uint64_t cycles_ = 0;
  uint64_t instructions_ = 0;
  uint64_t anchorUs_ = 0;      // the board's time when the core last took it
  uint64_t anchorCycles_ = 0;  // the core's cycles then
  uint64_t stopAtCycles_ = 0;  // end of the running slice
  uint64_t instructionsInSlice_ = 0;
  uint32_t pc_ = 0;            // where the core goes on
  bool stopped_ = false;       // the block hook ended the slice
  bool pendingExit_ = false;   // an exception return was asked for
  bool sleepPending_ = false;  // the last block ended in WFI or WFE
  bool resetRequested_ = false;
  bool faultInjected_ = false;
  bool started_ = false;
  int fault_ = 0;  // a CPU exception Unicorn raised (other than exception return)
  uint32_t prevEnd_ = 0;
  bool prevConditional_ = false;
  uint32_t vtor_ = 0x08000000;
  std::vector<uint32_t> active_;  // exception numbers being handled, innermost last
  std::array<uint64_t, 48> taken_{};
  std::vector<Block> flashBlocks_;
  std::unordered_map<uint32_t, Block> otherBlocks_;
};

}  // namespace emu
