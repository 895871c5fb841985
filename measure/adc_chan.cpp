// Channel views of the capture in GState.
#include "adc_chan.h"

#include "float_exact.h"
#include "gstate.h"

namespace {
// The inductive E-field row with its drift term: row i x the correction, truncated toward zero; a
// term too large for the sum (or NaN) adds nothing.
int16_t withDrift(const ADCStruct& row, uint16_t i, float correction) {
  const float term = FloatExact::mul(FloatExact::fromInt(i), correction);
  const int32_t slope = FloatExact::magnitudeBelow(term, 1e9f) ? FloatExact::truncToInt(term) : 0;
  return static_cast<int16_t>(row.eFieldInd + slope);
}
}  // namespace

int16_t ADC_Chan::at(uint16_t i) const {
  const ADC_& adc = gstate().adc;
  if (i >= ADCBufT::capacity()) return 0;
  const ADCStruct& row = adc.buf[i];
  switch (chanId) {
    case ADCChan::Bfield: return row.getBFieldV();
    case ADCChan::EFieldCap: return row.eFieldCap;
    case ADCChan::EfieldInd: return withDrift(row, i, adc.eFieldSlopeCorrection);
  }
  return 0;
}

void ADC_Chan::read(int16_t* out, uint16_t count) const {
  const ADC_& adc = gstate().adc;
  for (uint16_t i = 0; i < count; ++i) {
    const ADCStruct& row = adc.buf[i];
    switch (chanId) {
      case ADCChan::Bfield: out[i] = row.getBFieldV(); break;
      case ADCChan::EFieldCap: out[i] = row.eFieldCap; break;
      case ADCChan::EfieldInd: out[i] = withDrift(row, i, adc.eFieldSlopeCorrection); break;
    }
  }
}

uint16_t ADC_Chan::size() const { return gstate().adc.buf.size2use; }
