// spidev messages and libgpiod lines under the LLCC68 command layer, with the node's bus rules:
// BUSY low before and after every transaction (100 ms), a reset pulse of 1 ms and 6 ms to boot,
// BUSY low within 20 ms of a reset or a wake-up.
#include "radio_bus.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstring>

namespace vantor {

namespace {

constexpr uint32_t kBusyWaitMs = 100;
constexpr uint32_t kBootWaitMs = 20;
constexpr uint64_t kBusyPollUs = 50;
constexpr const char* kConsumer = "vantor";

std::string sysError(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::unique_ptr<RadioBus> RadioBus::open(RadioSystem& system, const RadioWiring& wiring, std::string& error) {
  std::unique_ptr<RadioBus> bus(new RadioBus(system, wiring));
  bus->fd_ = system.open(wiring.spidev.c_str(), O_RDWR);
  if (bus->fd_ < 0) {
    error = sysError("cannot open " + wiring.spidev);
    return nullptr;
  }
  uint8_t mode = SPI_MODE_0;
  uint8_t bits = 8;
  uint32_t speed = kSpiSpeedHz;
  if (system.ioctl(bus->fd_, SPI_IOC_WR_MODE, &mode) < 0 ||
      system.ioctl(bus->fd_, SPI_IOC_WR_BITS_PER_WORD, &bits) < 0 ||
      system.ioctl(bus->fd_, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0) {
    error = sysError(wiring.spidev + " refuses SPI mode 0, 8 bits at 2 MHz");
    return nullptr;
  }
  bus->chip_ = system.chipOpenLookup(wiring.chip.c_str());
  if (bus->chip_ == nullptr) {
    error = sysError("cannot open GPIO chip " + wiring.chip);
    return nullptr;
  }
  struct Want {
    const char* role;
    std::optional<unsigned> offset;
    gpiod_line** line;
    bool output;
    int value;
  };
  const Want wants[] = {
      {"busy", wiring.busy, &bus->busy_, false, 0}, {"reset", wiring.reset, &bus->reset_, true, 1},
      {"dio1", wiring.dio1, &bus->dio1_, false, 0}, {"rxen", wiring.rxen, &bus->rxen_, true, 0},
      {"txen", wiring.txen, &bus->txen_, true, 0},
  };
  for (const Want& w : wants) {
    if (!w.offset) continue;
    gpiod_line* line = system.chipGetLine(bus->chip_, *w.offset);
    const int rc = line == nullptr ? -1
                   : w.output      ? system.lineRequestOutput(line, kConsumer, w.value)
                                   : system.lineRequestInput(line, kConsumer);
    if (rc < 0) {
      error = sysError("cannot take line " + std::to_string(*w.offset) + " of " + wiring.chip + " as " + w.role);
      return nullptr;
    }
    *w.line = line;
  }
  return bus;
}

RadioBus::~RadioBus() {
  if (chip_ != nullptr) system_.chipClose(chip_);
  if (fd_ >= 0) system_.close(fd_);
}

void RadioBus::setLine(gpiod_line* line, bool high) const {
  if (line != nullptr) (void)system_.lineSetValue(line, high ? 1 : 0);
}

bool RadioBus::busyWaitReady(uint32_t timeoutMs) const {
  const uint64_t start = system_.monotonicUs();
  for (;;) {
    if (system_.lineGetValue(busy_) == 0) return true;
    if (system_.monotonicUs() - start >= static_cast<uint64_t>(timeoutMs) * 1000u) return false;
    system_.sleepUs(kBusyPollUs);
  }
}

// One chip-select frame: the first transfer sends, the second (if any) sends or receives.
bool RadioBus::message(const uint8_t* tx1, uint16_t n1, const uint8_t* tx2, uint8_t* rx2, uint16_t n2) const {
  spi_ioc_transfer t[2];
  std::memset(t, 0, sizeof t);
  unsigned n = 0;
  if (n1 != 0) {
    t[n].tx_buf = reinterpret_cast<uintptr_t>(tx1);
    t[n].len = n1;
    t[n].bits_per_word = 8;
    ++n;
  }
  if (n2 != 0) {
    t[n].tx_buf = reinterpret_cast<uintptr_t>(tx2);
    t[n].rx_buf = reinterpret_cast<uintptr_t>(rx2);
    t[n].len = n2;
    t[n].bits_per_word = 8;
    ++n;
  }
  if (n == 0) return true;
  const unsigned long request = n == 1 ? SPI_IOC_MESSAGE(1) : SPI_IOC_MESSAGE(2);
  return system_.ioctl(fd_, request, t) >= 0;
}

llcc68_hal_status_t RadioBus::write(const uint8_t* command, uint16_t commandLength, const uint8_t* data,
                                    uint16_t dataLength) const {
  if (!busyWaitReady(kBusyWaitMs)) return LLCC68_HAL_STATUS_ERROR;
  if (!message(command, commandLength, data, nullptr, data == nullptr ? 0 : dataLength)) return LLCC68_HAL_STATUS_ERROR;
  // The chip holds BUSY high while it executes the command.
  return busyWaitReady(kBusyWaitMs) ? LLCC68_HAL_STATUS_OK : LLCC68_HAL_STATUS_ERROR;
}

llcc68_hal_status_t RadioBus::read(const uint8_t* command, uint16_t commandLength, uint8_t* data,
                                   uint16_t dataLength) const {
  if (!busyWaitReady(kBusyWaitMs)) return LLCC68_HAL_STATUS_ERROR;
  // Zeros go out while the reply comes in.
  if (!message(command, commandLength, nullptr, data, dataLength)) return LLCC68_HAL_STATUS_ERROR;
  return busyWaitReady(kBusyWaitMs) ? LLCC68_HAL_STATUS_OK : LLCC68_HAL_STATUS_ERROR;
}

llcc68_hal_status_t RadioBus::reset() const {
  setLine(reset_, false);
  system_.sleepUs(1000);
  setLine(reset_, true);
  system_.sleepUs(6000);
  return busyWaitReady(kBootWaitMs) ? LLCC68_HAL_STATUS_OK : LLCC68_HAL_STATUS_ERROR;
}

llcc68_hal_status_t RadioBus::wakeup() const {
  // The kernel drives chip select: a GetStatus frame gives the falling edge that wakes the chip.
  const uint8_t getStatus[2] = {0xC0, 0x00};
  if (!message(getStatus, sizeof getStatus, nullptr, nullptr, 0)) return LLCC68_HAL_STATUS_ERROR;
  return busyWaitReady(kBootWaitMs) ? LLCC68_HAL_STATUS_OK : LLCC68_HAL_STATUS_ERROR;
}

bool RadioBus::irqPending() const { return dio1_ == nullptr || system_.lineGetValue(dio1_) != 0; }

void RadioBus::receiveSwitch(bool on) const { setLine(rxen_, on); }
void RadioBus::transmitSwitch(bool on) const { setLine(txen_, on); }

}  // namespace vantor
