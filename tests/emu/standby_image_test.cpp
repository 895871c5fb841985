// "sleep" on the emulated chip: before standby the image clears the wake-up flags WUF1, 2, 4, 5, 6
// and the standby flag in one write to PWR_SCR, whose bits the reference manual (RM0454) gives as
// CWUF1..CWUF6 at bits 0 to 5 and CSBF at bit 8: 0x0000013B (bit 16 is reserved).
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "image_on_chip.h"
#include "reg_pwr.h"

namespace {

using emu_test::ImageOnChip;
using emu_test::Restarted;

constexpr uint32_t kPwrScr = PWR_BASE + offsetof(PWR_TypeDef, SCR);

TEST(StandbyImage, ClearsTheWakeUpAndStandbyFlagsInOneWrite) {
  ImageOnChip on;
  ASSERT_TRUE(on.runUntilShown("\nnote:", 2000)) << on.console();
  ASSERT_TRUE(on.runUntil([](const std::string& out) { return out.back() == '\n'; }, 100));
  std::vector<uint32_t> scrWrites;
  on.chip().watchWrites([&](uint32_t address, uint32_t value) {
    if (address == kPwrScr) scrWrites.push_back(value);
  });
  on.board().setRestartHandler([](sim::ResetKind kind, uint32_t) { throw Restarted{kind}; });
  on.type("sleep 5\r\n");
  try {
    on.runUntil([](const std::string&) { return false; }, 2000);
    FAIL() << "no standby; console:\n" << on.console();
  } catch (const Restarted& r) {
    EXPECT_EQ(static_cast<int>(r.kind), static_cast<int>(sim::ResetKind::standbyWake));
  }
  ASSERT_EQ(scrWrites.size(), 1u);
  EXPECT_EQ(scrWrites[0], 0x0000013Bu);
  EXPECT_EQ(scrWrites[0], PWR_SCR_CWUF1 | PWR_SCR_CWUF2 | PWR_SCR_CWUF4 | PWR_SCR_CWUF5 | PWR_SCR_CWUF6 | PWR_SCR_CSBF);
}

}  // namespace
