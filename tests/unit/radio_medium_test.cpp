// The simulated medium as the node's receiver sees it: link budget, demodulation floor,
// collisions with capture, the interferer, and the air log of a transmission.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "radio_fixture.h"

using Outcome = LoraListenResult::Outcome;

namespace {

class MediumTest : public testing_support::RadioTest {};

struct Case {
  const char* name;
  std::vector<std::string> frames;
  Outcome outcome;
  uint8_t dropped;
  int rssi;  // of the frame received
};

TEST_F(MediumTest, WhatTheReceiverMakesOfTheAir) {
  const Case cases[] = {
      {"link budget: 14 dBm over 80 dB", {"in_rx_ms=50 data=01 power=14"}, Outcome::rxDone, 0, -66},
      {"below the SF7 floor", {"in_rx_ms=50 data=01 rssi=-126"}, Outcome::timeout, 0, 0},
      {"just above it, noise included", {"in_rx_ms=50 data=01 rssi=-124"}, Outcome::rxDone, 0, -116},
      {"two at the same level collide",
       {"in_rx_ms=50 data=01 rssi=-80", "after_ms=0 at_us=0 data=02 rssi=-80"},
       Outcome::timeout,
       1,
       0},
      {"inverted IQ is not heard", {"in_rx_ms=50 data=01 iq=inverted"}, Outcome::timeout, 0, 0},
      {"another spreading factor is not heard", {"in_rx_ms=50 data=01 sf=8"}, Outcome::timeout, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    radioOn();
    for (const std::string& f : c.frames) {
      if (f.find("after_ms=0 at_us=0") != std::string::npos) continue;  // placed below
      sim::board().airScript().add(scripted(f));
    }
    if (c.frames.size() == 2) {
      // A second transmitter starting 5 ms into the first frame.
      medium().onReceiverArmed([this, once = true](const std::string&, uint64_t at, uint64_t) mutable {
        if (!once) return;
        once = false;
        sim::AirFrame other;
        other.sender = "other";
        other.bytes = {2};
        other.rssiDbm = -80;
        other.startUs = at + 55000;
        other.endUs = other.startUs + other.air.timeOnAirUs(1);
        medium().transmit(other);
      });
    }
    const LoraListenResult r = lora_listen(500);
    EXPECT_EQ(r.outcome, c.outcome) << r.label();
    EXPECT_EQ(r.droppedFrames, c.dropped);
    if (r.gotFrame()) {
      EXPECT_EQ(r.rssiDbm, c.rssi);
    }
    testing_support::takeOutput();
  }
}

TEST_F(MediumTest, AStrongerFrameCapturesTheReceiver) {
  radioOn();
  sim::board().airScript().add(scripted("in_rx_ms=50 data=0A rssi=-60"));
  medium().onReceiverArmed([this, once = true](const std::string&, uint64_t at, uint64_t) mutable {
    if (!once) return;
    once = false;
    sim::AirFrame weak;
    weak.sender = "other";
    weak.bytes = {0x0B};
    weak.rssiDbm = -75;
    weak.startUs = at + 52000;
    weak.endUs = weak.startUs + weak.air.timeOnAirUs(1);
    medium().transmit(weak);
  });
  const LoraListenResult r = lora_listen(500);
  EXPECT_TRUE(r.gotFrame()) << r.label();
  EXPECT_EQ(chip().buffer()[0], 0x0A);
}

TEST_F(MediumTest, APulsedInterfererRaisesTheChannelOnlyWhileOn) {
  radioOn();
  medium().setInterferer({-70.0, 100000, 900000, true});
  const uint64_t phase = nowUs() % 1000000;
  testing_support::runFor(1000000 - phase + 20000);  // 20 ms into an on-phase
  EXPECT_EQ(loraSampleChannelRssiDbm(5), -70);
  testing_support::runFor(200000);  // off
  EXPECT_EQ(loraSampleChannelRssiDbm(5), -117);
}

TEST_F(MediumTest, ATransmissionIsWrittenOnceToTheAirLog) {
  radioOn();
  char path[] = "/tmp/orvane-air-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(medium().openAirLog(path));
  const uint8_t data[3] = {0x03, 0xA5, 0x5A};
  const uint64_t before = nowUs();
  lora_send(data, 3);
  medium().openAirLog("/dev/null");  // flushes and closes the file
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(path);
  const std::string log = text.str();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find("\"sender\":\"node\",\"modem\":\"lora\",\"freq_hz\":868000000,\"sf\":7,\"bw_hz\":125000,"
                     "\"cr\":\"4/5\",\"ldro\":false,\"sync\":\"0x12\",\"iq\":\"normal\",\"preamble\":8,"
                     "\"header\":\"explicit\",\"crc\":true,\"power_dbm\":0,\"len\":3,"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\"hex\":\"03A55A\"}"), std::string::npos) << log;
  unsigned long long t = 0;
  ASSERT_EQ(std::sscanf(log.c_str(), "{\"t_us\":%llu,", &t), 1);
  EXPECT_GT(t, before);
  EXPECT_LT(t, nowUs());
}

}  // namespace
