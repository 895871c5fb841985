// Hex lines and raw frame dumps on the console.
#include "packet_debug.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Debug.h"
#include "HMAC.h"
#include "gstate.h"
#include "test_board.h"

namespace {

using testing_support::takeOutput;

class HexDump : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    takeOutput();
  }
};

TEST_F(HexDump, LineIsLabelThenDigitsWithoutBlanks) {
  const uint8_t bytes[] = {0x56, 0x34, 0x12};
  printPacketHexLine("  uid: ", bytes, 3);
  EXPECT_EQ(takeOutput(), "  uid: 563412\r\n");
  debugPacketHexLine("x=", bytes, 3);
  EXPECT_EQ(takeOutput(), "x=563412\r\n");
  printPacketHexLine("  uid: ", bytes, 0);
  debugPacketHexLine("  uid: ", bytes, 0);
  debugPacketHexLine("  uid: ", nullptr, 3);
  EXPECT_EQ(takeOutput(), "");
}

TEST_F(HexDump, RawDumpAppendsTheTagAndCountsIt) {
  std::vector<uint8_t> body(14);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(0xA0 + i);
  const uint32_t tag = HMAC::compute(body.data(), body.size());
  char tail[9];
  std::snprintf(tail, sizeof tail, "%02X%02X%02X%02X", tag & 0xFF, (tag >> 8) & 0xFF, (tag >> 16) & 0xFF,
                (tag >> 24) & 0xFF);
  debugPacketRawHexWithHmac("  ", body.data(), body.size());
  EXPECT_EQ(takeOutput(), std::string("  RAW HEX  18 bytes: A0A1A2A3A4A5A6A7A8A9AAABACAD") + tail + "\r\n");

  // Empty body: count 4 and the 8 digits of the tag of nothing.
  const uint32_t empty = HMAC::compute(nullptr, 0);
  std::snprintf(tail, sizeof tail, "%02X%02X%02X%02X", empty & 0xFF, (empty >> 8) & 0xFF, (empty >> 16) & 0xFF,
                (empty >> 24) & 0xFF);
  debugPacketRawHexWithHmac("", nullptr, 0);
  EXPECT_EQ(takeOutput(), std::string("RAW HEX   4 bytes: ") + tail + "\r\n");
}

TEST_F(HexDump, WidthsOfTheLargestFrameAndCutAtTheBuffer) {
  std::vector<uint8_t> frame(255, 0xEE);
  debugPacketRawHexParts("  ", frame.data(), 251, frame.data(), 4);
  const std::string out = takeOutput();
  const std::string prefix = "  RAW HEX 255 bytes: ";
  ASSERT_EQ(out.size(), prefix.size() + 510 + 2);
  EXPECT_EQ(out.substr(0, prefix.size()), prefix);

  // 500 bytes do not fit 892 characters: the line stops at the last whole byte that does.
  std::vector<uint8_t> big(500, 0x11);
  debugPacketHexLine("L:", big.data(), big.size());
  const std::string line = takeOutput();
  EXPECT_EQ(line.size(), 892 + 2u);  // 2 label characters + 445 bytes fill the 892 usable characters
  printPacketHexLine("L:", big.data(), big.size());
  EXPECT_EQ(takeOutput(), line);
}

}  // namespace
