// Console output operations: line-end rule, formatting limits, hex appender, wake prefix.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Debug.h"
#include "test_board.h"
#include "uid.h"

namespace {

using testing_support::freshBoard;
using testing_support::takeOutput;

class DebugOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    freshBoard();
    takeOutput();
  }
};

TEST_F(DebugOutput, LineEndRule) {
  const struct {
    std::string text;
    std::string sent;
  } cases[] = {
      {"abc", "abc\r\n"}, {"abc\n", "abc\n\r"}, {"abc\r\n", "abc\r\n"}, {"", "\r\n"}, {"\n", "\n\r"},
  };
  for (const auto& c : cases) {
    printRaw(c.text.c_str(), static_cast<int>(c.text.size()));
    EXPECT_EQ(takeOutput(), c.sent) << '"' << c.text << '"';
  }
  printRaw("xyz", -3);
  EXPECT_EQ(takeOutput(), "\r\n");
}

TEST_F(DebugOutput, FormattedOutput) {
  printV2("%s", "");
  EXPECT_EQ(takeOutput(), "") << "an empty result sends nothing at all";
  debugV2("v=%d", 42);
  EXPECT_EQ(takeOutput(), "v=42\r\n");
  // Output longer than the buffer is cut to 511 characters, then the line end.
  std::string longText(700, 'q');
  printV2("%s", longText.c_str());
  EXPECT_EQ(takeOutput(), std::string(511, 'q') + "\r\n");
}

TEST_F(DebugOutput, IdentityLine) {
  UID uid;
  uid.storeU24(0xABCDEF);
  debugV2Uid(uid, true);
  EXPECT_EQ(takeOutput(), "  UID (u24): 11259375 (0xABCDEF)\r\n");
  debugV2Uid(uid, false);
  EXPECT_EQ(takeOutput(), "  UID (u24): 11259375 (0xABCDEF)\r\n");
}

TEST(AppendHexBytes, CapacityKeepsRoomForTerminator) {
  const uint8_t data[] = {0x01, 0xAB, 0xFF, 0x10, 0x20};
  char buf[10];
  int off = appendHexBytes(buf, 0, sizeof buf, data, sizeof data, true);
  EXPECT_EQ(off, 9);
  EXPECT_STREQ(buf, "01 AB FF ");
  off = appendHexBytes(buf, 0, sizeof buf, data, sizeof data, false);
  EXPECT_EQ(off, 8);
  EXPECT_STREQ(buf, "01ABFF10");
  EXPECT_EQ(appendHexBytes(nullptr, 3, 10, data, 1, false), 3);
  EXPECT_EQ(appendHexBytes(buf, -1, 10, data, 1, false), -1);
  EXPECT_EQ(appendHexBytes(buf, 2, 0, data, 1, false), 2);
  EXPECT_EQ(appendHexBytes(buf, 2, 10, nullptr, 1, false), 2);
}

TEST_F(DebugOutput, WakePrefix) {
  char small[5];
  EXPECT_EQ(debugTsPrefix(small, sizeof small), 0);
  EXPECT_EQ(debugTsPrefix(nullptr, 24), 0);
  char buf[kTsPrefixReserve];
  const int n = debugTsPrefix(buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::strncmp(buf, "[wake+", 6), 0);
  EXPECT_EQ(std::string(buf + n - 4), "ms] ");
}

}  // namespace
