// ADC1 of the simulated board: each conversion samples its channel at its own instant (sampling time
// + conversion time at the ADC clock), quantised and clipped to the rails, and raises a DMA request
// with its result when DMA requests are on; the internal reference and temperature sensor, and this
// chip's factory calibration words and unique ID.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "analog_frontend.h"
#include "device_host.h"
#include "scheduler.h"
#include "standard_normal.h"

namespace sim {

// What the hardware layer has programmed into the converter.
struct AdcSetup {
  double clockHz = 2e6;
  int resolutionBits = 12;
  std::array<double, 2> sampleCycles{160.5, 1.5};  // common sampling times 1 and 2
  bool backward = false;                           // descending channel order
  bool continuous = false;                         // sequences repeat until stopped
  int oversampleRatio = 1;                         // conversions accumulated per result (1: off)
  int oversampleShift = 0;
};

// Factory data of this chip: unique ID and the analog characteristics its calibration words hold.
struct ChipFactory {
  std::array<uint32_t, 3> uid{};
  double vrefintV = 1.212;  // internal reference voltage
  double ts30V = 0.760;     // temperature sensor voltage at 30 degrees C
  static constexpr double kTsSlopeVPerC = 0.0025;
  double uncalibratedOffsetLsb = 3.0;  // converter offset before self-calibration
  uint16_t vrefintCal = 0;             // readings taken at 3.0 V
  uint16_t tsCal1 = 0;
  // From the --chip-id text (24 hex digits), else derived from the seed.
  static ChipFactory make(const std::string& chipIdHex, uint64_t seed);
};

class Dma;

class Adc : public Device {
 public:
  // DMAMUX request line of the converter (reference manual, DMAMUX request table).
  static constexpr uint8_t kDmaRequest = 5;
  static constexpr int kTempSensorChannel = 12;
  static constexpr int kVrefintChannel = 13;
  static constexpr int kVbatChannel = 14;

  Adc(DeviceHost& board, Dma& dma, uint64_t seed, const std::string& chipId, const AnalogFrontEnd::Pins& frontEndPins);

  AnalogFrontEnd& frontEnd() { return frontEnd_; }
  const ChipFactory& factory() const { return factory_; }

  // Registers: reset state, configuration, channel selection, calibration.
  void reset();
  void setup(const AdcSetup& s) { setup_ = s; }
  const AdcSetup& setupInUse() const { return setup_; }
  void selectOnly(int channel);
  void select(int channel, bool on);
  void setSamplingTimeSelect(int channel, int common) { smpsel_[channel] = static_cast<uint8_t>(common); }
  void enableInternalPath(int channel) { setInternalPath(channel, true); }
  void setInternalPath(int channel, bool on) { internal_[static_cast<size_t>(channel - kTempSensorChannel)] = on; }
  uint32_t selectedChannels() const { return chsel_; }
  void calibrate() { calibrated_ = true; }
  bool calibrated() const { return calibrated_; }

  // Conversions. A DMA run converts as many results as the DMA channel routed to the converter
  // takes, each handed to it as a request, in one go when the run has ended (the results keep their
  // own sampling instants); a single run converts one sequence result into the data register.
  void startDma();
  void startSingle();
  void stop();
  bool running() const { return mode_ != Mode::idle; }
  bool endOfConversion() const { return eoc_; }
  // Converting on after the DMA stopped taking results: the data register is overrun.
  bool overrun() const { return mode_ == Mode::overrun || (mode_ == Mode::dma && count_ == 0); }
  uint32_t readData();
  // Instant (us) at which the running DMA transfer or single conversion ends.
  uint64_t nextEventUs() const override;
  void fire(uint64_t nowUs) override;

  // Faults for tests. After `results` results of a DMA run the converter overruns: its DMA
  // requests stop, so the transfer never completes, while it goes on converting (negative: off).
  // `runs` limits it to the next that many DMA runs (negative: every run).
  void setDmaOverrunAfter(int results, int runs = -1) {
    overrunAfter_ = results;
    overrunRuns_ = runs;
  }
  // The converter never answers: every operation that waits on it times out.
  void setUnresponsive(bool on) { unresponsive_ = on; }
  bool unresponsive() const { return unresponsive_; }
  // A stop or disable never completes (the converter runs on); the rest answers.
  void setStopStuck(bool on) { stopStuck_ = on; }
  bool stopStuck() const { return stopStuck_ || unresponsive_; }

  // One result (with oversampling) of `channel` whose first sampling ends at `t` seconds.
  uint16_t convert(int channel, double t);
  // Time of one conversion of `channel`, seconds.
  double conversionTimeS(int channel) const;

 private:
  enum class Mode { idle, dma, single, overrun };
  double inputVoltage(int channel, double t);
  int sequenceChannel(uint32_t index) const;
  int sequenceLength() const;

  DeviceHost& board_;
  Dma& dma_;
  AnalogFrontEnd frontEnd_;
  ChipFactory factory_;
  AdcSetup setup_;
  uint32_t chsel_ = 0;
  std::array<uint8_t, 19> smpsel_{};
  std::array<bool, 3> internal_{};
  bool calibrated_ = false;
  Mode mode_ = Mode::idle;
  double startS_ = 0;
  uint64_t doneUs_ = kNever;
  uint32_t count_ = 0;  // results the running DMA run hands over
  uint32_t data_ = 0;
  bool eoc_ = false;
  int overrunAfter_ = -1;
  int overrunRuns_ = -1;
  int overrunThisRun_ = -1;  // the fault as the running DMA run has it
  bool unresponsive_ = false;
  bool stopStuck_ = false;
  std::mt19937_64 rng_;
  StandardNormal gauss_;
};

}  // namespace sim
