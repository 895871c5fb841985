// Channel views of the capture in GState.
#include "adc_chan.h"

#include <cmath>

#include "gstate.h"

int16_t ADC_Chan::at(uint16_t i) const {
  const ADC_& adc = gstate().adc;
  if (i >= ADCBufT::capacity()) return 0;
  const ADCStruct& row = adc.buf[i];
  switch (chanId) {
    case ADCChan::Bfield: return row.getBFieldV();
    case ADCChan::EFieldCap: return row.eFieldCap;
    case ADCChan::EfieldInd: {
      const float term = static_cast<float>(i) * adc.eFieldSlopeCorrection;
      const int32_t slope = std::fabs(term) < 1e9f ? static_cast<int32_t>(term) : 0;  // truncated toward zero
      return static_cast<int16_t>(row.eFieldInd + slope);
    }
  }
  return 0;
}

uint16_t ADC_Chan::size() const { return gstate().adc.buf.size2use; }
