// The LLCC68's bus glue on a Linux board: the command layer's write and read transactions as
// spidev messages (mode 0, chip select held by the kernel for the message), reset, wake-up and the
// BUSY wait on libgpiod lines, and the antenna switch lines. The command layer reaches it through
// its context pointer (llcc68_hal.h), so the same command layer the node runs drives this chip.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "llcc68_hal.h"
#include "radio_system.h"
#include "radio_wiring.h"

namespace vantor {

class RadioBus {
 public:
  static constexpr uint32_t kSpiSpeedHz = 2'000'000;
  // Opens the SPI device and requests the lines (reset driven high, the switch lines low); null
  // with a message when any of it fails.
  static std::unique_ptr<RadioBus> open(RadioSystem& system, const RadioWiring& wiring, std::string& error);
  ~RadioBus();
  RadioBus(const RadioBus&) = delete;
  RadioBus& operator=(const RadioBus&) = delete;

  // The context every command-layer call takes.
  const void* context() const { return this; }
  RadioSystem& system() const { return system_; }
  const RadioWiring& wiring() const { return wiring_; }

  // True when BUSY reads low; false when it stayed high (or could not be read) for timeoutMs.
  bool busyWaitReady(uint32_t timeoutMs) const;
  llcc68_hal_status_t write(const uint8_t* command, uint16_t commandLength, const uint8_t* data,
                            uint16_t dataLength) const;
  llcc68_hal_status_t read(const uint8_t* command, uint16_t commandLength, uint8_t* data, uint16_t dataLength) const;
  llcc68_hal_status_t reset() const;
  llcc68_hal_status_t wakeup() const;

  // DIO1 wired: its level (an IRQ the chip routes to it is pending); always true when it is not.
  bool irqPending() const;
  // The module's antenna switch lines, when wired (the chip's DIO2 drives it otherwise).
  bool hasSwitchLines() const { return rxen_ != nullptr; }
  void receiveSwitch(bool on) const;
  void transmitSwitch(bool on) const;

 private:
  RadioBus(RadioSystem& system, const RadioWiring& wiring) : system_(system), wiring_(wiring) {}
  bool message(const uint8_t* tx1, uint16_t n1, const uint8_t* tx2, uint8_t* rx2, uint16_t n2) const;
  void setLine(gpiod_line* line, bool high) const;

  RadioSystem& system_;
  RadioWiring wiring_;
  int fd_ = -1;
  gpiod_chip* chip_ = nullptr;
  gpiod_line* busy_ = nullptr;
  gpiod_line* reset_ = nullptr;
  gpiod_line* dio1_ = nullptr;
  gpiod_line* rxen_ = nullptr;
  gpiod_line* txen_ = nullptr;
};

}  // namespace vantor
