// Reads that only poll (a pin, the tick) move virtual time on without a round over the devices
// while nothing can happen: every event still fires at its own time, a loop of reads ends at the
// same virtual time as with full steps, and whatever reaches a device in between is seen at once.
#include <gtest/gtest.h>

#include <vector>

#include "board.h"
#include "stm32g0xx_hal.h"
#include "test_board.h"

namespace {

// A device with events at chosen times; it records when each fired.
class Timed : public sim::Device {
 public:
  std::vector<uint64_t> at;
  std::vector<uint64_t> fired;
  uint64_t nextEventUs() const override { return at.empty() ? sim::kNever : at.front(); }
  void fire(uint64_t nowUs) override {
    fired.push_back(nowUs);
    at.erase(at.begin());
  }
};

class BoardPoll : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::freshBoard(); }
  static sim::Board& board() { return sim::board(); }
};

// The same loop of reads, polled and as full steps: the same events at the same times, the same end.
TEST_F(BoardPoll, APollingLoopKeepsEveryTime) {
  std::vector<uint64_t> ends[2];
  std::vector<uint64_t> fired[2];
  for (int polled = 0; polled < 2; ++polled) {
    SetUp();
    Timed device;
    const uint64_t t0 = board().nowUs();
    device.at = {t0 + 7, t0 + 1500, t0 + 1501, t0 + 4000};
    board().addDevice(&device);
    for (int loop = 0; loop < 3; ++loop) {
      // A wait of 1 ms on the tick, as the radio's BUSY wait polls it: a pin and the tick in turn.
      const uint32_t start = HAL_GetTick();
      while (HAL_GetTick() - start < 1) {
        if (polled) {
          board().halPoll();
        } else {
          board().halCall();
        }
      }
      ends[polled].push_back(board().nowUs() - t0);
    }
    fired[polled] = device.fired;
    for (uint64_t& t : fired[polled]) t -= t0;
  }
  EXPECT_EQ(ends[1], ends[0]);
  EXPECT_EQ(fired[1], fired[0]);
  EXPECT_EQ(fired[1], (std::vector<uint64_t>{7, 1500, 1501}));
}

// A device reached between two reads (here a new one; a scripted frame or a fault set by a test
// likewise) ends the quiet span: its event fires at its own time, not at the end of the span.
TEST_F(BoardPoll, ADeviceReachedBetweenReadsIsSeenAtOnce) {
  Timed late;
  late.at = {board().nowUs() + 5000};
  board().addDevice(&late);
  board().halPoll();  // quiet until the next tick
  const uint64_t t1 = board().nowUs();
  Timed soon;
  soon.at = {t1 + 3};
  board().addDevice(&soon);
  for (int i = 0; i < 10; ++i) board().halPoll();
  EXPECT_EQ(soon.fired, std::vector<uint64_t>{t1 + 3});
  EXPECT_EQ(board().nowUs(), t1 + 10);
}

}  // namespace
