// The emulated STM32G070: memory map, bus, and standby.
#include "chip.h"

#include <cstdio>
#include <cstring>

#include "adc_front.h"
#include "adc_model.h"
#include "board.h"
#include "dma_front.h"
#include "dma_model.h"
#include "flash_front.h"
#include "flash_model.h"
#include "gpio_front.h"
#include "pwr_front.h"
#include "rcc_front.h"
#include "reg_adc.h"
#include "reg_base.h"
#include "reg_core.h"
#include "reg_dma.h"
#include "reg_flash.h"
#include "reg_gpio.h"
#include "reg_pwr.h"
#include "reg_rcc.h"
#include "reg_rtc.h"
#include "reg_spi.h"
#include "reg_tim.h"
#include "reg_usart.h"
#include "rtc_front.h"
#include "scs_front.h"
#include "spi_front.h"
#include "standby.h"
#include "tim6_front.h"
#include "usart_front.h"

// What the simulated board takes from the chip it sits on: its peripheral clock, and the memory
// of the configuration page (the flash model keeps the page there; the core reads it through the
// flash interface's front).
extern "C" {
alignas(8) uint32_t __device_config_flash_start[sim::FlashModel::kPageSize / 4];
uint32_t HAL_RCC_GetPCLK1Freq(void) { return emu::Chip::instance().rcc().pclkHz(); }
}

namespace emu {

namespace {

Chip* gChip = nullptr;

constexpr uint32_t kSystemMemoryBase = 0x1FFF7000;  // OTP, engineering bytes, option bytes
constexpr uint32_t kSystemMemorySize = 0x1000;
constexpr uint32_t kFlashSizeKiB = 128;
constexpr uint32_t kFlashSizeAddress = 0x1FFF75E0;

// The DMA's memory side: the emulated chip's memory.
class EmulatedMemory final : public sim::DmaMemory {
 public:
  explicit EmulatedMemory(uc_engine* uc) : uc_(uc) {}
  void write(uint64_t address, const uint8_t* bytes, size_t n) override {
    uc_mem_write(uc_, address, bytes, n);
  }
  void read(uint64_t address, uint8_t* bytes, size_t n) override { uc_mem_read(uc_, address, bytes, n); }

 private:
  uc_engine* uc_;
};

void put16(std::vector<uint8_t>& mem, uint32_t at, uint16_t v) {
  mem[at] = static_cast<uint8_t>(v);
  mem[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>& mem, uint32_t at, uint32_t v) {
  put16(mem, at, static_cast<uint16_t>(v));
  put16(mem, at + 2, static_cast<uint16_t>(v >> 16));
}

constexpr uint32_t kIopenr = offsetof(RCC_TypeDef, IOPENR);
constexpr uint32_t kAhbenr = offsetof(RCC_TypeDef, AHBENR);
constexpr uint32_t kApbenr1 = offsetof(RCC_TypeDef, APBENR1);
constexpr uint32_t kApbenr2 = offsetof(RCC_TypeDef, APBENR2);

}  // namespace

Chip& Chip::instance() { return *gChip; }

Chip::Chip(sim::Board& board, const ElfImage& image) : board_(board), core_(board) {
  gChip = this;
  memory_ = std::make_unique<EmulatedMemory>(core_.uc());
  board_.dma1().setMemory(*memory_);
  mapMemory(image);

  rcc_ = std::make_unique<RccFront>(*this);
  pwr_ = std::make_unique<PwrFront>(*this);
  flash_ = std::make_unique<FlashFront>(*this);
  for (int port : {0, 1, 2, 3, 5}) {
    if (gpio_.size() < 6) gpio_.resize(6);
    gpio_[static_cast<size_t>(port)] = std::make_unique<GpioFront>(*this, port);
  }
  usart1_ = std::make_unique<UsartFront>(*this);
  dma_ = std::make_unique<DmaFront>(*this);
  dmamux_ = std::make_unique<DmamuxFront>(*this);
  adc_ = std::make_unique<AdcFront>(*this);
  spi1_ = std::make_unique<SpiFront>(*this);
  rtc_ = std::make_unique<RtcFront>(*this);
  tamp_ = std::make_unique<TampFront>(*this);
  tim6_ = std::make_unique<Tim6Front>(*this);
  scs_ = std::make_unique<ScsFront>(*this);

  // The memory map (reference manual, memory organisation) and each block's clock enable.
  mapBlock(TIM6_BASE, 0x400, *tim6_, kApbenr1, RCC_APBENR1_TIM6EN);
  mapBlock(RTC_BASE, 0x400, *rtc_, kApbenr1, RCC_APBENR1_RTCAPBEN);
  mapBlock(PWR_BASE, 0x400, *pwr_, kApbenr1, RCC_APBENR1_PWREN);
  mapBlock(TAMP_BASE, 0x400, *tamp_, kApbenr1, RCC_APBENR1_RTCAPBEN);
  mapBlock(ADC1_BASE, 0x400, *adc_, kApbenr2, RCC_APBENR2_ADCEN);
  mapBlock(SPI1_BASE, 0x400, *spi1_, kApbenr2, RCC_APBENR2_SPI1EN);
  mapBlock(USART1_BASE, 0x400, *usart1_, kApbenr2, RCC_APBENR2_USART1EN);
  mapBlock(DMA1_BASE, 0x400, *dma_, kAhbenr, RCC_AHBENR_DMA1EN);
  mapBlock(DMAMUX1_BASE, 0x400, *dmamux_, kAhbenr, RCC_AHBENR_DMA1EN);
  mapBlock(RCC_BASE, 0x400, *rcc_, 0, 0);
  mapBlock(FLASH_R_BASE, 0x400, *flash_, kAhbenr, RCC_AHBENR_FLASHEN);
  mapBlock(kConfigPage, kFlashSize - (kConfigPage - kFlashBase), flash_->page(), 0, 0);
  const uint32_t portEnables[6] = {RCC_IOPENR_GPIOAEN, RCC_IOPENR_GPIOBEN, RCC_IOPENR_GPIOCEN,
                                   RCC_IOPENR_GPIODEN, 0,                  RCC_IOPENR_GPIOFEN};
  for (int port : {0, 1, 2, 3, 5}) {
    mapBlock(IOPORT_BASE + 0x400u * static_cast<uint32_t>(port), 0x400, *gpio_[static_cast<size_t>(port)], kIopenr,
             portEnables[port]);
  }
  mapBlock(SCS_BASE, 0x1000, *scs_, 0, 0);

  core_.setSleepHooks({[this] { return scs_->sleepDeep() && pwr_->standbySelected(); }, [this] { enterStandby(); }});
}

Chip::~Chip() {
  if (gChip == this) gChip = nullptr;
}

GpioFront& Chip::gpio(int port) { return *gpio_[static_cast<size_t>(port)]; }

void Chip::mapMemory(const ElfImage& image) {
  uc_engine* uc = core_.uc();
  // Main flash up to the configuration page, erased where the image puts nothing; it is aliased at
  // address 0 (the chip boots from main flash).
  const uint32_t programSize = kConfigPage - kFlashBase;
  flashImage_.assign(programSize, 0xFF);
  for (const ElfSegment& seg : image.segments) {
    if (seg.address < kFlashBase || seg.address + seg.bytes.size() > kFlashBase + programSize) {
      std::fprintf(stderr, "orvane-emu: the image has %zu bytes at 0x%08x, outside the program flash\n",
                   seg.bytes.size(), static_cast<unsigned>(seg.address));
      std::exit(2);
    }
    std::memcpy(flashImage_.data() + (seg.address - kFlashBase), seg.bytes.data(), seg.bytes.size());
  }
  uc_mem_map_ptr(uc, kFlashBase, programSize, UC_PROT_READ | UC_PROT_EXEC, flashImage_.data());
  uc_mem_map_ptr(uc, 0, programSize, UC_PROT_READ | UC_PROT_EXEC, flashImage_.data());
  uc_mem_map(uc, kSramBase, kSramSize, UC_PROT_ALL);

  // The engineering bytes: this chip's unique ID, the factory calibration of the internal reference
  // and temperature sensor, the flash size.
  systemMemory_.assign(kSystemMemorySize, 0xFF);
  const sim::ChipFactory& factory = board_.adc().factory();
  for (uint32_t w = 0; w < 3; ++w) put32(systemMemory_, UID_BASE - kSystemMemoryBase + 4 * w, factory.uid[w]);
  put16(systemMemory_, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(VREFINT_CAL_ADDR)) - kSystemMemoryBase,
        factory.vrefintCal);
  put16(systemMemory_, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(TS_CAL1_ADDR)) - kSystemMemoryBase,
        factory.tsCal1);
  put16(systemMemory_, kFlashSizeAddress - kSystemMemoryBase, kFlashSizeKiB);
  uc_mem_map_ptr(uc, kSystemMemoryBase, kSystemMemorySize, UC_PROT_READ, systemMemory_.data());
}

void Chip::mapBlock(uint32_t base, uint32_t size, Front& front, uint32_t enableRegister, uint32_t enableBit) {
  blocks_.push_back({base, size, &front, enableRegister, enableBit});
  mapped_.push_back(std::make_unique<Block>(blocks_.back()));
  uc_mmio_map(core_.uc(), base, size, &Chip::onRead, mapped_.back().get(), &Chip::onWrite, mapped_.back().get());
}

const Block* Chip::blockAt(uint32_t address) const {
  for (const Block& b : blocks_) {
    if (address >= b.base && address - b.base < b.size) return &b;
  }
  return nullptr;
}

bool Chip::clocked(const Block& block) {
  return block.enableRegister == 0 || rcc_->enabled(block.enableRegister, block.enableBit);
}

uint64_t Chip::onRead(uc_engine*, uint64_t offset, unsigned size, void* data) {
  const Block& b = *static_cast<const Block*>(data);
  Chip& chip = *gChip;
  chip.core_.sync();
  uint32_t v = 0;
  if (chip.clocked(b)) {
    const uint32_t at = static_cast<uint32_t>(offset);
    v = size == 4 ? b.front->read(at) : b.front->readSized(at, size);
  }
  chip.core_.afterAccess();
  return v;
}

void Chip::onWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* data) {
  const Block& b = *static_cast<const Block*>(data);
  Chip& chip = *gChip;
  chip.core_.sync();
  if (chip.writeWatcher_) chip.writeWatcher_(b.base + static_cast<uint32_t>(offset), static_cast<uint32_t>(value));
  if (chip.clocked(b)) {
    const uint32_t at = static_cast<uint32_t>(offset);
    if (size == 4) {
      b.front->write(at, static_cast<uint32_t>(value));
    } else {
      b.front->writeSized(at, size, static_cast<uint32_t>(value));
    }
  }
  chip.core_.afterAccess();
}

uint32_t Chip::busRead(uint32_t address, unsigned size) {
  const Block* b = blockAt(address);
  if (b == nullptr || !clocked(*b)) return 0;
  const uint32_t at = address - b->base;
  return size == 4 ? b->front->read(at) : b->front->readSized(at, size);
}

void Chip::busWrite(uint32_t address, unsigned size, uint32_t value) {
  const Block* b = blockAt(address);
  if (b == nullptr || !clocked(*b)) return;
  const uint32_t at = address - b->base;
  if (size == 4) {
    b->front->write(at, value);
  } else {
    b->front->writeSized(at, size, value);
  }
}

uint32_t Chip::peek(uint32_t address) {
  const Block* b = blockAt(address);
  if (b == nullptr || !clocked(*b)) return 0;
  return b->front->peek((address - b->base) & ~3u);
}

// Standby: the core domain powers down; the RTC wake-up timer (or nothing) ends it with a reset.
void Chip::enterStandby() {
  core_.sync();
  sim::enterStandby(board_);
}

}  // namespace emu
