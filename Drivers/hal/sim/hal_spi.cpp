// SPI1 of the simulated board: the bytes go to the device whose chip select is low, at 125 kHz of
// virtual time.
#include "board.h"
#include "hal_backend_ops.h"
#include "llcc68_model.h"
#include "spi_bus.h"

namespace {
constexpr uint64_t kByteUs = sim::Llcc68Model::kSpiByteUs;
}  // namespace

void halSpiConfigure(SPI_HandleTypeDef*) {}

void halSpiDisable(SPI_HandleTypeDef*) {}

HAL_StatusTypeDef halSpiExchange(SPI_HandleTypeDef*, const uint8_t* tx, uint8_t* rx, uint16_t size,
                                 uint32_t timeoutMs) {
  sim::SpiDevice* device = sim::board().spi1().selected();
  if (device != nullptr && !device->spiTransferAllowed(tx != nullptr ? tx[0] : rx[0])) return HAL_ERROR;
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
  return status;
}
