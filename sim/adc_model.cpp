// ADC1 of the simulated board.
#include "adc_model.h"

#include <cmath>
#include <cstdlib>

#include "dma_model.h"
#include "gpio_model.h"
#include "stm32g0xx_hal_cortex.h"

namespace sim {

namespace {

constexpr double kIntrinsicNoiseLsb = 0.5;

// ADC input pin of each external channel (port index, pin), -1 where there is none.
struct ChannelPin {
  int port;
  int pin;
};
constexpr ChannelPin kChannelPins[19] = {
    {0, 0}, {0, 1},  {0, 2},  {0, 3},  {0, 4},  {0, 5},  {0, 6},  {0, 7}, {1, 0}, {1, 1},
    {1, 2}, {1, 10}, {-1, 0}, {-1, 0}, {-1, 0}, {1, 11}, {1, 12}, {2, 4}, {2, 5},
};

uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A value in [-1, 1) from a hash state.
double spread(uint64_t& state) { return static_cast<double>(splitmix(state) >> 11) / 4503599627370496.0 - 1.0; }

uint16_t factoryReading(double volts) { return static_cast<uint16_t>(std::lround(volts / 3.0 * 4096.0)); }

}  // namespace

ChipFactory ChipFactory::make(const std::string& chipIdHex, uint64_t seed) {
  ChipFactory f;
  if (chipIdHex.size() == 24) {
    for (int w = 0; w < 3; ++w) {
      // Most significant word first in the text.
      f.uid[2 - w] =
          static_cast<uint32_t>(std::strtoul(chipIdHex.substr(static_cast<size_t>(w) * 8, 8).c_str(), nullptr, 16));
    }
  } else {
    uint64_t s = seed;
    const uint64_t a = splitmix(s), b = splitmix(s);
    f.uid = {static_cast<uint32_t>(a), static_cast<uint32_t>(a >> 32), static_cast<uint32_t>(b)};
  }
  // Part-to-part spread of the analog blocks, fixed for this chip.
  uint64_t h = (static_cast<uint64_t>(f.uid[0]) << 32) ^ f.uid[1] ^ (static_cast<uint64_t>(f.uid[2]) << 16);
  f.vrefintV = 1.212 * (1.0 + 0.004 * spread(h));
  f.ts30V = 0.760 + 0.005 * spread(h);
  f.uncalibratedOffsetLsb = 3.0 + 2.0 * spread(h);
  f.vrefintCal = factoryReading(f.vrefintV);
  f.tsCal1 = factoryReading(f.ts30V);
  return f;
}

Adc::Adc(DeviceHost& board, Dma& dma, uint64_t seed, const std::string& chipId,
         const AnalogFrontEnd::Pins& frontEndPins)
    : board_(board),
      dma_(dma),
      frontEnd_(seed, frontEndPins),
      factory_(ChipFactory::make(chipId, seed)),
      rng_(seed * 0x2545F4914F6CDD1Dull + 7) {}

void Adc::reset() {
  stop();
  setup_ = AdcSetup{};
  chsel_ = 0;
  smpsel_.fill(0);
  internal_.fill(false);
  calibrated_ = false;
}

void Adc::selectOnly(int channel) { chsel_ = 1u << channel; }

void Adc::select(int channel, bool on) {
  if (on)
    chsel_ |= 1u << channel;
  else
    chsel_ &= ~(1u << channel);
}

int Adc::sequenceLength() const { return __builtin_popcount(chsel_); }

int Adc::sequenceChannel(uint32_t index) const {
  const int n = sequenceLength();
  if (n == 0) return -1;
  int want = static_cast<int>(index % static_cast<uint32_t>(n));
  for (int i = 0; i < 19; ++i) {
    const int ch = setup_.backward ? 18 - i : i;
    if (chsel_ & (1u << ch)) {
      if (want == 0) return ch;
      --want;
    }
  }
  return -1;
}

double Adc::conversionTimeS(int channel) const {
  const double conv = setup_.resolutionBits + 0.5;  // successive approximation: bits + 0.5 clocks
  return (setup_.sampleCycles[smpsel_[channel] & 1] + conv) / setup_.clockHz;
}

void Adc::startDma() {
  overrunThisRun_ = overrunRuns_ != 0 ? overrunAfter_ : -1;
  if (overrunAfter_ >= 0 && overrunRuns_ > 0) --overrunRuns_;
  const uint32_t count = dma_.itemsWanted(kDmaRequest);
  mode_ = Mode::dma;
  count_ = count;
  startS_ = static_cast<double>(board_.nowUs()) * 1e-6;
  eoc_ = false;
  // One sequence only without continuous mode: a transfer longer than that never completes (nor does
  // a circular one in this model, which hands over a run's results at its end).
  const uint32_t available =
      setup_.continuous ? count : std::min<uint32_t>(count, static_cast<uint32_t>(sequenceLength()));
  if (available < count || count == 0 || count == UINT32_MAX || sequenceLength() == 0) {
    doneUs_ = kNever;
    return;
  }
  // With an overrun fault the run ends early, at the result after which the requests stop.
  const uint32_t results =
      overrunThisRun_ >= 0 ? std::min<uint32_t>(count, static_cast<uint32_t>(overrunThisRun_)) : count;
  double t = startS_;
  for (uint32_t k = 0; k < results; ++k) t += conversionTimeS(sequenceChannel(k)) * setup_.oversampleRatio;
  doneUs_ = static_cast<uint64_t>(std::ceil(t * 1e6));
}

void Adc::startSingle() {
  mode_ = Mode::single;
  startS_ = static_cast<double>(board_.nowUs()) * 1e-6;
  eoc_ = false;
  const int ch = sequenceChannel(0);
  if (ch < 0) {
    doneUs_ = kNever;
    return;
  }
  doneUs_ = static_cast<uint64_t>(std::ceil((startS_ + conversionTimeS(ch) * setup_.oversampleRatio) * 1e6));
}

void Adc::stop() {
  mode_ = Mode::idle;
  doneUs_ = kNever;
  count_ = 0;
}

uint32_t Adc::readData() {
  eoc_ = false;
  return data_;
}

uint64_t Adc::nextEventUs() const { return mode_ == Mode::idle ? kNever : doneUs_; }

void Adc::fire(uint64_t) {
  if (mode_ == Mode::single) {
    const int ch = sequenceChannel(0);
    data_ = convert(ch, startS_ + conversionTimeS(ch) - (setup_.resolutionBits + 0.5) / setup_.clockHz);
    eoc_ = true;
    mode_ = Mode::idle;
    doneUs_ = kNever;
    return;
  }
  if (mode_ == Mode::overrun) {
    // Converting on, one sequence after another; nothing reaches memory.
    doneUs_ +=
        std::max<uint64_t>(1, static_cast<uint64_t>(conversionTimeS(sequenceChannel(0)) * sequenceLength() * 1e6));
    return;
  }
  const bool overrun = overrunThisRun_ >= 0 && static_cast<uint32_t>(overrunThisRun_) < count_;
  if (overrun) count_ = static_cast<uint32_t>(overrunThisRun_);
  // DMA run complete: every result of the run, each sampled at its own instant.
  double t = startS_;
  for (uint32_t k = 0; k < count_; ++k) {
    const int ch = sequenceChannel(k);
    const double conv = conversionTimeS(ch);
    const double sampledAt = t + conv - (setup_.resolutionBits + 0.5) / setup_.clockHz;
    data_ = convert(ch, sampledAt);
    t += conv * setup_.oversampleRatio;
    (void)dma_.request(kDmaRequest, data_);
  }
  // The ADC goes on converting (continuous mode) but the one-shot DMA has stopped: the data
  // register keeps the last result (overrun preserves it).
  count_ = 0;
  doneUs_ = kNever;
  if (overrun) {
    mode_ = Mode::overrun;
    doneUs_ = board_.nowUs() + 1;
    return;
  }
  if (!setup_.continuous) mode_ = Mode::idle;
}

double Adc::inputVoltage(int channel, double t) {
  const double vdda = frontEnd_.scenario().vdda;
  const double temp = frontEnd_.scenario().temperature;
  if (channel >= kTempSensorChannel && channel <= kVbatChannel) {
    if (!internal_[channel - kTempSensorChannel]) return 0.0;
    if (channel == kTempSensorChannel) return factory_.ts30V + ChipFactory::kTsSlopeVPerC * (temp - 30.0);
    if (channel == kVrefintChannel) return factory_.vrefintV;
    return vdda / 3.0;  // VBAT through its divider; the battery is the supply on this board
  }
  const ChannelPin& p = kChannelPins[channel];
  const PinState& pin = board_.gpio().pin(p.port, p.pin);
  if (pin.mode == PinMode::output || pin.mode == PinMode::alternate)
    return board_.gpio().level(p.port, p.pin) ? vdda : 0.0;
  const double v = frontEnd_.channelVoltage(channel, t, board_.gpio());
  return v < 0 ? 0.0 : v;
}

uint16_t Adc::convert(int channel, double t) {
  if (channel < 0) return 0;
  const double vdda = frontEnd_.scenario().vdda;
  const int full = 1 << setup_.resolutionBits;
  const double offset = calibrated_ ? 0.0 : factory_.uncalibratedOffsetLsb;
  const double step = conversionTimeS(channel);
  uint32_t acc = 0;
  for (int i = 0; i < setup_.oversampleRatio; ++i) {
    const double v = inputVoltage(channel, t + i * step);
    const double code = std::round(v / vdda * full + offset + gauss_(rng_) * kIntrinsicNoiseLsb);
    acc += static_cast<uint32_t>(std::clamp(code, 0.0, static_cast<double>(full - 1)));
  }
  return static_cast<uint16_t>(acc >> setup_.oversampleShift);
}

}  // namespace sim
