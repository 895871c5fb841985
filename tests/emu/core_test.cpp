// The emulated Cortex-M0+ (ARMv6-M): WFI with an interrupt pending returns at once even with PRIMASK
// set, and otherwise sleeps until one; exception entry and return; the instructions' cycles.
#include <unicorn/unicorn.h>

#include <vector>

#include "chip_fixture.h"
#include "interrupt_controller.h"
#include "m0_timing.h"

namespace {

constexpr uint32_t kStackTop = 0x20002000;

// A program at the start of flash: the vector table, `code` from 0x100 with its literals from 0x120,
// and `handler` from 0x140 as the handler of interrupt line `irq`.
emu::ElfImage program(const std::vector<uint16_t>& code, const std::vector<uint16_t>& handler, int irq,
                      const std::vector<uint32_t>& literals = {}) {
  std::vector<uint8_t> flash(0x180, 0xFF);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) flash[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  auto put16 = [&](size_t at, uint16_t v) {
    flash[at] = static_cast<uint8_t>(v);
    flash[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  put32(0, kStackTop);
  put32(4, 0x08000101);
  put32(4 * (16 + static_cast<size_t>(irq)), 0x08000141);
  for (size_t i = 0; i < code.size(); ++i) put16(0x100 + 2 * i, code[i]);
  for (size_t i = 0; i < literals.size(); ++i) put32(0x120 + 4 * i, literals[i]);
  for (size_t i = 0; i < handler.size(); ++i) put16(0x140 + 2 * i, handler[i]);
  emu::ElfImage image;
  image.segments.push_back({0x08000000, flash});
  return image;
}

constexpr uint16_t kCpsid = 0xB672, kCpsie = 0xB662, kWfi = 0xBF30, kBSelf = 0xE7FE, kBxLr = 0x4770;
constexpr uint16_t movs(int reg, int value) { return static_cast<uint16_t>(0x2000 | (reg << 8) | value); }

class Core : public emu_test::ChipTest {
 protected:
  uint32_t reg(int id) {
    uint32_t v = 0;
    uc_reg_read(chip().core().uc(), id, &v);
    return v;
  }
  // Until r3 holds 3 (the program's end), or 10 ms. (Handlers set r4: the exception return restores
  // r0-r3 from the stacked frame.)
  void runToTheEnd() {
    const uint64_t limit = board().nowUs() + 10000;
    chip().runUntil([&] { return reg(UC_ARM_REG_R3) == 3 || board().nowUs() > limit; });
  }
};

// An enabled interrupt pending with PRIMASK set: WFI returns at once and the interrupt waits; taken
// once PRIMASK clears, through the vector table, and returned from to where the core left off.
TEST_F(Core, WfiReturnsAtOnceWithAnInterruptPendingEvenMasked) {
  // cpsid i; r0 = NVIC_ISPR; r1 = 1 << 9; pend DMA1 channel 1; wfi; r1 = 1; cpsie i; r3 = 3; b .
  newChip(program({kCpsid, 0x4807, 0x4907, 0x6001, kWfi, movs(1, 1), kCpsie, movs(3, 3), kBSelf},
                  {movs(4, 7), kBxLr}, DMA1_Channel1_IRQn, {0xE000E200, 1u << DMA1_Channel1_IRQn}));
  sim::InterruptController& nvic = board().interrupts();
  nvic.enable(DMA1_Channel1_IRQn, true);
  const uint64_t before = board().nowUs();
  chip().runUntil([&] { return reg(UC_ARM_REG_R1) == 1; });
  EXPECT_LE(board().nowUs() - before, 1u) << "the WFI slept";
  EXPECT_EQ(chip().core().exceptionsTaken(16 + DMA1_Channel1_IRQn), 0u) << "taken with PRIMASK set";
  runToTheEnd();
  EXPECT_EQ(reg(UC_ARM_REG_R4), 7u) << "the handler ran";
  EXPECT_EQ(chip().core().exceptionsTaken(16 + DMA1_Channel1_IRQn), 1u);
  EXPECT_EQ(reg(UC_ARM_REG_R3), 3u) << "back where it left off";
  EXPECT_EQ(reg(UC_ARM_REG_SP), kStackTop) << "the frame unstacked";
  EXPECT_FALSE(nvic.pending(DMA1_Channel1_IRQn));
}

// Nothing pending: the core sleeps until an interrupt (here TIM6's update 500 us later).
TEST_F(Core, WfiSleepsUntilAnInterrupt) {
  newChip(program({kCpsie, kWfi, movs(3, 3), kBSelf}, {movs(4, 7), kBxLr}, TIM6_IRQn));
  write(emu_test::kRccApbenr1, RCC_APBENR1_TIM6EN);
  write(TIM6_BASE + offsetof(TIM_TypeDef, PSC), 15);  // 1 MHz at the 16 MHz reset clock
  write(TIM6_BASE + offsetof(TIM_TypeDef, ARR), 499);
  write(TIM6_BASE + offsetof(TIM_TypeDef, EGR), TIM_EGR_UG);
  write(TIM6_BASE + offsetof(TIM_TypeDef, SR), 0);
  write(TIM6_BASE + offsetof(TIM_TypeDef, DIER), TIM_DIER_UIE);
  write(TIM6_BASE + offsetof(TIM_TypeDef, CR1), TIM_CR1_CEN);
  board().interrupts().enable(TIM6_IRQn, true);
  const uint64_t before = board().nowUs();
  chip().runUntil([&] { return reg(UC_ARM_REG_R4) == 7 || board().nowUs() > before + 10000; });
  EXPECT_EQ(reg(UC_ARM_REG_R4), 7u) << "the handler ran";
  EXPECT_NEAR(static_cast<double>(board().nowUs() - before), 500, 2) << "the update, then the handler's cycles";
}

// The cycle counter's rules (tools/m0_cycles), instruction by instruction.
TEST(M0Timing, CyclesOfEachKindOfInstruction) {
  struct Case {
    const char* name;
    uint16_t first;
    bool taken;
    unsigned cycles;
  };
  const Case cases[] = {
      {"adds r0, #1", 0x3001, false, 1},        {"muls r0, r1", 0x4348, false, 1},
      {"ldr r0, [r1]", 0x6808, false, 2},       {"str r1, [r0]", 0x6001, false, 2},
      {"ldr r0, [pc, #4]", 0x4801, false, 2},   {"ldr r0, [sp, #4]", 0x9801, false, 2},
      {"push {r4, lr}", 0xB510, false, 3},      {"pop {r4, pc}", 0xBD10, false, 4},
      {"pop {r4, r5}", 0xBC30, false, 3},       {"ldmia r0!, {r1-r3}", 0xC80E, false, 4},
      {"bne, taken", 0xD1FC, true, 2},          {"bne, not taken", 0xD1FC, false, 1},
      {"b", 0xE7FE, false, 2},                  {"bx lr", 0x4770, false, 2},
      {"bl (first half)", 0xF000, false, 3},    {"mov pc, r0", 0x4687, false, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(emu::m0Cycles(c.first, c.taken), c.cycles) << c.name;
  EXPECT_TRUE(emu::isWide(0xF000));
  EXPECT_FALSE(emu::isWide(0xE7FE));
}

}  // namespace
