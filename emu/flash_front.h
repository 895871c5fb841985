// The flash interface (FLASH), reference manual section "Embedded flash memory": wait states, the
// unlock key sequence and LOCK, page erase (PER, PNB, STRT) and double-word programming (PG, the
// low word then the high word written to the page) with their error flags (PROGERR, SIZERR,
// PGAERR, PGSERR, WRPERR, OPERR), EOP, and the ECC: a double word that fails its check reads with
// ECCD set in FLASH_ECCR, which raises the NMI. Over the board's flash model of the configuration
// page; the program pages are read-only memory here (an erase or write of them is refused).
#pragma once

#include <cstdint>

#include "front.h"

namespace emu {

class Chip;

class FlashFront final : public Front {
 public:
  explicit FlashFront(Chip& chip);
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void reset() override;

  // The configuration page as the bus sees it: reads (with the ECC check) and programming writes.
  class Page final : public Front {
   public:
    explicit Page(FlashFront& flash) : flash_(flash) {}
    uint32_t read(uint32_t offset) override { return readSized(offset, 4); }
    void write(uint32_t offset, uint32_t value) override { writeSized(offset, 4, value); }
    uint32_t readSized(uint32_t offset, unsigned size) override;
    void writeSized(uint32_t offset, unsigned size, uint32_t value) override;
    uint32_t peek(uint32_t offset) override;

   private:
    FlashFront& flash_;
  };
  Page& page() { return page_; }

 private:
  void start();
  void program(uint32_t offset, unsigned size, uint32_t value);
  void eccCheck(uint32_t offset);
  void done(int result);

  Chip& chip_;
  Page page_{*this};
  uint32_t acr_ = 0, sr_ = 0, cr_ = 0, eccr_ = 0;
  uint32_t wrp1ar_ = 0, wrp1br_ = 0;
  int keyStage_ = 0;               // FLASH_KEYR: 0 nothing, 1 first key seen
  bool lockedUntilReset_ = false;  // a wrong key sequence
  bool lowWordLatched_ = false;    // the low word of a double word waits for its high word
  uint32_t latchedOffset_ = 0;
  uint32_t lowWord_ = 0;
};

}  // namespace emu
