// Event scheduling and pacing of the simulated board.
#include "scheduler.h"

#include <chrono>

namespace sim {

uint64_t Scheduler::wallUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t Scheduler::nextEvent(bool includePeriodic) const {
  uint64_t next = kNever;
  for (const Device* d : devices_) {
    if (!includePeriodic && d->periodic()) continue;
    const uint64_t t = d->nextEventUs();
    if (t < next) next = t;
  }
  return next;
}

void Scheduler::runDue() {
  for (;;) {
    Device* due = nullptr;
    uint64_t best = kNever;
    for (Device* d : devices_) {
      const uint64_t t = d->nextEventUs();
      if (t <= nowUs_ && t < best) {
        best = t;
        due = d;
      }
    }
    if (due == nullptr) return;
    due->fire(nowUs_);
  }
}

void Scheduler::pace(uint64_t targetUs, const std::function<bool(int)>& wait) {
  if (speed_ <= 0.0) return;
  const uint64_t wallTarget =
      paceBaseWallUs_ + static_cast<uint64_t>(static_cast<double>(targetUs - paceBaseVirtualUs_) / speed_);
  for (;;) {
    const uint64_t now = wallUs();
    if (now >= wallTarget) return;
    if (wait(static_cast<int>((wallTarget - now + 999) / 1000))) return;
  }
}

}  // namespace sim
