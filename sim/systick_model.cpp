// System tick of the simulated core.
#include "systick_model.h"

namespace sim {

void SysTick::start(uint32_t periodUs) {
  periodUs_ = periodUs == 0 ? 1000 : periodUs;
  configured_ = true;
  running_ = true;
  next_ = board_.nowUs() + periodUs_;
}

void SysTick::resume() {
  if (!configured_ || running_) return;
  running_ = true;
  // The counter kept counting while its interrupt was off: the next tick comes on the old phase,
  // the ticks of the suspension are lost (the low-power delay adds them to the tick count).
  const uint64_t now = board_.nowUs();
  if (next_ <= now) next_ += ((now - next_) / periodUs_ + 1) * periodUs_;
}

uint64_t SysTick::nextTickUs() const {
  const uint64_t now = board_.nowUs();
  if (next_ > now) return next_;
  return next_ + ((now - next_) / periodUs_ + 1) * periodUs_;
}

void SysTick::fire(uint64_t nowUs) {
  while (next_ <= nowUs) {
    next_ += periodUs_;
    board_.pendIrq(SysTick_IRQn);
  }
}

}  // namespace sim
