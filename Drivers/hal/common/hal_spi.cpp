// SPI in master mode: set-up and blocking full-duplex transfers of 8-bit frames. The handle's
// states and error codes are kept here; the backend clocks the bytes.
#include "hal_backend_ops.h"

namespace {

HAL_StatusTypeDef transfer(SPI_HandleTypeDef* hspi, const uint8_t* tx, uint8_t* rx, uint16_t size, uint32_t timeoutMs) {
  halCallBegins();
  if (hspi == nullptr || hspi->Instance == nullptr || size == 0U || (tx == nullptr && rx == nullptr)) return HAL_ERROR;
  if (hspi->State != HAL_SPI_STATE_READY) return HAL_BUSY;
  hspi->State = HAL_SPI_STATE_BUSY_TX_RX;
  hspi->ErrorCode = HAL_SPI_ERROR_NONE;
  const HAL_StatusTypeDef status = halSpiExchange(hspi, tx, rx, size, timeoutMs);
  if (status == HAL_TIMEOUT) hspi->ErrorCode = hspi->ErrorCode | HAL_SPI_ERROR_TIMEOUT;
  if (status == HAL_ERROR) hspi->ErrorCode = hspi->ErrorCode | HAL_SPI_ERROR_FLAG;
  hspi->State = HAL_SPI_STATE_READY;
  return status;
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_SPI_Init(SPI_HandleTypeDef* hspi) {
  halCallBegins();
  if (hspi == nullptr || hspi->Instance == nullptr) return HAL_ERROR;
  if (hspi->Init.DataSize != SPI_DATASIZE_8BIT) return HAL_ERROR;  // this layer moves bytes only
  if (hspi->State == HAL_SPI_STATE_RESET) {
    hspi->Lock = HAL_UNLOCKED;
    HAL_SPI_MspInit(hspi);
  }
  hspi->State = HAL_SPI_STATE_BUSY;
  halSpiConfigure(hspi);
  hspi->ErrorCode = HAL_SPI_ERROR_NONE;
  hspi->State = HAL_SPI_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_SPI_DeInit(SPI_HandleTypeDef* hspi) {
  if (hspi == nullptr || hspi->Instance == nullptr) return HAL_ERROR;
  halSpiDisable(hspi);
  HAL_SPI_MspDeInit(hspi);
  hspi->ErrorCode = HAL_SPI_ERROR_NONE;
  hspi->State = HAL_SPI_STATE_RESET;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_SPI_Transmit(SPI_HandleTypeDef* hspi, const uint8_t* data, uint16_t size, uint32_t timeoutMs) {
  if (data == nullptr) return HAL_ERROR;
  return transfer(hspi, data, nullptr, size, timeoutMs);
}

// Receiving clocks out the buffer's current contents, as the chip maker's full-duplex receive does.
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
