// The messages between orvane-air and its participants: each comes back as it was sent, and a
// message cut short anywhere is refused, not read past its end.
#include <gtest/gtest.h>

#include <functional>

#include "air_protocol.h"

namespace {

using namespace sim::air;

sim::AirFrame sampleFrame() {
  sim::AirFrame f;
  f.sender = "node";
  f.name = "n0042";
  f.origin = sim::RadioMedium::kRemoteOrigin + 41;
  f.air.freqHz = 868100000;
  f.air.sf = 9;
  f.air.bwCode = 5;
  f.air.cr = 3;
  f.air.ldro = true;
  f.air.syncWord = 0x34;
  f.air.iqInverted = true;
  f.air.preamble = 12;
  f.air.crcOn = false;
  f.powerDbm = -9;
  f.bytes = {0x05, 0x01, 0x00, 0x00, 0xFF};
  f.startUs = 86'400'000'123;
  f.endUs = 86'400'051'579;
  f.truncated = true;
  f.rssiDbm = -91.25;
  return f;
}

void expectSameFrame(const sim::AirFrame& a, const sim::AirFrame& b) {
  EXPECT_EQ(airLogLine(a), airLogLine(b));
  EXPECT_EQ(a.origin, b.origin);
  EXPECT_EQ(a.truncated, b.truncated);
  EXPECT_EQ(a.air.bwCode, b.air.bwCode);
}

struct Case {
  const char* name;
  std::vector<uint8_t> bytes;
  Msg type;
  std::function<bool(Reader&)> decodesBack;
};

TEST(AirProtocol, MessagesComeBackAsSentAndTruncatedOnesAreRefused) {
  Hello hello{Role::listener, "vantor", 5'000'000, Position{-12.5, 40.25}};
  Welcome welcome{7'000'000, 72.5, sim::Interferer{-80, 10'000, 90'000, true}};
  FrameMsg frame{17, sampleFrame()};
  Cut cut{sim::RadioMedium::kRemoteOrigin + 3, 17, 86'400'020'000};
  Wait wait{1'000, 6'000, 6'130, 50'000, true, 900, 4};
  Grant grant{123'456'789, {frame, frame}, {cut}, true};
  Pause pause{600'000'000, 2, Relaunch{"/bin/x", "/tmp", {"x", "--state", "s"}, {"A=1", "B="}}};
  const Case cases[] = {
      {"hello", encode(hello), Msg::hello,
       [&](Reader& r) {
         Hello m;
         return decode(r, m) && m.role == hello.role && m.name == hello.name && m.clockUs == hello.clockUs &&
                m.at && m.at->x == -12.5 && m.at->y == 40.25;
       }},
      {"welcome", encode(welcome), Msg::welcome,
       [&](Reader& r) {
         Welcome m;
         return decode(r, m) && m.startUs == welcome.startUs && m.linkLossDb == 72.5 && m.interferer.active &&
                m.interferer.dbm == -80 && m.interferer.onUs == 10'000 && m.interferer.offUs == 90'000;
       }},
      {"frame", encode(frame), Msg::frame,
       [&](Reader& r) {
         FrameMsg m;
         if (!decode(r, m) || m.seq != 17) return false;
         expectSameFrame(m.frame, frame.frame);
         return true;
       }},
      {"cut", encode(cut), Msg::cut,
       [&](Reader& r) {
         Cut m;
         return decode(r, m) && m.origin == cut.origin && m.seq == 17 && m.atUs == cut.atUs;
       }},
      {"wait", encode(wait), Msg::wait,
       [&](Reader& r) {
         Wait m;
         return decode(r, m) && m.nowUs == 1'000 && m.targetUs == 6'000 && m.earliestUs == 6'130 &&
                m.reactUs == 50'000 && m.partial && m.hearingSinceUs == 900 && m.deferrals == 4;
       }},
      {"grant", encode(grant), Msg::grant,
       [&](Reader& r) {
         Grant m;
         if (!decode(r, m) || m.grantUs != grant.grantUs || !m.more || m.frames.size() != 2 || m.cuts.size() != 1) {
           return false;
         }
         expectSameFrame(m.frames[1].frame, frame.frame);
         return m.cuts[0].atUs == cut.atUs;
       }},
      {"pause", encode(pause), Msg::pause,
       [&](Reader& r) {
         Pause m;
         return decode(r, m) && m.wakeUs == pause.wakeUs && m.deferrals == 2 && m.relaunch.exe == "/bin/x" &&
                m.relaunch.cwd == "/tmp" && m.relaunch.argv == pause.relaunch.argv && m.relaunch.env == pause.relaunch.env;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reader whole(c.bytes.data(), c.bytes.size());
    ASSERT_EQ(whole.type(), c.type);
    EXPECT_TRUE(c.decodesBack(whole));
    for (size_t len = 1; len < c.bytes.size(); ++len) {
      std::vector<uint8_t> cut(c.bytes.begin(), c.bytes.begin() + static_cast<long>(len));
      Reader r(cut.data(), cut.size());
      r.type();
      EXPECT_FALSE(c.decodesBack(r)) << "cut to " << len << " bytes";
    }
  }
}

TEST(AirProtocol, AHelloOfAnotherVersionIsRefused) {
  std::vector<uint8_t> bytes = encode(Hello{Role::node, "n1", 0, std::nullopt});
  bytes[1] = static_cast<uint8_t>(kVersion + 1);
  Reader r(bytes.data(), bytes.size());
  r.type();
  Hello h;
  EXPECT_FALSE(decode(r, h));
}

TEST(AirProtocol, TheAddressIsAUnixSocketPath) {
  std::string path, error;
  EXPECT_TRUE(socketPath("unix:/tmp/air.sock", path, error));
  EXPECT_EQ(path, "/tmp/air.sock");
  for (const char* bad : {"/tmp/air.sock", "unix:", "tcp:localhost:5", ""}) {
    EXPECT_FALSE(socketPath(bad, path, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_FALSE(socketPath("unix:/" + std::string(200, 'x'), path, error));
}

}  // namespace
