// The flash interface of the emulated chip, register by register (RM0454, embedded flash memory):
// the key sequence and LOCK, page erase, double-word programming with its error flags, and the ECC
// check of a double word a power cut broke (ECCD, its address, the NMI).
#include <cstddef>
#include <cstring>

#include "chip_fixture.h"
#include "flash_model.h"
#include "interrupt_controller.h"

namespace {

constexpr uint32_t kKeyr = FLASH_R_BASE + offsetof(FLASH_TypeDef, KEYR);
constexpr uint32_t kSr = FLASH_R_BASE + offsetof(FLASH_TypeDef, SR);
constexpr uint32_t kCr = FLASH_R_BASE + offsetof(FLASH_TypeDef, CR);
constexpr uint32_t kEccr = FLASH_R_BASE + offsetof(FLASH_TypeDef, ECCR);
constexpr uint32_t kPage = emu::Chip::kConfigPage;
constexpr uint32_t kPageNumber = (kPage - FLASH_BASE) / FLASH_PAGE_SIZE;

class Flash : public emu_test::ChipTest {
 protected:
  void unlock() {
    write(kKeyr, FLASH_KEYR_KEY1);
    write(kKeyr, FLASH_KEYR_KEY2);
  }
  void erase() {
    write(kCr, FLASH_CR_PER | (kPageNumber << FLASH_CR_PNB_Pos));
    write(kCr, read(kCr) | FLASH_CR_STRT);
    write(kCr, 0);
  }
  // The two words of a double word, as the core writes them with PG set.
  void program(uint32_t address, uint32_t low, uint32_t high) {
    write(kCr, FLASH_CR_PG | FLASH_CR_EOPIE);
    chip().busWrite(address, 4, low);
    chip().busWrite(address + 4, 4, high);
  }
  uint32_t word(uint32_t address) { return chip().busRead(address, 4); }
};

TEST_F(Flash, UnlocksOnlyWithItsTwoKeysInOrder) {
  struct Case {
    const char* name;
    std::vector<uint32_t> keys;
    bool unlocked;
  };
  const Case cases[] = {
      {"the two keys", {FLASH_KEYR_KEY1, FLASH_KEYR_KEY2}, true},
      {"the keys the wrong way round", {FLASH_KEYR_KEY2, FLASH_KEYR_KEY1}, false},
      {"the first key alone", {FLASH_KEYR_KEY1}, false},
      {"a wrong key, then the right ones: locked until reset", {0x12345678, FLASH_KEYR_KEY1, FLASH_KEYR_KEY2}, false},
  };
  for (const Case& c : cases) {
    newChip();
    ASSERT_TRUE(read(kCr) & FLASH_CR_LOCK);
    for (uint32_t k : c.keys) write(kKeyr, k);
    EXPECT_EQ((read(kCr) & FLASH_CR_LOCK) == 0, c.unlocked) << c.name;
  }
  // Locked, FLASH_CR ignores writes; setting LOCK locks it again.
  newChip();
  write(kCr, FLASH_CR_PG);
  EXPECT_EQ(read(kCr) & FLASH_CR_PG, 0u);
  unlock();
  write(kCr, FLASH_CR_LOCK);
  write(kCr, FLASH_CR_PG);
  EXPECT_EQ(read(kCr), FLASH_CR_LOCK | FLASH_CR_OPTLOCK);
}

TEST_F(Flash, ErasesAndProgramsDoubleWordsOnlyOntoErasedOnes) {
  unlock();
  erase();
  EXPECT_EQ(word(kPage), 0xFFFFFFFFu);
  program(kPage + 8, 0x11223344, 0x55667788);
  EXPECT_EQ(read(kSr), FLASH_SR_EOP);  // EOP, with EOPIE set
  EXPECT_EQ(word(kPage + 8), 0x11223344u);
  EXPECT_EQ(word(kPage + 12), 0x55667788u);
  EXPECT_EQ(chip().busRead(kPage + 9, 1), 0x33u);
  write(kSr, FLASH_SR_EOP);
  EXPECT_EQ(read(kSr), 0u);

  struct Case {
    const char* name;
    uint32_t cr;
    unsigned size;           // of the first write
    uint32_t first, second;  // addresses of the two words
    uint32_t flag;
  };
  const Case cases[] = {
      {"programmed already (PROGERR)", FLASH_CR_PG, 4, kPage + 8, kPage + 12, FLASH_SR_PROGERR},
      {"no PG (PGSERR)", 0, 4, kPage + 16, kPage + 20, FLASH_SR_PGSERR},
      {"a half-word write (SIZERR)", FLASH_CR_PG, 2, kPage + 16, kPage + 20, FLASH_SR_SIZERR},
      {"not on a double word (PGAERR)", FLASH_CR_PG, 4, kPage + 20, kPage + 24, FLASH_SR_PGAERR},
      {"the second word elsewhere (PGAERR)", FLASH_CR_PG, 4, kPage + 16, kPage + 28, FLASH_SR_PGAERR},
  };
  for (const Case& c : cases) {
    write(kCr, c.cr);
    chip().busWrite(c.first, c.size, 0x1);
    chip().busWrite(c.second, 4, 0x2);
    EXPECT_TRUE(read(kSr) & c.flag) << c.name;
    // An error left set stops the next operation (PGSERR) until it is cleared.
    program(kPage + 32, 1, 2);
    EXPECT_TRUE(read(kSr) & FLASH_SR_PGSERR) << c.name;
    EXPECT_EQ(word(kPage + 32), 0xFFFFFFFFu) << c.name;
    write(kSr, FLASH_SR_ERRORS | FLASH_SR_EOP);
  }
  // All zeros may go over anything (the chip's exception to PROGERR).
  program(kPage + 8, 0, 0);
  EXPECT_EQ(read(kSr), FLASH_SR_EOP);
  EXPECT_EQ(word(kPage + 8), 0u);
}

// A double word whose programming a power cut broke reads with an ECC double error: ECCD with the
// double word's address in the bank, and the NMI. The first error's address stays until ECCD is
// cleared.
TEST_F(Flash, TornDoubleWordReadsWithAnEccDoubleErrorAndTheNmi) {
  sim::FlashModel& model = board().flash();
  model.unlock();
  ASSERT_EQ(model.erasePage(sim::FlashModel::kPageIndex), sim::FlashModel::Result::ok);
  model.faults().powerCutAt = 1;
  model.faults().powerCutMidWord = true;
  board().setRestartHandler([](sim::ResetKind, uint32_t) { throw sim::ResetKind::powerOn; });
  ASSERT_EQ(model.program(0, 0x0102030405060708ull), sim::FlashModel::Result::ok);
  EXPECT_THROW(model.program(8, 0x1112131415161718ull), sim::ResetKind);
  EXPECT_TRUE(model.eccError(8));

  sim::InterruptController& nvic = board().interrupts();
  EXPECT_EQ(word(kPage), 0x05060708u);  // a good double word: no error
  EXPECT_EQ(read(kEccr), 0u);
  EXPECT_FALSE(nvic.pending(NonMaskableInt_IRQn));
  EXPECT_EQ(word(kPage + 8), 0x15161718u);  // half its cells took their charge
  EXPECT_EQ(word(kPage + 12), 0xFFFFFFFFu);
  const uint32_t address = ((kPage - FLASH_BASE) + 8) / 8;
  EXPECT_EQ(read(kEccr), FLASH_ECCR_ECCD | address);
  EXPECT_TRUE(nvic.pending(NonMaskableInt_IRQn));
  nvic.clear(NonMaskableInt_IRQn);
  (void)word(kPage + 8);  // again while ECCD is set: no new NMI, the first address kept
  EXPECT_FALSE(nvic.pending(NonMaskableInt_IRQn));
  write(kEccr, FLASH_ECCR_ECCD);  // write 1 to clear (the address field keeps the last one)
  EXPECT_EQ(read(kEccr) & FLASH_ECCR_ECCD, 0u);
  (void)word(kPage + 12);
  EXPECT_TRUE(nvic.pending(NonMaskableInt_IRQn));
  // An erase of the page clears the error.
  unlock();
  erase();
  write(kEccr, FLASH_ECCR_ECCD);
  nvic.clear(NonMaskableInt_IRQn);
  EXPECT_EQ(word(kPage + 8), 0xFFFFFFFFu);
  EXPECT_FALSE(nvic.pending(NonMaskableInt_IRQn));
}

}  // namespace
