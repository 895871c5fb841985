// The simulated gateway's concentrator: what it demodulates on its channel plan (every spreading
// factor, both channels of a pair at once, a bad CRC reported, nothing while it transmits), the
// counter's stamps across its wrap, and the forwarder's checks of a downlink.
#include <gtest/gtest.h>

#include <optional>

#include "concentrator.h"

namespace {

using sim::AirFrame;
using sim::Concentrator;
using sim::ConcentratorCounter;
using sim::GatewayDownlink;
using sim::GatewayUplink;
using sim::TxOutcome;

// The counter reads this at virtual time 0: it wraps 256 us into the run.
constexpr uint32_t kStart = 0xFFFFFF00u;
constexpr uint64_t kLeadUs = 40'000;

class ConcentratorTest : public testing::Test {
 protected:
  ConcentratorTest() : gateway(medium, ConcentratorCounter(kStart, 0), kLeadUs) {
    clock.add(&medium);
    clock.add(&gateway);
    gateway.onUplink([this](const GatewayUplink& u) { heard.push_back(u); });
  }

  static AirFrame frame(uint64_t startUs, double rssiDbm) {
    AirFrame f;
    f.sender = "node";
    f.bytes = {0x05, 0x01, 0x02, 0x03};
    f.rssiDbm = rssiDbm;
    f.startUs = startUs;
    f.endUs = startUs + f.air.timeOnAirUs(f.bytes.size());
    return f;
  }
  void put(AirFrame f) {
    f.endUs = f.startUs + f.air.timeOnAirUs(f.bytes.size());
    medium.transmit(std::move(f));
  }
  void runTo(uint64_t us) {
    for (;;) {
      const uint64_t next = clock.nextEvent(true);
      if (next == sim::kNever || next > us) break;
      clock.setNow(std::max(clock.now(), next));
      clock.runDue();
    }
    clock.setNow(std::max(clock.now(), us));
  }
  GatewayDownlink downlink(uint32_t tmst) const {
    GatewayDownlink d;
    d.tmst = tmst;
    d.air.iqInverted = false;
    d.bytes = {0x0D, 0x01, 0x00, 0x00};
    return d;
  }

  sim::Scheduler clock;
  sim::RadioMedium medium;
  Concentrator gateway;
  std::vector<GatewayUplink> heard;
};

TEST_F(ConcentratorTest, WhatItDemodulates) {
  struct Case {
    const char* name;
    void (*change)(AirFrame&);
    bool heard;
    bool crcOk;
    int chan;
  };
  const Case cases[] = {
      {"868.0 MHz at SF7 is channel 3", [](AirFrame&) {}, true, true, 3},
      {"any spreading factor at once", [](AirFrame& f) { f.air.sf = 10; }, true, true, 3},
      {"867.4 MHz is channel 0", [](AirFrame& f) { f.air.freqHz = 867'400'000; }, true, true, 0},
      {"868.8 MHz is channel 7", [](AirFrame& f) { f.air.freqHz = 868'800'000; }, true, true, 7},
      {"between two channels: none", [](AirFrame& f) { f.air.freqHz = 868'100'000; }, false, false, 0},
      {"the public sync word: none", [](AirFrame& f) { f.air.syncWord = 0x34; }, false, false, 0},
      {"inverted IQ (a downlink): none", [](AirFrame& f) { f.air.iqInverted = true; }, false, false, 0},
      {"250 kHz: none", [](AirFrame& f) { f.air.bwCode = 5; }, false, false, 0},
      {"below the SF7 floor: none", [](AirFrame& f) { f.rssiDbm = -126; }, false, false, 0},
      {"a bad CRC is reported", [](AirFrame& f) { f.crcError = true; }, true, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    heard.clear();
    AirFrame f = frame(clock.now() + 1000, -80);
    c.change(f);
    put(f);
    runTo(clock.now() + 1'000'000);
    ASSERT_EQ(heard.size(), c.heard ? 1u : 0u);
    if (!c.heard) continue;
    EXPECT_EQ(heard[0].crcOk, c.crcOk);
    EXPECT_EQ(heard[0].chan, c.chan);
    EXPECT_EQ(heard[0].rfch, c.chan < 4 ? 0 : 1);
    EXPECT_EQ(heard[0].freqHz, 867'400'000u + 200'000u * static_cast<uint32_t>(c.chan));
  }
}

TEST_F(ConcentratorTest, StampsTheFramesEndOnItsCounterWithRssiAndSnr) {
  put(frame(1000, -80));
  runTo(1'000'000);
  ASSERT_EQ(heard.size(), 1u);
  // SF7, 125 kHz, 4 bytes, CRC: (8 + 4.25 + 8 + ceil((32 - 28 + 28 + 16) / 28) x 5) symbols of
  // 1.024 ms = 30.25 x 1024 us = 30 976 us; the counter started at 2^32 - 256.
  EXPECT_EQ(heard[0].endUs, 1000u + 30976u);
  EXPECT_EQ(heard[0].tmst, static_cast<uint32_t>(1000 + 30976 - 256));
  // Noise in 125 kHz with a 6 dB noise figure: -174 + 51.0 + 6 = -117.0 dBm.
  EXPECT_EQ(heard[0].rssiDbm, -80);
  EXPECT_DOUBLE_EQ(heard[0].snrDb, 37.0);
}

TEST_F(ConcentratorTest, HearsTwoChannelsAtOnceButNothingWhileItTransmits) {
  AirFrame a = frame(1000, -80);
  AirFrame b = frame(2000, -80);
  b.air.freqHz = 868'200'000;
  put(a);
  put(b);
  runTo(100'000);
  EXPECT_EQ(heard.size(), 2u);
  heard.clear();
  // Its own downlink from 200 ms on: a frame whose header comes during it is not heard.
  uint64_t at = 0;
  ASSERT_EQ(gateway.schedule(downlink(gateway.counter().at(100'000) + 100'000), 100'000, at), TxOutcome::none);
  put(frame(190'000, -80));
  runTo(1'000'000);
  EXPECT_TRUE(heard.empty());
  ASSERT_EQ(medium.history().size(), 4u);
  EXPECT_EQ(medium.history().back().sender, "gateway");
  EXPECT_EQ(medium.history().back().startUs, 200'000u);
  EXPECT_EQ(gateway.transmitted(), 1u);
}

TEST_F(ConcentratorTest, ChecksEachDownlinkAsAForwarderDoes) {
  const uint64_t now = 10'000;
  const uint32_t tmstNow = gateway.counter().at(now);  // past the wrap
  struct Case {
    const char* name;
    void (*change)(GatewayDownlink&);
    int64_t aheadUs;
    TxOutcome outcome;
  };
  const Case cases[] = {
      {"the programming lead exactly", [](GatewayDownlink&) {}, 40'000, TxOutcome::none},
      {"a microsecond short of it", [](GatewayDownlink&) {}, 39'999, TxOutcome::tooLate},
      {"a time gone by (before the wrap)", [](GatewayDownlink&) {}, -20'000, TxOutcome::tooLate},
      {"3 s ahead", [](GatewayDownlink&) {}, 3'000'000, TxOutcome::none},
      {"beyond 3 s", [](GatewayDownlink&) {}, 3'000'001, TxOutcome::tooEarly},
      {"out of the band", [](GatewayDownlink& d) { d.air.freqHz = 870'500'000; }, 100'000, TxOutcome::txFreq},
      {"above the power table", [](GatewayDownlink& d) { d.powerDbm = 30; }, 100'000, TxOutcome::txPower},
      {"at a GPS time, without GPS", [](GatewayDownlink& d) { d.when = GatewayDownlink::When::gpsTime; }, 100'000,
       TxOutcome::gpsUnlocked},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Concentrator fresh(medium, ConcentratorCounter(kStart, 0), kLeadUs);
    GatewayDownlink d = downlink(tmstNow + static_cast<uint32_t>(c.aheadUs));
    c.change(d);
    uint64_t at = 0;
    EXPECT_EQ(fresh.schedule(d, now, at), c.outcome);
    if (c.outcome == TxOutcome::none) {
      EXPECT_EQ(at, now + static_cast<uint64_t>(c.aheadUs));
    } else {
      EXPECT_EQ(fresh.nextTransmitUs(), sim::kNever);
    }
  }
}

TEST_F(ConcentratorTest, RefusesADownlinkThatOverlapsOneScheduled) {
  const uint64_t now = 10'000;
  const uint32_t tmst = gateway.counter().at(now) + 100'000;
  uint64_t at = 0;
  ASSERT_EQ(gateway.schedule(downlink(tmst), now, at), TxOutcome::none);
  // 4 bytes at SF7: 30 976 us on the air.
  EXPECT_EQ(gateway.schedule(downlink(tmst + 30'975), now, at), TxOutcome::collisionPacket);
  EXPECT_EQ(gateway.schedule(downlink(tmst - 30'975), now, at), TxOutcome::collisionPacket);
  EXPECT_EQ(gateway.schedule(downlink(tmst + 30'976), now, at), TxOutcome::none);
  GatewayDownlink now2 = downlink(0);
  now2.when = GatewayDownlink::When::immediately;
  EXPECT_EQ(gateway.schedule(now2, now, at), TxOutcome::none);
  EXPECT_EQ(at, now + kLeadUs);
  runTo(1'000'000);
  ASSERT_EQ(medium.history().size(), 3u);
  EXPECT_EQ(medium.history()[0].startUs, now + kLeadUs);
  EXPECT_EQ(medium.history()[1].startUs, now + 100'000);
  EXPECT_EQ(medium.history()[2].sender, "gateway");
  EXPECT_EQ(medium.history()[2].air.syncWord, 0x12);
}

}  // namespace
