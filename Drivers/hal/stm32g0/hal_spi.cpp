// SPI in master mode with software slave select (SSM and SSI set, so no mode fault can arise):
// set-up and blocking full-duplex transfers of 8-bit frames, each bounded by a time-out on the millisecond tick.
// Receiving clocks out the buffer's current contents, as the chip maker's full-duplex receive does.
#include "hal_backend.h"

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

HAL_StatusTypeDef finish(SPI_HandleTypeDef* hspi, HAL_StatusTypeDef status) {
  if (status == HAL_TIMEOUT) hspi->ErrorCode = hspi->ErrorCode | HAL_SPI_ERROR_TIMEOUT;
  hspi->State = HAL_SPI_STATE_READY;
  return status;
}

// Sends `size` bytes of `tx` (or of `rx` itself when tx is null) and stores what comes back in
// `rx` when it is not null.
HAL_StatusTypeDef transfer(SPI_HandleTypeDef* hspi, const uint8_t* tx, uint8_t* rx, uint16_t size, uint32_t timeoutMs) {
  if (hspi == nullptr || hspi->Instance == nullptr || size == 0U || (tx == nullptr && rx == nullptr)) return HAL_ERROR;
  if (hspi->State != HAL_SPI_STATE_READY) return HAL_BUSY;
  PollDeadline deadline(timeoutMs);
  SPI_TypeDef* spi = hspi->Instance;
  hspi->State = HAL_SPI_STATE_BUSY_TX_RX;
  hspi->ErrorCode = HAL_SPI_ERROR_NONE;
  drainReceiver(spi);
  regSet(spi->CR1, SPI_CR1_SPE);
  for (uint16_t i = 0; i < size; ++i) {
    if (!waitStatus(spi, SPI_SR_TXE, SPI_SR_TXE, deadline)) return finish(hspi, HAL_TIMEOUT);
    dataByte(spi) = tx != nullptr ? tx[i] : rx[i];
    // One frame at a time: the byte clocked in belongs to the byte just sent.
    if (!waitStatus(spi, SPI_SR_RXNE, SPI_SR_RXNE, deadline)) return finish(hspi, HAL_TIMEOUT);
    const uint8_t in = dataByte(spi);
    if (rx != nullptr) rx[i] = in;
  }
  if (!waitStatus(spi, SPI_SR_FTLVL, 0U, deadline) || !waitStatus(spi, SPI_SR_BSY, 0U, deadline)) {
    return finish(hspi, HAL_TIMEOUT);
  }
  drainReceiver(spi);
  return finish(hspi, HAL_OK);
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_SPI_Init(SPI_HandleTypeDef* hspi) {
  if (hspi == nullptr || hspi->Instance == nullptr) return HAL_ERROR;
  const SPI_InitTypeDef& init = hspi->Init;
  if (init.DataSize != SPI_DATASIZE_8BIT) return HAL_ERROR;  // this layer moves bytes only
  if (hspi->State == HAL_SPI_STATE_RESET) {
    hspi->Lock = HAL_UNLOCKED;
    HAL_SPI_MspInit(hspi);
  }
  hspi->State = HAL_SPI_STATE_BUSY;
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
  hspi->ErrorCode = HAL_SPI_ERROR_NONE;
  hspi->State = HAL_SPI_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_SPI_DeInit(SPI_HandleTypeDef* hspi) {
  if (hspi == nullptr || hspi->Instance == nullptr) return HAL_ERROR;
  regClear(hspi->Instance->CR1, SPI_CR1_SPE);
  HAL_SPI_MspDeInit(hspi);
  hspi->ErrorCode = HAL_SPI_ERROR_NONE;
  hspi->State = HAL_SPI_STATE_RESET;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_SPI_Transmit(SPI_HandleTypeDef* hspi, const uint8_t* data, uint16_t size, uint32_t timeoutMs) {
  if (data == nullptr) return HAL_ERROR;
  return transfer(hspi, data, nullptr, size, timeoutMs);
}

HAL_StatusTypeDef HAL_SPI_Receive(SPI_HandleTypeDef* hspi, uint8_t* data, uint16_t size, uint32_t timeoutMs) {
  if (data == nullptr) return HAL_ERROR;
  return transfer(hspi, nullptr, data, size, timeoutMs);
}

HAL_StatusTypeDef HAL_SPI_TransmitReceive(SPI_HandleTypeDef* hspi, const uint8_t* txData, uint8_t* rxData,
                                          uint16_t size, uint32_t timeoutMs) {
  if (txData == nullptr || rxData == nullptr) return HAL_ERROR;
  return transfer(hspi, txData, rxData, size, timeoutMs);
}

}  // extern "C"
