// The global runtime record.
#include "gstate.h"

#include <new>

namespace {
GState gState_;
}

GState::GState()
    : config(),
      adc{},
      temperature(0.0f),
      chanBField(ADCChan::Bfield),
      chanEFieldInd(ADCChan::EfieldInd),
      chanEFieldCap(ADCChan::EFieldCap),
      bField(&chanBField),
      eFieldInductive(&chanEFieldInd),
      currCorrected(0.0f),
      currOriginal(0.0f),
      adaptivePowerTX(),
      power{0.0f, 0.0f} {
  adc.buf.clear();
  adc.buf.size2use = 0;
  adc.VRef = 0.0f;
  adc.eFieldSlopeCorrection = 0.0f;
}

const GState& gstate() { return gState_; }
GState& setGstate() { return gState_; }
void GState::make() {
  gState_.~GState();
  new (&gState_) GState();
}
