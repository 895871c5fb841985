// The LLCC68 transceiver of the simulated board: powered by the supply switch (PA8), reset by PB0,
// framed by chip select (PB12), driving BUSY (PB11), and answering the SX126x command set on SPI1.
// It keeps the chip's modes, registers, 256-byte buffer and IRQ flags, radiates into the medium and
// receives from it. Faults can be injected for tests.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "device_host.h"
#include "radio_medium.h"
#include "scheduler.h"
#include "spi_bus.h"
#include "wiring.h"

namespace sim {

// Injected faults (tests set them directly; orvane-sim from --radio-fault).
struct Llcc68Faults {
  bool absent = false;                     // no chip on the board: nothing answers, BUSY idles high
  bool busyStuck = false;                  // BUSY never falls
  bool busyStuckAfterNextCommand = false;  // BUSY rises with the next command and stays high
  unsigned spiFailSkip = 0;                // transfers that still succeed before the failures start
  unsigned spiFailCount = 0;               // SPI transfers that fail (HAL error), then the bus works again
  bool irqSilent = false;                  // the chip never reports an IRQ flag
  int failOpcode = -1;                     // every SPI transfer that starts with this opcode fails
  unsigned failOpcodeSkip = 0;             // ... but for this many commands with it that still succeed first
};

class Llcc68Model : public Device, public RadioEndpoint, public SpiDevice {
 public:
  // Datasheet-typical timings of the SX126x family.
  static constexpr uint64_t kColdBootUs = 3500;
  static constexpr uint64_t kWarmWakeUs = 340;
  static constexpr uint64_t kCommandUs = 10;
  static constexpr uint64_t kStandbyUs = 20;
  static constexpr uint64_t kFsUs = 50;
  static constexpr uint64_t kTxRampUs = 130;
  static constexpr uint64_t kRxStartUs = 80;
  static constexpr uint64_t kImageCalUs = 2000;
  static constexpr uint64_t kSpiByteUs = 64;  // 8 bits at 125 kHz

  enum class Mode : uint8_t { off, reset, booting, sleep, stbyRc, stbyXosc, fs, rx, tx };

  // The lines of the board the chip is wired to.
  struct Pins {
    Wiring::Line supply, reset, busy, cs;
  };
  Llcc68Model(DeviceHost& board, RadioMedium& medium, std::string name, uint64_t seed, const Pins& pins);
  ~Llcc68Model() override;

  // SPI side (the hardware layer's SPI1). Returns false for an injected transfer failure of a
  // transfer whose first byte is `first`.
  bool spiTransferAllowed(uint8_t first) override;
  uint8_t spiExchange(uint8_t mosi) override;

  Llcc68Faults& faults() { return faults_; }
  // Device errors reported by GetDeviceErrors; `persist`: ClearDeviceErrors does not clear them.
  void setDeviceErrors(uint16_t errors, bool persist);
  // Apply a fault by its orvane-sim name (see sim/RADIO.md); false for an unknown one.
  bool applyFault(const std::string& spec, std::string& error);
  // The same on a fault record; a device-error fault sets `errors` and `persist`.
  static bool parseFault(const std::string& spec, Llcc68Faults& faults, uint16_t& errors, bool& persist,
                         std::string& error);
  // Arms `spec` at virtual time `atUs`.
  void scheduleFault(const std::string& spec, uint64_t atUs);
  void refreshBusy();

  // Tests: the chip answers `reply` as the data bytes of `opcode` (after its status bytes).
  void overrideReply(uint8_t opcode, std::vector<uint8_t> reply) { replyOverrides_[opcode] = std::move(reply); }

  // Observation for tests.
  Mode mode() const { return mode_; }
  bool powered() const { return mode_ != Mode::off; }
  uint8_t reg(uint16_t address) const;
  void setReg(uint16_t address, uint8_t value) { regs_[address] = value; }
  const std::array<uint8_t, 256>& buffer() const { return buffer_; }
  uint8_t packetType() const { return pktType_; }
  uint16_t irqFlags() const { return irqFlags_; }
  uint32_t freqHz() const;
  int txPowerDbm() const { return txPower_; }
  bool warmSleep() const { return warmSleep_; }
  LoraAirSettings airSettings() const;
  // MOSI bytes of every chip-select frame (kept only while recording, for tests), and every byte
  // clocked on the bus, since the last clear.
  void recordTransactions(bool on) { recording_ = on; }
  const std::vector<std::vector<uint8_t>>& transactions() const { return transactions_; }
  uint64_t spiBytes() const { return spiBytes_; }
  void clearTransactions();
  // Commands the chip could not take because it was busy, asleep or unpowered.
  unsigned ignoredCommands() const { return ignored_; }

  // Device.
  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;
  bool periodic() const override { return true; }  // the DIO lines are not wired as interrupts

  // RadioEndpoint.
  const std::string& endpointName() const override { return name_; }
  void frameHeader(const AirFrame& frame, const Reception& rx) override;
  void frameEnd(const AirFrame& frame, const Reception& rx) override;
  bool hearing() const override { return mode_ == Mode::rx; }

 private:
  void onSupply(bool level);
  void onReset(bool level);
  void onChipSelect(bool level);
  void powerOnDefaults();
  void boot(uint64_t durationUs, bool cold);
  void execute(const std::vector<uint8_t>& cmd);
  uint8_t statusByte() const;
  uint8_t replyByte(size_t index);
  void setBusyFor(uint64_t us);
  void raise(uint16_t irq);
  bool awake() const;
  bool listening(const AirFrame& frame) const;
  void startTx(uint32_t timeoutSteps);
  void startRx(uint32_t timeoutSteps);
  void endTx(uint64_t nowUs);
  void enterStandby();
  void leaveRx();
  uint8_t rssiRaw(double dbm) const;
  uint8_t instantRssiRaw();
  bool loraPairSupported(uint8_t sf, uint8_t bw) const;

  DeviceHost& board_;
  RadioMedium& medium_;
  std::string name_;
  Pins pins_;
  Llcc68Faults faults_;
  std::mt19937 rng_;

  Mode mode_ = Mode::off;
  bool supply_ = false;
  bool resetLow_ = true;
  bool csLow_ = false;
  bool selected_ = false;
  bool frameAccepted_ = false;  // the chip was ready when chip select fell
  bool busyEventPending_ = false;
  bool warmSleep_ = false;
  uint64_t busyUntilUs_ = 0;
  uint64_t bootDoneUs_ = kNever;

  std::vector<uint8_t> frame_;  // MOSI bytes of the current chip-select frame
  std::vector<std::vector<uint8_t>> transactions_;
  bool recording_ = false;
  uint64_t spiBytes_ = 0;
  unsigned ignored_ = 0;

  std::map<uint16_t, uint8_t> regs_;
  std::array<uint8_t, 256> buffer_{};
  uint8_t pktType_ = 0;
  std::array<uint8_t, 8> modParams_{};
  std::array<uint8_t, 9> pktParams_{};
  uint32_t freqSteps_ = 0;
  int txPower_ = 0;
  uint8_t rampTime_ = 0;
  std::array<uint8_t, 4> paConfig_{};
  uint8_t txBase_ = 0;
  uint8_t rxBase_ = 0;
  uint16_t irqMask_ = 0;
  uint16_t irqFlags_ = 0;
  uint8_t cmdStatus_ = 0;
  uint16_t deviceErrors_ = 0;
  bool deviceErrorsPersist_ = false;
  bool dio2RfSwitch_ = false;

  // Transmission in progress.
  uint64_t txFrameId_ = 0;
  uint64_t txEndUs_ = kNever;
  bool txTimesOut_ = false;
  // Reception.
  bool rxContinuous_ = false;
  uint64_t rxEnteredUs_ = 0;
  uint64_t rxTimeoutUs_ = kNever;
  uint64_t lockedFrame_ = 0;
  uint8_t rxLen_ = 0;
  uint8_t rxStart_ = 0;
  std::array<uint8_t, 3> pktStatus_{};
  uint8_t lastRssiRaw_ = 0;
  std::array<uint8_t, 4> rng4_{};

  std::map<uint8_t, std::vector<uint8_t>> replyOverrides_;

  struct TimedFault {
    uint64_t atUs;
    std::string spec;
  };
  std::vector<TimedFault> timedFaults_;
};

}  // namespace sim
