// TIM6 model of the simulated board.
#include "tim6_model.h"

namespace sim {

uint64_t Tim6::tickNs() const {
  const uint64_t pclk = board_.pclkHz();
  return (static_cast<uint64_t>(psc_) + 1) * 1000000000ull / (pclk ? pclk : 1);
}

uint32_t Tim6::counter() const {
  if (!running_) return baseCnt_;
  uint64_t count = baseCnt_ + (board_.nowUs() * 1000 - baseNs_) / tickNs();
  // Set above the auto-reload value, the counter first runs up to 0xFFFF and wraps to 0.
  if (baseCnt_ > arr_) {
    if (count <= 0xFFFFu) return static_cast<uint32_t>(count);
    count -= 0x10000u;
  }
  return static_cast<uint32_t>(count % (static_cast<uint64_t>(arr_) + 1));
}

void Tim6::setAutoReload(uint32_t arr) {
  // Without preload the new value applies at once; the counter keeps its place.
  const uint32_t cnt = counter();
  arr_ = arr & 0xFFFFu;
  setCounter(cnt);
}

void Tim6::setCounter(uint32_t cnt) {
  baseCnt_ = cnt & 0xFFFFu;
  baseNs_ = board_.nowUs() * 1000;
}

void Tim6::generateUpdate(bool quiet) {
  setCounter(0);
  if (quiet) return;
  uif_ = true;
  if (uie_) board_.pendIrq(TIM6_IRQn);
}

void Tim6::start() {
  if (running_) return;
  setCounter(baseCnt_);
  running_ = true;
  if (started_.size() == 64) started_.erase(started_.begin());
  started_.push_back(arr_);
}

void Tim6::stop() {
  if (!running_) return;
  baseCnt_ = counter();
  running_ = false;
}

uint64_t Tim6::updateAtNs() const {
  // An ARR of 0 stops the counter, as on the chip.
  if (!running_ || arr_ == 0) return UINT64_MAX;
  const uint64_t left = baseCnt_ > arr_ ? 0x10000u - baseCnt_ + arr_ + 1 : static_cast<uint64_t>(arr_) + 1 - baseCnt_;
  return baseNs_ + left * tickNs();
}

uint64_t Tim6::nextEventUs() const {
  const uint64_t ns = updateAtNs();
  return ns == UINT64_MAX ? kNever : (ns + 999) / 1000;
}

void Tim6::fire(uint64_t nowUs) {
  while (updateAtNs() <= nowUs * 1000) {
    baseNs_ = updateAtNs();
    baseCnt_ = 0;
    uif_ = true;
    if (uie_) board_.pendIrq(TIM6_IRQn);
  }
}

}  // namespace sim
