// Chip-select routing of the simulated SPI bus.
#include "spi_bus.h"

#include "gpio_model.h"

namespace sim {

SpiDevice* SpiBus::selected() const {
  for (const Attached& a : devices_) {
    if (!gpio_.level(a.chipSelect)) return a.device;
  }
  return nullptr;
}

}  // namespace sim
