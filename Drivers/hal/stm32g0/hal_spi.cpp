// SPI in master mode with software slave select (SSM and SSI set, so no mode fault can arise), on
// the registers: set-up and the exchange of 8-bit frames.
#include "hal_backend.h"
#include "hal_backend_ops.h"

namespace {

// Byte access to the data register: a 16-bit access would pack two frames.
volatile uint8_t& dataByte(SPI_TypeDef* spi) { return *reinterpret_cast<volatile uint8_t*>(&spi->DR); }

// Waits for (SR & mask) == expected until the transfer's deadline.
bool waitStatus(SPI_TypeDef* spi, uint32_t mask, uint32_t expected, PollDeadline& deadline) {
  while ((spi->SR & mask) != expected) {
    if (deadline.expired()) return (spi->SR & mask) == expected;
  }
  return true;
}

// Empties the receive FIFO and clears an overrun (read DR, then SR).
void drainReceiver(SPI_TypeDef* spi) {
  while ((spi->SR & SPI_SR_FRLVL) != 0U) {
    const uint8_t discarded = dataByte(spi);
    (void)discarded;
  }
  (void)spi->SR;
}

}  // namespace

void halSpiConfigure(SPI_HandleTypeDef* hspi) {
  const SPI_InitTypeDef& init = hspi->Init;
  SPI_TypeDef* spi = hspi->Instance;
  regClear(spi->CR1, SPI_CR1_SPE);
  spi->CR1 = (init.Mode & (SPI_CR1_MSTR | SPI_CR1_SSI)) | (init.Direction & (SPI_CR1_RXONLY | SPI_CR1_BIDIMODE)) |
             (init.CLKPolarity & SPI_CR1_CPOL) | (init.CLKPhase & SPI_CR1_CPHA) | (init.NSS & SPI_CR1_SSM) |
             (init.BaudRatePrescaler & SPI_CR1_BR) | (init.FirstBit & SPI_CR1_LSBFIRST) |
             (init.CRCCalculation & SPI_CR1_CRCEN);
  // NSS pulses exist only with the first clock edge and outside TI mode.
  const bool nssPulse =
      init.NSSPMode == SPI_NSS_PULSE_ENABLE && init.CLKPhase == SPI_PHASE_1EDGE && init.TIMode == SPI_TIMODE_DISABLE;
  spi->CR2 = ((init.NSS >> 16) & SPI_CR2_SSOE) | (init.TIMode & SPI_CR2_FRF) | (nssPulse ? SPI_CR2_NSSP : 0U) |
             (init.DataSize & SPI_CR2_DS) | SPI_CR2_FRXTH;
  if (init.CRCCalculation == SPI_CRCCALCULATION_ENABLE) spi->CRCPR = init.CRCPolynomial & SPI_CRCPR_CRCPOLY;
}

void halSpiDisable(SPI_HandleTypeDef* hspi) { regClear(hspi->Instance->CR1, SPI_CR1_SPE); }

// One frame at a time, each bounded by the transfer's deadline on the millisecond tick.
HAL_StatusTypeDef halSpiExchange(SPI_HandleTypeDef* hspi, const uint8_t* tx, uint8_t* rx, uint16_t size,
                                 uint32_t timeoutMs) {
  PollDeadline deadline(timeoutMs);
  SPI_TypeDef* spi = hspi->Instance;
  drainReceiver(spi);
  regSet(spi->CR1, SPI_CR1_SPE);
  for (uint16_t i = 0; i < size; ++i) {
    if (!waitStatus(spi, SPI_SR_TXE, SPI_SR_TXE, deadline)) return HAL_TIMEOUT;
    dataByte(spi) = tx != nullptr ? tx[i] : rx[i];
    // The byte clocked in belongs to the byte just sent.
    if (!waitStatus(spi, SPI_SR_RXNE, SPI_SR_RXNE, deadline)) return HAL_TIMEOUT;
    const uint8_t in = dataByte(spi);
    if (rx != nullptr) rx[i] = in;
  }
  if (!waitStatus(spi, SPI_SR_FTLVL, 0U, deadline) || !waitStatus(spi, SPI_SR_BSY, 0U, deadline)) return HAL_TIMEOUT;
  drainReceiver(spi);
  return HAL_OK;
}
