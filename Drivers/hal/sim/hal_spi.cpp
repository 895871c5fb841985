// SPI1 of the simulated board: the bytes go to the device whose chip select is low, at 125 kHz of
// virtual time.
#include "board.h"
#include "llcc68_model.h"
#include "spi_bus.h"
#include "stm32g0xx_hal.h"

namespace {

constexpr uint64_t kByteUs = sim::Llcc68Model::kSpiByteUs;

// Clocks `size` bytes out of `tx` (or the receive buffer itself) and into `rx` (may be null).
HAL_StatusTypeDef transfer(SPI_HandleTypeDef* hspi, const uint8_t* tx, uint8_t* rx, uint16_t size, uint32_t timeoutMs) {
  sim::board().halCall();
  if (hspi == nullptr || size == 0 || (tx == nullptr && rx == nullptr)) return HAL_ERROR;
  if (hspi->State != HAL_SPI_STATE_READY) return HAL_BUSY;
  sim::SpiDevice* device = sim::board().spi1().selected();
  if (device != nullptr && !device->spiTransferAllowed(tx != nullptr ? tx[0] : rx[0])) {
    hspi->ErrorCode = HAL_SPI_ERROR_FLAG;
    return HAL_ERROR;
  }
  hspi->State = HAL_SPI_STATE_BUSY_TX_RX;
  // A master never stalls: only a timeout shorter than the transfer itself can cut it.
  uint16_t fits = size;
  HAL_StatusTypeDef status = HAL_OK;
  if (timeoutMs != HAL_MAX_DELAY) {
    const uint64_t budgetUs = static_cast<uint64_t>(timeoutMs) * 1000u;
    while (fits > 0 && fits * kByteUs > budgetUs) --fits;
    if (fits < size) status = HAL_TIMEOUT;
  }
  for (uint16_t i = 0; i < fits; ++i) {
    // Nothing selected: nobody drives MISO, the master reads zeros.
    const uint8_t in = device != nullptr ? device->spiExchange(tx != nullptr ? tx[i] : rx[i]) : 0x00;
    if (rx != nullptr) rx[i] = in;
  }
  sim::board().busyWait(fits * kByteUs);
  if (status != HAL_OK) hspi->ErrorCode = HAL_SPI_ERROR_TIMEOUT;
  hspi->State = HAL_SPI_STATE_READY;
  return status;
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_SPI_Init(SPI_HandleTypeDef* hspi) {
  sim::board().halCall();
  if (hspi == nullptr || hspi->Instance == nullptr) return HAL_ERROR;
  if (hspi->State == HAL_SPI_STATE_RESET) {
    hspi->Lock = HAL_UNLOCKED;
    HAL_SPI_MspInit(hspi);
  }
  hspi->ErrorCode = HAL_SPI_ERROR_NONE;
  hspi->State = HAL_SPI_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_SPI_DeInit(SPI_HandleTypeDef* hspi) {
  if (hspi == nullptr) return HAL_ERROR;
  HAL_SPI_MspDeInit(hspi);
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
