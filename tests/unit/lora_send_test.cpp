// lora_send: the gap from the second frame on and listen-before-talk with its bounded backoff.
// Its own binary: the "a frame was sent before" flag lives for the whole program.
#include "radio_fixture.h"

namespace {

class LoraSendTest : public testing_support::RadioTest {
 protected:
  size_t channelSamples() {
    size_t n = 0;
    for (const auto& f : framesWith(0x82)) n += f == testing_support::Bytes({0x82, 0x00, 0x01, 0x40});  // 5 ms
    return n;
  }
};

TEST_F(LoraSendTest, GapFromTheSecondFrameOnAndBackoffOnABusyChannel) {
  radioOn();
  const uint8_t data[4] = {0x03, 1, 2, 3};

  // First frame since start: no gap, one free-channel sample.
  uint64_t start = nowUs();
  lora_send(data, 4);
  auto frames = nodeFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_LT(frames[0].startUs - start, 15000u);
  EXPECT_EQ(channelSamples(), 1u);

  // Later frames wait at least 50 ms with the radio asleep, even after a long pause.
  testing_support::runFor(3600ull * 1000000);
  chip().clearTransactions();
  start = nowUs();
  lora_send(data, uint32_t{4});
  frames = nodeFrames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_GE(frames[1].startUs - start, 50000u);
  EXPECT_EQ(framesWith(0x84), std::vector<testing_support::Bytes>({{0x84, 0x04}}));
  EXPECT_EQ(frames[1].bytes, frames[0].bytes);

  // A channel at exactly the threshold is free.
  medium().setInterferer({-95.0, 0, 0, true});
  chip().clearTransactions();
  lora_send(data, 4);
  EXPECT_EQ(nodeFrames().size(), 3u);
  EXPECT_EQ(channelSamples(), 1u);

  // Busy on every sample: 51 samples and 51 backoffs of 119 ms, then sent anyway.
  medium().setInterferer({-94.0, 0, 0, true});
  chip().clearTransactions();
  start = nowUs();
  lora_send(data, 4);
  frames = nodeFrames();
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(channelSamples(), 51u);
  EXPECT_EQ(framesWith(0x84).size(), 52u);  // the gap and each backoff sleep the radio
  EXPECT_GE(frames[3].startUs - start, 50000u + 51u * 119000u);
  EXPECT_EQ(frames[3].bytes, frames[0].bytes);
}

}  // namespace
