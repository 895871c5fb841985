// The seam's real side: the system calls and libgpiod 1.x, one call each.
#include <fcntl.h>
#include <gpiod.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "radio_system.h"

namespace vantor {

namespace {

uint64_t clockUs(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

class LinuxSystem final : public RadioSystem {
 public:
  int open(const char* path, int flags) override { return ::open(path, flags | O_CLOEXEC); }
  int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
  int close(int fd) override { return ::close(fd); }
  gpiod_chip* chipOpenLookup(const char* descr) override { return ::gpiod_chip_open_lookup(descr); }
  void chipClose(gpiod_chip* chip) override { ::gpiod_chip_close(chip); }
  gpiod_line* chipGetLine(gpiod_chip* chip, unsigned offset) override { return ::gpiod_chip_get_line(chip, offset); }
  int lineRequestInput(gpiod_line* line, const char* consumer) override {
    return ::gpiod_line_request_input(line, consumer);
  }
  int lineRequestOutput(gpiod_line* line, const char* consumer, int value) override {
    return ::gpiod_line_request_output(line, consumer, value);
  }
  int lineGetValue(gpiod_line* line) override { return ::gpiod_line_get_value(line); }
  int lineSetValue(gpiod_line* line, int value) override { return ::gpiod_line_set_value(line, value); }
  uint64_t monotonicUs() override { return clockUs(CLOCK_MONOTONIC); }
  uint64_t utcUs() override { return clockUs(CLOCK_REALTIME); }
  void sleepUs(uint64_t us) override {
    timespec ts{static_cast<time_t>(us / 1'000'000u), static_cast<long>(us % 1'000'000u) * 1000};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

RadioSystem& linuxSystem() {
  static LinuxSystem system;
  return system;
}

}  // namespace vantor
