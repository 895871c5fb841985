// Per-channel analysis of a capture.
#include "rms_signal.h"

#include <cmath>
#include <cstring>

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

struct FloatParts {
  uint32_t exponent;  // biased
  uint32_t mantissa;  // with the implicit bit
};
FloatParts partsOf(float x) {
  uint32_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return {(bits >> 23) & 0xFFu, (bits & 0x7FFFFFu) | 0x800000u};
}
float fromParts(uint32_t exponent, uint32_t mantissa) {
  const uint32_t bits = (exponent << 23) | (mantissa & 0x7FFFFFu);
  float x = 0.0f;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// y mod step, exactly, for a y so large that subtracting step no longer changes it: both are
// integers times a power of two, so the remainder is found by doubling modulo step's mantissa.
float exactRemainder(float y, float step) {
  const FloatParts py = partsOf(y);
  const FloatParts ps = partsOf(step);
  uint32_t r = py.mantissa % ps.mantissa;
  for (uint32_t e = ps.exponent; e < py.exponent; ++e) r = (2u * r) % ps.mantissa;
  return static_cast<float>(r) * (step / static_cast<float>(ps.mantissa));  // both factors exact
}

// The same result as `while (y > bound) y -= step;` (or `>=` when inclusive) for a finite y, a
// positive normal step and a bound >= 0, in bounded time: inside one binade every subtraction
// after the first removes the same number of units in the last place, so such a run is taken in one
// go. A y that the plain loop could never bring down gets its exact remainder instead.
float stepDown(float y, float step, float bound, bool inclusive) {
  const auto above = [&](float v) { return inclusive ? v >= bound : v > bound; };
  uint32_t lastDrop = 0;
  uint32_t lastExponent = 0;
  while (above(y)) {
    const float next = y - step;
    if (next == y) {
      y = exactRemainder(y, step);
      continue;
    }
    const FloatParts a = partsOf(y);
    const FloatParts b = partsOf(next);
    const bool sameBinade = next > 0.0f && a.exponent == b.exponent && fromParts(a.exponent, 0x800000u) > bound;
    const uint32_t drop = sameBinade ? a.mantissa - b.mantissa : 0;
    y = next;
    if (drop == 0 || drop != lastDrop || b.exponent != lastExponent) {
      lastDrop = drop;
      lastExponent = b.exponent;
      continue;
    }
    // Two equal drops in a row: the run goes on unchanged while it stays in this binade. Stop one
    // drop above its floor and let the plain steps cross into the next binade.
    const uint32_t headroom = b.mantissa - 0x800000u;
    const uint32_t steps = headroom / drop;
    if (steps > 1) y = fromParts(b.exponent, b.mantissa - (steps - 1) * drop);
  }
  return y;
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

// Into (-pi, pi] by whole turns, as adding or subtracting 2 pi one turn at a time would (a negative
// value is the mirror image: rounding to nearest is symmetric), in bounded time for any float.
float normalizePhaseRad(float phaseRad) {
  if (!std::isfinite(phaseRad)) return 0.0f;
  if (phaseRad <= -kPi) phaseRad = -stepDown(-phaseRad, kTwoPi, kPi, true);
  if (phaseRad > kPi) phaseRad = stepDown(phaseRad, kTwoPi, kPi, false);
  return phaseRad;
}

float phaseRadToSamples(float phaseRad) { return phaseRad * 2890.1736f / 314.15927f; }

float lookupTrigLutQ15(const std::array<int16_t, RmsTrigLut::kSize>& table, float phaseRad) {
  constexpr float kScansPerCycle = 57.80347f;
  float x = phaseRadToSamples(phaseRad);
  if (!std::isfinite(x)) return 0.0f;
  if (x < 0.0f) x = -stepDown(-x, kScansPerCycle, 0.0f, false);
  if (x >= kScansPerCycle) x = stepDown(x, kScansPerCycle, kScansPerCycle, true);
  const uint32_t k = static_cast<uint32_t>(x);
  const float a = table[k];
  const float b = table[k + 1 < RmsTrigLut::kSize ? k + 1 : 0];
  return (a + (b - a) * (x - static_cast<float>(k))) * kQ15;
}

float linearFitSlopeCountsPerSample(const ADCStruct* samples, uint16_t n) {
  if (samples == nullptr || n <= 1) return 0.0f;
  // Sx = n(n-1)/2 and Sxx = n(n-1)(2n-1)/6, the divisions taken on the small factors that
  // they divide (one of n, n-1 is even; one of n, n-1, 2n-1 is a multiple of 3).
  const int64_t nn = n;
  const uint32_t a = n, b = n - 1u, c = 2u * n - 1u;
  const int64_t sx = (a % 2u == 0 ? static_cast<int64_t>(a / 2u) * b : static_cast<int64_t>(a) * (b / 2u));
  const uint32_t a2 = a % 2u == 0 ? a / 2u : a, b2 = a % 2u == 0 ? b : b / 2u;  // a x b / 2
  const int64_t sxx = a2 % 3u == 0   ? static_cast<int64_t>(a2 / 3u) * b2 * c
                      : b2 % 3u == 0 ? static_cast<int64_t>(a2) * (b2 / 3u) * c
                                     : static_cast<int64_t>(a2) * b2 * (c / 3u);
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
