// The Linux calls under the Vantor's own radio, as one seam: the spidev device (open, ioctl, close),
// the GPIO lines through libgpiod 1.x, and the clocks. linuxSystem() makes the real calls; a test
// puts a fake SPI device and fake lines in front of the chip model, on the same code path.
#pragma once

#include <cstdint>

struct gpiod_chip;
struct gpiod_line;

namespace vantor {

class RadioSystem {
 public:
  virtual ~RadioSystem() = default;
  // open(2), ioctl(2), close(2): -1 and errno on failure.
  virtual int open(const char* path, int flags) = 0;
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual int close(int fd) = 0;
  // libgpiod 1.x: gpiod_chip_open_lookup, gpiod_chip_close (which releases its lines),
  // gpiod_chip_get_line, gpiod_line_request_input/_output, gpiod_line_get_value/_set_value.
  virtual gpiod_chip* chipOpenLookup(const char* descr) = 0;
  virtual void chipClose(gpiod_chip* chip) = 0;
  virtual gpiod_line* chipGetLine(gpiod_chip* chip, unsigned offset) = 0;
  virtual int lineRequestInput(gpiod_line* line, const char* consumer) = 0;
  virtual int lineRequestOutput(gpiod_line* line, const char* consumer, int value) = 0;
  virtual int lineGetValue(gpiod_line* line) = 0;
  virtual int lineSetValue(gpiod_line* line, int value) = 0;
  // CLOCK_MONOTONIC for timing, CLOCK_REALTIME for the records, in microseconds.
  virtual uint64_t monotonicUs() = 0;
  virtual uint64_t utcUs() = 0;
  virtual void sleepUs(uint64_t us) = 0;
};

// The real calls.
RadioSystem& linuxSystem();

}  // namespace vantor
