// SPI1 of the simulated board: each transfer goes to the device whose chip select is low, as on a
// real bus; with none selected nothing drives MISO and the master reads zeros.
#pragma once

#include <cstdint>
#include <vector>

#include "wiring.h"

namespace sim {

class Gpio;

class SpiDevice {
 public:
  virtual ~SpiDevice() = default;
  // False for a transfer the device makes fail (fault injection); `first` is its first byte.
  virtual bool spiTransferAllowed(uint8_t first) = 0;
  // One byte each way.
  virtual uint8_t spiExchange(uint8_t mosi) = 0;
};

class SpiBus {
 public:
  explicit SpiBus(const Gpio& gpio) : gpio_(gpio) {}
  void attach(SpiDevice* device, const Wiring::Line& chipSelect) { devices_.push_back({device, chipSelect}); }
  // The device whose chip select is low, or null.
  SpiDevice* selected() const;

 private:
  struct Attached {
    SpiDevice* device;
    Wiring::Line chipSelect;
  };
  const Gpio& gpio_;
  std::vector<Attached> devices_;
};

}  // namespace sim
