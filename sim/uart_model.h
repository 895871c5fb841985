// USART1's receiver: bytes from the operator arrive at 115200 baud in virtual time. Each byte lands
// in the receive data register (RXNE), or, with DMA requests on, goes to the DMA channel routed to
// the USART's receive request; a byte that finds the register still full is lost (overrun). After a
// byte the line going quiet for a frame raises IDLE. Line errors can be injected for tests.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "device_host.h"
#include "scheduler.h"

namespace sim {

class Dma;

class Uart : public Device {
 public:
  static constexpr uint64_t kByteTimeNs = 86806;  // 10 bits at 115200 baud
  static constexpr uint32_t kWireBaud = 115200;   // the operator's side of the line
  // DMAMUX request line of the receiver (reference manual, DMAMUX request table).
  static constexpr uint8_t kRxRequest = 50;

  // USART_ISR flags of the receiver, at the reference manual's bit positions.
  static constexpr uint32_t kParityError = 0x01;
  static constexpr uint32_t kFramingError = 0x02;
  static constexpr uint32_t kNoise = 0x04;
  static constexpr uint32_t kOverrun = 0x08;
  static constexpr uint32_t kIdle = 0x10;
  static constexpr uint32_t kRxNotEmpty = 0x20;
  static constexpr uint32_t kErrors = kParityError | kFramingError | kNoise | kOverrun;

  Uart(DeviceHost& board, Dma& dma) : board_(board), dma_(dma) {}

  // Operator side: queue bytes on the wire, back to back after what is already queued.
  void hostSend(const std::string& bytes);
  bool receiving() const { return !wire_.empty(); }

  // The receiver's settings (USART_CR1 UE and RE, CR1 RXNEIE and IDLEIE, CR3 EIE and DMAR), and
  // the baud rate its divider gives: a rate too far from the line's makes every byte a framing error.
  void setReceiverEnabled(bool on) { receiverOn_ = on; }
  void setInterrupts(bool rxNotEmpty, bool idle, bool errors);
  void setDmaRequests(bool on);
  void setBaud(double baud) { baud_ = baud; }
  // USART_ISR (the receiver's flags) and USART_ICR: write 1 to clear.
  uint32_t status() const { return status_; }
  void clearStatus(uint32_t mask);
  // USART_RDR: reading it clears RXNE.
  uint8_t readData();

  // Tests: a line error (HAL_UART_ERROR_* bits: parity, noise, framing, overrun) on the next look at
  // the line, as the receiver would flag it.
  void injectError(uint32_t errorCode);
  // Virtual time a transmission of `len` bytes takes.
  static uint64_t txTimeUs(size_t len) { return (len * kByteTimeNs + 999) / 1000; }

  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;

 private:
  void receive(uint8_t byte);
  void raise(uint32_t flags);
  void updateLine();

  DeviceHost& board_;
  Dma& dma_;
  std::deque<uint8_t> wire_;
  uint64_t nextByteNs_ = 0;  // arrival time of wire_.front()
  uint64_t idleAtNs_ = 0;    // line idle detection after the last byte; 0 when none pending
  bool receiverOn_ = true;
  bool dmaRequests_ = false;
  bool rxneInterrupt_ = false, idleInterrupt_ = false, errorInterrupt_ = false;
  double baud_ = kWireBaud;
  uint32_t status_ = 0;
  uint8_t data_ = 0;
  bool byteSinceIdle_ = false;
};

}  // namespace sim
