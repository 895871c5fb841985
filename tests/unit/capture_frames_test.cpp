// ADC capture packets 4 and 9: sample bit layouts, frame limits, the capture series and the
// packet 9 printout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "HMAC.h"
#include "gstate.h"
#include "hex_text.h"
#include "packet4.h"
#include "packet4_debug.h"
#include "packet9.h"
#include "packet9_debug.h"
#include "test_board.h"

namespace {

using testing_support::takeOutput;

// A scan row as the ADC buffer holds it.
struct Row {
  int16_t bFieldH, bFieldL, eFieldCap, eFieldInd;
  int16_t getBFieldV() const { return static_cast<int16_t>(bFieldH - bFieldL); }
};

using testing_support::bytesOf;

std::vector<uint8_t> sampleBytes(uint32_t w, size_t n) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return v;
}

TEST(CaptureSamples, Packet4BitLayout) {
  struct {
    Row row;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {{3000, 0, 0, -5}, {0xFF, 0x07, 0x00}},      {{-3000, 0, 0, 5000}, {0x00, 0xF8, 0xFF}},
      {{100, 101, 0, 0x123}, {0xFF, 0x3F, 0x12}},  // -1 from the difference; E-field low nibble at bits 12-15
      {{2047, 0, 0, 4095}, {0xFF, 0xF7, 0xFF}},    {{0, 2048, 0, 0}, {0x00, 0x08, 0x00}},
      {{-32768, 32767, 0, 0}, {0x01, 0x00, 0x00}},  // the difference is truncated to 16 bits first: +1
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sampleBytes(LoRaPacket4::encodeAdcSample(c.row), 3), c.bytes) << c.row.bFieldH << "/" << c.row.eFieldInd;
  }
}

TEST(CaptureSamples, Packet9BitLayoutAndDecode) {
  const Row r{-1, 0, 4, 4095};
  const uint32_t w = LoRaPacket9::encodeAdcSample(r);
  EXPECT_EQ(w, 0x007FFFFFu);
  EXPECT_EQ(sampleBytes(w, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0x7F, 0x00}));
  const Row d = LoRaPacket9::decodeAdcSampleAs<Row>(w);
  EXPECT_EQ(d.getBFieldV(), -1);
  EXPECT_EQ(d.bFieldL, 0);
  EXPECT_EQ(d.eFieldInd, 4092);
  EXPECT_EQ(d.eFieldCap, 4);

  struct {
    Row row;
    int16_t b, eInd, eCap;
  } cases[] = {
      {{5000, 0, 5000, -7}, 2047, 0, 4092},
      {{-5000, 0, -1, 4095}, -2048, 4092, 0},
      {{1234, 234, 1003, 2001}, 1000, 2000, 1000},
      {{0, 0, 3, 3}, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const auto v = LoRaPacket9::decodeAdcSampleValues(LoRaPacket9::encodeAdcSample(c.row));
    EXPECT_EQ(v.bField, c.b);
    EXPECT_EQ(v.eFieldInd, c.eInd);
    EXPECT_EQ(v.eFieldCap, c.eCap);
  }
  // Every 12-bit clamp value survives the round trip.
  for (int b = -2048; b <= 2047; ++b) {
    ASSERT_EQ(LoRaPacket9::decodeAdcSampleValues(LoRaPacket9::encodeAdcSampleValues(b, 0, 0)).bField, b);
  }
}

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    takeOutput();
    for (size_t i = 0; i < 231; ++i) {
      rows[i] = Row{static_cast<int16_t>(i * 7 - 800), static_cast<int16_t>(i), static_cast<int16_t>(4 * i),
                    static_cast<int16_t>(4095 - 8 * i)};
    }
    uid.storeU24(0x0A0B0C);
  }
  Row rows[231];
  UID uid;
  const HMAC::Key key{0xDEADBEEF, 0x01234567};
  const LoRaPacketCounterU24 counter = LoRaPacketCounterU24::fromU32(0x123456);
};

TEST_F(Capture, FrameLimits) {
  LoRaPacket4::Payload p{};
  p.header.packetCode = LoRaPacket4::PACKET_CODE;
  p.header.readings = 81;
  EXPECT_EQ(LoRaPacket4::encode(p, key).used_bytes(), 0u);
  p.header.readings = 0;
  const auto f = bytesOf(LoRaPacket4::encode(p, key));
  ASSERT_EQ(f.size(), 13u);
  EXPECT_TRUE(HMAC::verifyTag(key, f.data(), 9, 13));
  p.header.readings = 80;
  EXPECT_EQ(LoRaPacket4::encode(p, key).used_bytes(), 253u);

  LoRaPacket9::Payload q{};
  q.header.readings = 61;
  EXPECT_EQ(LoRaPacket9::encode(q, key).used_bytes(), 0u);
  q.header.readings = 60;
  EXPECT_EQ(LoRaPacket9::encode(q, key).used_bytes(), 253u);
}

// Checks the frames of one capture: lengths, header, one counter, sequence, every sample, tag.
void checkSeries(const std::vector<std::vector<uint8_t>>& frames, uint8_t code, size_t sampleBytesN,
                 const std::vector<size_t>& wantReadings, const Row* rows, const HMAC::Key& key,
                 uint32_t (*sample)(const Row&)) {
  ASSERT_EQ(frames.size(), wantReadings.size());
  size_t row = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    const auto& f = frames[k];
    const size_t n = wantReadings[k];
    ASSERT_EQ(f.size(), 9 + sampleBytesN * n + 4) << k;
    EXPECT_EQ(f[0], code);
    EXPECT_EQ(f[1], 0x0C);
    EXPECT_EQ(f[3], 0x0A);
    EXPECT_EQ(f[4], 0x56);  // one counter for the whole capture
    EXPECT_EQ(f[6], 0x12);
    EXPECT_EQ(f[7], k);
    EXPECT_EQ(f[8], n);
    for (size_t i = 0; i < n; ++i, ++row) {
      const auto at = f.begin() + static_cast<long>(9 + sampleBytesN * i);
      ASSERT_EQ(std::vector<uint8_t>(at, at + static_cast<long>(sampleBytesN)),
                sampleBytes(sample(rows[row]), sampleBytesN))
          << "frame " << k << " sample " << i;
    }
    EXPECT_TRUE(HMAC::verifyTag(key, f.data(), f.size() - 4, f.size())) << k;
  }
  EXPECT_EQ(row, 231u);
}

TEST_F(Capture, Packet4SeriesIsThreeFrames) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> payloadBytes;
  ASSERT_TRUE(LoRaPacket4::encodeCaptureSeries(uid, counter, rows, 231, key,
                                               [&](const LoRaPacket4::Payload& p, const LoRaFrameBuffer& f) {
                                                 frames.push_back(bytesOf(f));
                                                 EXPECT_EQ(p.hmac, (std::array<uint8_t, 4>{}));
                                               }));
  checkSeries(frames, 4, 3, {80, 80, 71}, rows, key, [](const Row& r) { return LoRaPacket4::encodeAdcSample(r); });
  EXPECT_EQ(frames.back().size(), 226u);
}

TEST_F(Capture, Packet9SeriesIsFourFrames) {
  std::vector<std::vector<uint8_t>> frames;
  ASSERT_TRUE(LoRaPacket9::encodeCaptureSeries(
      uid, counter, rows, 231, key,
      [&](const LoRaPacket9::Payload&, const LoRaFrameBuffer& f) { frames.push_back(bytesOf(f)); }));
  checkSeries(frames, 9, 4, {60, 60, 60, 51}, rows, key, [](const Row& r) { return LoRaPacket9::encodeAdcSample(r); });
  EXPECT_EQ(frames.back().size(), 217u);

  // The receiving side reads the last frame back; a frame whose count disagrees with its length,
  // or a frame of the other capture packet, is refused.
  auto last = frames.back();
  LoRaPacket9::Payload p{};
  ASSERT_TRUE(LoRaPacket9::decode(p, last.data(), last.size(), key));
  EXPECT_EQ(p.header.sequence, 3);
  EXPECT_EQ(p.header.readings, 51);
  EXPECT_EQ(LoRaPacket9::decodeAdcSampleValues(p.adc[50].word()).eFieldCap,
            LoRaPacket9::decodeAdcSampleValues(LoRaPacket9::encodeAdcSample(rows[230])).eFieldCap);
  EXPECT_FALSE(LoRaPacket9::decode(p, last.data(), last.size() - 4, key));
  last[8] = 50;
  EXPECT_FALSE(LoRaPacket9::decode(p, last.data(), last.size(), key));
  last[8] = 200;
  EXPECT_FALSE(LoRaPacket9::decode(p, last.data(), last.size(), key));
  LoRaPacket4::Payload p4{};
  EXPECT_FALSE(LoRaPacket4::decode(p4, frames[0].data(), frames[0].size(), key));
  EXPECT_FALSE(LoRaPacket4::decode(p4, frames[0].data(), 12, key));
}

TEST_F(Capture, LiveKeyFramesAndPacket4Line) {
  LoRaPacket4::Payload p{};
  p.header.readings = 2;
  const auto f = bytesOf(LoRaPacket4::encode(p));
  ASSERT_EQ(f.size(), 19u);
  EXPECT_TRUE(HMAC::verifyTag(f.data(), 15, 19));
  LoRaPacket4::debugPkt(p);
  EXPECT_EQ(takeOutput(), "Sending packet 4\n\r");
}

TEST_F(Capture, Packet9Printout) {
  LoRaPacket9::Payload p{};
  p.header.packetCode = 9;
  p.header.uid = uid;
  p.header.packetCounter = counter;
  p.header.sequence = 3;
  p.header.readings = 2;
  p.adc[0] = LoRaPacket9::ADCt::fromWord(LoRaPacket9::encodeAdcSampleValues(-1, 4095, 4));
  p.adc[1] = LoRaPacket9::ADCt::fromWord(LoRaPacket9::encodeAdcSampleValues(37, 8, 400));
  const auto f = bytesOf(LoRaPacket9::encode(p));
  ASSERT_EQ(f.size(), 21u);
  LoRaPacket9::debugPkt(p);
  char hmacLine[40];
  std::snprintf(hmacLine, sizeof hmacLine, "  HMAC: %02X %02X %02X %02X\n\r", f[17], f[18], f[19], f[20]);
  std::string raw = "  RAW HEX  21 bytes: ";
  for (uint8_t b : f) {
    char h[3];
    std::snprintf(h, sizeof h, "%02X", b);
    raw += h;
  }
  EXPECT_EQ(takeOutput(), std::string("Payload (packet 9):\n\r"
                                      "  readEvent (u24): 1193046\n\r"
                                      "  UID (u24): 658188 (0x0A0B0C)\r\n"
                                      "  sequence: 3  readings: 2\r\n"
                                      "  000: b=-001 eInd=4092 eCap=0004\r\n"
                                      "  001: b=+037 eInd=0008 eCap=0400\r\n") +
                              hmacLine + raw + "\r\n");
}

TEST_F(Capture, Packet9PrintoutOfAnOversizedCountStaysInsideThePayload) {
  LoRaPacket9::Payload p{};
  p.header.readings = 200;
  LoRaPacket9::debugPkt(p);
  const std::string out = takeOutput();
  EXPECT_NE(out.find("  readings: 200\r\n"), std::string::npos);
  EXPECT_NE(out.find("  059: "), std::string::npos);
  EXPECT_EQ(out.find("  060: "), std::string::npos);
  EXPECT_NE(out.find("  RAW HEX 253 bytes: "), std::string::npos);
}

}  // namespace
