// Per-channel analysis of a capture.
#include "rms_signal.h"

#include <cmath>

#include "float_exact.h"
#include "functions.h"
#include "gstate.h"

namespace {
constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kQ15 = 1.0f / 32767.0f;  // 3.0518509e-05
// The E-field inputs are converted two conversion slots after the clamp's reference instant.
constexpr float kEFieldPhaseCorrectionRad = -0.05434955f;

void averageOf(Measure& m, const ChannelSamples& c) {
  if (m.average != 0) return;
  const uint16_t n = c.size();
  if (n == 0) return;
  int32_t sum = 0;
  for (uint16_t i = 0; i < n; ++i) sum += c[i];
  m.average = sum / n;
}

void rmsOf(Measure& m, const ChannelSamples& c) {
  if (m.rmsRaw != 0.0f) return;
  averageOf(m, c);
  const uint16_t n = c.size();
  if (n == 0) return;
  uint32_t sum = 0;
  for (uint16_t i = 0; i < n; ++i) {
    const uint32_t d = static_cast<uint32_t>(c[i] - m.average);
    sum += d * d;  // modulo 2^32, which equals the square for any 12-bit capture
  }
  m.rmsRaw = std::sqrt(static_cast<float>(sum) / static_cast<float>(n)) + 0.5f;
  m.rmsV = toV(m.rmsRaw, gstate().adc.VRef);
}

}  // namespace

ChannelSamples::ChannelSamples(const ADC_Chan& chan) : size_(chan.size()), v_{} {
  chan.read(v_, size_ < RmsTrigLut::kSize ? size_ : RmsTrigLut::kSize);
}

Measure::Measure(ADC_Chan* channel)
    : average(0),
      rmsRaw(0.0f),
      rmsV(0.0f),
      phaseOk(false),
      phaseRad(0.0f),
      magnitude(0.0f),
      phaseCorrection(0.0f),
      chan(channel) {
  if (chan != nullptr && (chan->chanId == ADCChan::EFieldCap || chan->chanId == ADCChan::EfieldInd))
    phaseCorrection = kEFieldPhaseCorrectionRad;
}

void Measure::reset() { *this = Measure(chan); }

void Measure::computeAverage() {
  if (average != 0 || chan == nullptr) return;
  averageOf(*this, ChannelSamples(*chan));
}

void Measure::computeRMS() {
  if (rmsRaw != 0.0f || chan == nullptr) return;
  rmsOf(*this, ChannelSamples(*chan));
}

bool Measure::computeFundamentalPhase() {
  if (phaseOk) return true;
  if (chan == nullptr) return false;
  const ChannelSamples c(*chan);
  rmsOf(*this, c);
  const uint16_t n = c.size();
  float accSin = 0.0f;
  float accCos = 0.0f;
  for (uint16_t i = 0; i < n && i < RmsTrigLut::kSize; ++i) {
    // float(table) x float(d) is exact before its one rounding, so it equals the product of the
    // integers converted (below 2^31: 32767 x 65535).
    const int32_t d = c[i] - average;
    accSin = FloatExact::add(accSin, FloatExact::mul(FloatExact::fromInt(RmsTrigLut::kSinBaseQ15[i] * d), kQ15));
    accCos = FloatExact::add(accCos, FloatExact::mul(FloatExact::fromInt(RmsTrigLut::kCosBaseQ15[i] * d), kQ15));
  }
  magnitude = std::sqrt(accSin * accSin + accCos * accCos);
  if (!(magnitude > 0.0f)) return false;
  phaseRad = normalizePhaseRad(std::atan2(accCos, accSin));
  phaseOk = true;
  return true;
}

float Measure::getPhaseRad() const { return normalizePhaseRad(phaseRad + phaseCorrection); }

float normalizePhaseRad(float phaseRad) {
  if (!std::isfinite(phaseRad)) return 0.0f;  // would never leave the loops below
  while (phaseRad <= -kPi) phaseRad += kTwoPi;
  while (phaseRad > kPi) phaseRad -= kTwoPi;
  return phaseRad;
}

float phaseRadToSamples(float phaseRad) { return phaseRad * 2890.1736f / 314.15927f; }

float lookupTrigLutQ15(const std::array<int16_t, RmsTrigLut::kSize>& table, float phaseRad) {
  constexpr float kScansPerCycle = 57.80347f;
  float x = phaseRadToSamples(phaseRad);
  if (!std::isfinite(x)) return 0.0f;
  while (x < 0.0f) x += kScansPerCycle;
  while (x >= kScansPerCycle) x -= kScansPerCycle;
  const uint32_t k = static_cast<uint32_t>(x);
  const float a = table[k];
  const float b = table[k + 1 < RmsTrigLut::kSize ? k + 1 : 0];
  return (a + (b - a) * (x - static_cast<float>(k))) * kQ15;
}

float linearFitSlopeCountsPerSample(const ADCStruct* samples, uint16_t n) {
  if (samples == nullptr || n <= 1) return 0.0f;
  const int64_t nn = n;
  const int64_t sx = nn * (nn - 1) / 2;
  const int64_t sxx = nn * (nn - 1) * (2 * nn - 1) / 6;
  int64_t sy = 0;
  int64_t sxy = 0;
  for (uint16_t i = 0; i < n; ++i) {
    sy += samples[i].eFieldInd;
    sxy += static_cast<int32_t>(i) * samples[i].eFieldInd;  // below 2^31 for any row index
  }
  const int64_t d = nn * sxx - sx * sx;
  if (d == 0) return 0.0f;
  const int64_t num = nn * sxy - sx * sy;
  return FloatExact::fromInt64(num) / FloatExact::fromInt64(d);
}

void refreshEFieldSlopeCorrectionFromCapture() {
  ADC_& adc = setGstate().adc;
  const uint16_t n = adc.buf.size2use <= ADCBufT::capacity() ? adc.buf.size2use : ADCBufT::capacity();
  adc.eFieldSlopeCorrection = -linearFitSlopeCountsPerSample(adc.buf.rows.data(), n);
}

bool isAutoInductivePhaseCorrection(float corr) { return std::fabs(corr) <= kAutoInductivePhaseCorrectionRad; }
