// USART1 with its receive DMA channel (DMA1 channel 2): bytes from the operator arrive at
// 115200 baud in virtual time and land in the buffer of a receive-to-idle DMA reception.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "device_host.h"
#include "scheduler.h"

namespace sim {

class Uart : public Device {
 public:
  static constexpr uint64_t kByteTimeNs = 86806;  // 10 bits at 115200 baud

  explicit Uart(DeviceHost& board) : board_(board) {}

  // Operator side: queue bytes on the wire, back to back after what is already queued.
  void hostSend(const std::string& bytes);
  bool receiving() const { return !wire_.empty(); }

  // Firmware side, through the hardware layer.
  void startReceive(uint8_t* buf, uint16_t size);
  void stopReceive();
  bool rxActive() const { return active_; }
  uint16_t received() const { return count_; }
  // Events taken by the interrupt handlers of the hardware layer.
  bool takeHalf();
  bool takeFull();
  bool takeIdle();
  uint32_t takeError();
  // Tests: a framing/noise/overrun error on the line.
  void injectError(uint32_t errorCode);
  // Virtual time a transmission of `len` bytes takes.
  static uint64_t txTimeUs(size_t len) { return (len * kByteTimeNs + 999) / 1000; }

  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;

 private:
  DeviceHost& board_;
  std::deque<uint8_t> wire_;
  uint64_t nextByteNs_ = 0;  // arrival time of wire_.front()
  uint64_t idleAtNs_ = 0;    // line idle detection after the last byte; 0 when none pending
  uint8_t* buf_ = nullptr;
  uint16_t size_ = 0;
  uint16_t count_ = 0;
  bool active_ = false;
  bool half_ = false, full_ = false, idle_ = false;
  uint32_t error_ = 0;
};

}  // namespace sim
