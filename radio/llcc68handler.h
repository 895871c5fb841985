// The node's single owner of the LLCC68 radio: configuration after power-up, health checks,
// chip report, radio-aware sleep, transmission with channel sensing and receive windows.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

#include "llcc68_driver.h"

struct MCUState;
struct GState;

// The outcome of one receive window.
struct LoraListenResult {
  enum class Outcome : uint8_t {
    setupFailed = 0,
    rxDone = 1,
    crcError = 2,
    headerError = 3,
    timeout = 4,
    pollExpired = 5,
  };

  Outcome outcome = Outcome::setupFailed;
  uint32_t elapsedMs = 0;  // from the start of reception to the end of polling
  uint8_t len = 0;         // payload length of the frame read out
  int8_t rssiDbm = 0;
  int8_t snrDb = 0;
  uint8_t droppedFrames = 0;  // header or CRC errors, saturating

  const char* label() const;
  bool gotFrame() const { return outcome == Outcome::rxDone && len != 0; }
  bool corruptFrame() const { return outcome == Outcome::crcError || outcome == Outcome::headerError; }
};

struct Llcc68HandlerConfig {
  MCUState* mcuState;
  GState* gstate;  // not used by this program
};

using Llcc68RxCallback = void (*)(const uint8_t* data, uint8_t len, void* user);

class Llcc68Handler {
 public:
  explicit Llcc68Handler(const Llcc68HandlerConfig* config);

  // Configures the chip once; true at once when already configured.
  bool init();
  bool ensureInit();
  bool isInitialized() const { return initialized_; }
  // The radio supply was cut: the next use configures the chip again.
  void markPoweredOff() { initialized_ = false; }
  void setRxCallback(Llcc68RxCallback callback, void* user);
  bool setTxPowerDbm(int8_t dbm);
  void printChipInfo();

  // One frame of 1..255 bytes; problems appear only as console lines.
  void send(const uint8_t* data, uint8_t len);
  // Highest instantaneous RSSI over sampleMs milliseconds, or -127 when nothing could be read.
  int16_t sampleChannelRssiDbm(uint16_t sampleMs);
  // One receive window of timeout_ms; a good frame goes to the receive callback before it returns.
  LoraListenResult listen(uint16_t timeout_ms);

 private:
  const void* ctx() const { return nullptr; }
  bool waitUntilIdle(uint32_t timeout_ms, const char* stage);
  static bool statusIsError(const llcc68_chip_status_t& status);
  bool getStatusChecked(const char* stage, llcc68_chip_status_t* out);
  bool checkDeviceErrors(const char* stage);
  bool prepareForTx();
  void uartLine(const char* format, ...) __attribute__((format(printf, 2, 3)));

  const Llcc68HandlerConfig* config_;
  bool initialized_;
  Llcc68RxCallback rx_callback_;
  void* rx_user_;
  std::array<uint8_t, 256> rxBuffer_;
};

Llcc68Handler& llcc68HandlerInstance();

bool loraSetTxPowerDbm(int8_t dbm);
// The transmit power kept in the RTC backup registers, limited to the node's 0..14 dBm.
int8_t storedTxPowerDbm();
int16_t loraSampleChannelRssiDbm(uint16_t sampleMs);
// True when the peak RSSI over sampleMs is a real reading (>= -126) above thresholdDbm.
bool loraChannelHasRssiEnergy(int16_t thresholdDbm, uint16_t sampleMs);
// Sends one frame after the gap to the previous one and listen-before-talk.
void lora_send(const uint8_t* data, uint8_t len);
// Sleeps ms with the radio in warm-start sleep (it keeps its configuration) once it is set up.
void delayMsLowPowerRadioSleep(uint32_t ms);
// The same with a wider length (a 32-bit count), of which the low 8 bits are used: 256 sends nothing.
template <typename Length>
requires(std::is_integral_v<Length> && !std::is_same_v<Length, uint8_t>) void lora_send(const uint8_t* data,
                                                                                        Length len) {
  lora_send(data, static_cast<uint8_t>(static_cast<uint32_t>(len) & 0xFFu));
}
LoraListenResult lora_listen(uint16_t timeout_ms);
