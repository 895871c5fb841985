// GPIO, USART1, DMA1 with DMAMUX, and SPI1 of the emulated chip, register by register (RM0454:
// general-purpose I/Os, USART, DMA and DMAMUX, SPI).
#include <cstddef>

#include "chip_fixture.h"
#include "console.h"
#include "dma_model.h"
#include "gpio_model.h"
#include "interrupt_controller.h"
#include "uart_model.h"
#include "stm32g0xx_hal_uart.h"
#include "wiring.h"

namespace {

using emu_test::ChipTest;
using emu_test::kRccAhbenr;
using emu_test::kRccApbenr2;
using emu_test::kRccIopenr;

// ---- GPIO ---------------------------------------------------------------------------------------

class Gpio : public ChipTest {
 protected:
  static constexpr uint32_t kModer = GPIOB_BASE + offsetof(GPIO_TypeDef, MODER);
  static constexpr uint32_t kPupdr = GPIOB_BASE + offsetof(GPIO_TypeDef, PUPDR);
  static constexpr uint32_t kIdr = GPIOB_BASE + offsetof(GPIO_TypeDef, IDR);
  static constexpr uint32_t kOdr = GPIOB_BASE + offsetof(GPIO_TypeDef, ODR);
  static constexpr uint32_t kBsrr = GPIOB_BASE + offsetof(GPIO_TypeDef, BSRR);
  static constexpr uint32_t kBrr = GPIOB_BASE + offsetof(GPIO_TypeDef, BRR);
  void SetUp() override {
    ChipTest::SetUp();
    setBits(kRccIopenr, RCC_IOPENR_GPIOBEN);
  }
  bool pad(int pin) { return board().pinLevels().level(1, pin); }
};

// ODR through BSRR (a set bit wins over the reset bit of the same pin) and BRR; an output drives the
// pad at its ODR bit.
TEST_F(Gpio, OutputsFollowBsrrAndBrr) {
  write(kModer, 0xFFFFFFFF & ~(3u << 4) & ~(3u << 10));  // PB2 and PB5 outputs
  write(kModer, read(kModer) | (1u << 4) | (1u << 10));
  struct Case {
    const char* name;
    uint32_t address, value, odr;
  };
  const Case cases[] = {
      {"BSRR set PB2", kBsrr, 1u << 2, 0x04},        {"BSRR set PB5, reset PB2", kBsrr, (1u << 5) | (1u << 18), 0x20},
      {"BSRR set and reset PB2", kBsrr, (1u << 2) | (1u << 18), 0x24}, {"BRR PB5", kBrr, 1u << 5, 0x04},
      {"ODR", kOdr, 0x20, 0x20},
  };
  for (const Case& c : cases) {
    write(c.address, c.value);
    EXPECT_EQ(read(kOdr), c.odr) << c.name;
    EXPECT_EQ(pad(2), (c.odr & 0x04) != 0) << c.name;
    EXPECT_EQ(pad(5), (c.odr & 0x20) != 0) << c.name;
  }
  EXPECT_EQ(read(kBsrr), 0u);  // write-only
}

// IDR shows the pad: what a device drives, else the pull; an analog pin's input buffer is off.
TEST_F(Gpio, InputsReadThePads) {
  const int busy = Wiring::radioBusy.index;  // PB11, driven by the radio model
  const int spare = 3;                        // PB3, wired to nothing
  struct Case {
    const char* name;
    int pin;
    uint32_t mode, pull;
    bool driven, idr;
  };
  const Case cases[] = {
      {"analog, driven high", busy, 3, 0, true, false}, {"input, driven high", busy, 0, 0, true, true},
      {"input, driven low", busy, 0, 1, false, false},  {"input, pulled up", spare, 0, 1, false, true},
      {"input, pulled down", spare, 0, 2, false, false}, {"input, floating", spare, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    if (c.pin == busy) board().gpio().drive(1, busy, c.driven);
    write(kModer, (read(kModer) & ~(3u << (2 * c.pin))) | (c.mode << (2 * c.pin)));
    write(kPupdr, c.pull << (2 * c.pin));
    EXPECT_EQ((read(kIdr) >> c.pin) & 1u, c.idr ? 1u : 0u) << c.name;
  }
}

// ---- USART1 -------------------------------------------------------------------------------------

class Usart : public ChipTest {
 protected:
  static constexpr uint32_t kCr1 = USART1_BASE + offsetof(USART_TypeDef, CR1);
  static constexpr uint32_t kCr3 = USART1_BASE + offsetof(USART_TypeDef, CR3);
  static constexpr uint32_t kBrr = USART1_BASE + offsetof(USART_TypeDef, BRR);
  static constexpr uint32_t kIsr = USART1_BASE + offsetof(USART_TypeDef, ISR);
  static constexpr uint32_t kIcr = USART1_BASE + offsetof(USART_TypeDef, ICR);
  static constexpr uint32_t kRdr = USART1_BASE + offsetof(USART_TypeDef, RDR);
  static constexpr uint32_t kTdr = USART1_BASE + offsetof(USART_TypeDef, TDR);
  // 115200 baud from the 16 MHz reset clock: BRR = 139, a frame of ten bits 86.875 us.
  static constexpr uint32_t kBrr115200 = 139;
  void SetUp() override {
    ChipTest::SetUp();
    setBits(kRccApbenr2, RCC_APBENR2_USART1EN);
    write(kBrr, kBrr115200);
  }
  uint32_t isr() { return read(kIsr); }
};

TEST_F(Usart, TransmitsAtItsBaudRate) {
  write(kCr1, USART_CR1_UE | USART_CR1_TE);
  EXPECT_TRUE(isr() & USART_ISR_TEACK);
  EXPECT_TRUE(isr() & USART_ISR_TXE);
  EXPECT_TRUE(isr() & USART_ISR_TC);
  write(kTdr, 'o');  // into the shift register at once: TXE again, TC not before its ten bits
  EXPECT_TRUE(isr() & USART_ISR_TXE);
  EXPECT_FALSE(isr() & USART_ISR_TC);
  write(kTdr, 'k');  // waits in TDR
  EXPECT_FALSE(isr() & USART_ISR_TXE);
  advance(86);
  EXPECT_FALSE(isr() & USART_ISR_TXE);
  advance(1);
  EXPECT_TRUE(isr() & USART_ISR_TXE);
  EXPECT_FALSE(isr() & USART_ISR_TC);
  advance(87);
  EXPECT_TRUE(isr() & USART_ISR_TC);
  EXPECT_EQ(board().console().takeOutput(), "ok");
  write(kIcr, USART_ICR_TCCF);
  EXPECT_FALSE(isr() & USART_ISR_TC);
  write(kCr1, USART_CR1_UE);  // transmitter off: TDR writes go nowhere
  write(kTdr, '!');
  EXPECT_EQ(board().console().takeOutput(), "");
}

// Bytes from the operator at 115200 baud: RXNE with the byte in RDR, an overrun when the register is
// still full, IDLE a frame after the last byte; flags cleared through ICR.
TEST_F(Usart, ReceivesIntoRdrWithItsFlags) {
  write(kCr1, USART_CR1_UE | USART_CR1_RE | USART_CR1_RXNEIE);
  board().uart1().hostSend("ab");
  advance(87);
  EXPECT_TRUE(isr() & USART_ISR_RXNE);
  EXPECT_TRUE(board().interrupts().pending(USART1_IRQn));
  advance(87);  // the second byte finds RDR full
  EXPECT_TRUE(isr() & USART_ISR_ORE);
  EXPECT_EQ(read(kRdr), static_cast<uint32_t>('a'));
  EXPECT_FALSE(isr() & USART_ISR_RXNE);
  EXPECT_FALSE(isr() & USART_ISR_IDLE);
  advance(88);
  EXPECT_TRUE(isr() & USART_ISR_IDLE);
  write(kIcr, USART_ICR_ORECF | USART_ICR_IDLECF);
  EXPECT_EQ(isr() & (USART_ISR_ORE | USART_ISR_IDLE), 0u);
}

// A receiver set to a rate the line does not have misses the stop bits: framing errors. Noise is
// flagged as the receiver's three samples disagree (injected here).
TEST_F(Usart, FlagsFramingAndNoiseErrors) {
  write(kBrr, 1667);  // 9600 baud: the line is at 115200
  write(kCr1, USART_CR1_UE | USART_CR1_RE);
  write(kCr3, USART_CR3_EIE);
  board().uart1().hostSend("z");
  advance(90);
  EXPECT_TRUE(isr() & USART_ISR_FE);
  EXPECT_TRUE(board().interrupts().pending(USART1_IRQn));
  write(kIcr, USART_ICR_FECF);
  EXPECT_FALSE(isr() & USART_ISR_FE);
  board().uart1().injectError(HAL_UART_ERROR_NE);
  EXPECT_TRUE(isr() & USART_ISR_NE);
  write(kIcr, USART_ICR_NECF);
  EXPECT_FALSE(isr() & USART_ISR_NE);
}

// Receiving through DMA1 channel 2, routed by DMAMUX to USART1_RX (request 50): the bytes land in
// memory, the channel counts down and flags half and full transfer with their interrupt line.
TEST_F(Usart, ReceivesIntoMemoryThroughTheDmaWithHalfAndFullTransfer) {
  setBits(kRccAhbenr, RCC_AHBENR_DMA1EN);
  constexpr uint32_t kCcr2 = DMA1_BASE + 0x1C, kCndtr2 = DMA1_BASE + 0x20, kCpar2 = DMA1_BASE + 0x24,
                     kCmar2 = DMA1_BASE + 0x28, kIsrDma = DMA1_BASE, kIfcr = DMA1_BASE + 0x04;
  constexpr uint32_t kBuffer = 0x20000100;
  write(DMAMUX1_BASE + 4, 50);  // DMAMUX_C1CR: DMA channel 2 <- USART1_RX
  write(kCpar2, kRdr);
  write(kCmar2, kBuffer);
  write(kCndtr2, 4);
  write(kCcr2, DMA_CCR_MINC | DMA_CCR_HTIE | DMA_CCR_TCIE | DMA_CCR_EN);
  write(kCndtr2, 9);  // the count takes no write while the channel runs
  EXPECT_EQ(read(kCndtr2), 4u);
  write(kCr1, USART_CR1_UE | USART_CR1_RE);
  write(kCr3, USART_CR3_DMAR);
  board().uart1().hostSend("wxyz");
  advance(2 * 87);
  EXPECT_EQ(read(kCndtr2), 2u);
  EXPECT_EQ(read(kIsrDma) & (DMA_ISR_HTIF(2U) | DMA_ISR_TCIF(2U)), DMA_ISR_HTIF(2U));
  EXPECT_TRUE(board().interrupts().pending(DMA1_Channel2_3_IRQn));
  write(kIfcr, DMA_IFCR_CHTIF(2U));
  board().interrupts().clear(DMA1_Channel2_3_IRQn);
  advance(2 * 87);
  EXPECT_EQ(read(kCndtr2), 0u);
  EXPECT_TRUE(read(kIsrDma) & DMA_ISR_TCIF(2U));
  EXPECT_TRUE(board().interrupts().pending(DMA1_Channel2_3_IRQn));
  EXPECT_FALSE(isr() & USART_ISR_RXNE);  // every byte went to memory
  uint8_t got[4] = {};
  chip().memory().read(kBuffer, got, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 4), "wxyz");
  // CGIF clears all four flags of the channel.
  write(kIfcr, DMA_IFCR_CGIF(2U));
  EXPECT_EQ(read(kIsrDma), 0u);
}

// ---- SPI1 ---------------------------------------------------------------------------------------

class Spi : public ChipTest {
 protected:
  static constexpr uint32_t kCr1 = SPI1_BASE + offsetof(SPI_TypeDef, CR1);
  static constexpr uint32_t kCr2 = SPI1_BASE + offsetof(SPI_TypeDef, CR2);
  static constexpr uint32_t kSr = SPI1_BASE + offsetof(SPI_TypeDef, SR);
  static constexpr uint32_t kDr = SPI1_BASE + offsetof(SPI_TypeDef, DR);
  void SetUp() override {
    ChipTest::SetUp();
    setBits(kRccApbenr2, RCC_APBENR2_SPI1EN);
  }
};

// An 8-bit frame takes 8 SCK periods, SCK = PCLK / 2^(BR + 1); BSY meanwhile, then RXNE and the
// receive FIFO level; with no chip select low nobody drives MISO: zeros.
TEST_F(Spi, ExchangesFramesAtItsClock) {
  struct Case {
    uint32_t br;
    uint64_t frameNs;  // at 16 MHz
  };
  const Case cases[] = {{0, 1000}, {4, 16000}, {7, 128000}};
  for (const Case& c : cases) {
    newChip();
    setBits(kRccApbenr2, RCC_APBENR2_SPI1EN);
    write(kCr2, SPI_CR2_DS_8BIT | SPI_CR2_FRXTH);
    write(kCr1, SPI_CR1_MSTR | SPI_CR1_SSM | SPI_CR1_SSI | (c.br << SPI_CR1_BR_Pos) | SPI_CR1_SPE);
    EXPECT_EQ(read(kSr), SPI_SR_TXE);
    chip().busWrite(kDr, 1, 0x5A);
    chip().busWrite(kDr, 1, 0xA5);
    EXPECT_TRUE(read(kSr) & SPI_SR_BSY);
    EXPECT_EQ(read(kSr) & SPI_SR_FTLVL, 1u << SPI_SR_FTLVL_Pos) << "one frame waits behind the one on the wire";
    EXPECT_FALSE(read(kSr) & SPI_SR_RXNE);
    advance((c.frameNs - 1000) / 1000);
    EXPECT_FALSE(read(kSr) & SPI_SR_RXNE) << "BR " << c.br;
    advance(2 * c.frameNs / 1000 + 1);
    EXPECT_EQ(read(kSr) & (SPI_SR_RXNE | SPI_SR_BSY | SPI_SR_FRLVL), SPI_SR_RXNE | (2u << SPI_SR_FRLVL_Pos))
        << "BR " << c.br;
    EXPECT_EQ(chip().busRead(kDr, 1), 0u);
    EXPECT_EQ(chip().busRead(kDr, 1), 0u);
    EXPECT_EQ(read(kSr), SPI_SR_TXE);
  }
}

}  // namespace
