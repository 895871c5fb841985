// The global runtime record.
#include "gstate.h"

namespace {
GState gState_;
}

const GState& gstate() { return gState_; }
GState& setGstate() { return gState_; }
void GState::make() { gState_ = GState(); }
