// Scanners of the shell's argument text.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "DemoShellParse.h"
#include "SerialTokenizer.h"
#include "uid.h"

namespace {

struct FixedCase {
  const char* text;
  bool ok;
  int32_t scaled;
  const char* rest;  // what is left after the number
};

TEST(ParseFixedScaled5, Table) {
  const FixedCase cases[] = {
      {"21474.83647", true, 2147483647, ""},
      {"21474.83648", false, 0, nullptr},
      {"-21474.83648", true, INT32_MIN, ""},
      {"21475", false, 0, nullptr},
      {"1.234567", false, 0, nullptr},
      {"5.", true, 500000, ""},
      {".5", true, 50000, ""},
      {".", false, 0, nullptr},
      {"-", false, 0, nullptr},
      {"+", false, 0, nullptr},
      {" 1", false, 0, nullptr},
      {"12abc", true, 1200000, "abc"},
      {"-0.00001", true, -1, ""},
      {"+3.14159", true, 314159, ""},
      {"0.12 rest", true, 12000, " rest"},
  };
  for (const auto& c : cases) {
    const char* end = nullptr;
    int32_t v = 12345;
    const bool ok = SCU::parseFixedScaled5(c.text, &end, &v);
    EXPECT_EQ(ok, c.ok) << c.text;
    if (ok && c.ok) {
      EXPECT_EQ(v, c.scaled) << c.text;
      EXPECT_STREQ(end, c.rest) << c.text;
    }
  }
  const char* end = nullptr;
  int32_t v = 0;
  EXPECT_FALSE(SCU::parseFixedScaled5(nullptr, &end, &v));
  EXPECT_FALSE(SCU::parseFixedScaled5("1", nullptr, &v));
  EXPECT_FALSE(SCU::parseFixedScaled5("1", &end, nullptr));
}

struct BoundedCase {
  const char* text;
  uint32_t lo, hi;
  bool ok;
  uint32_t value;
};

TEST(BoundedU32, Table) {
  const BoundedCase cases[] = {
      {"  42  ", 0, 100, true, 42},
      {"+7", 0, 100, true, 7},
      {"-1", 0, 100, false, 0},
      {"", 0, 100, false, 0},
      {"   ", 0, 100, false, 0},
      {"1 2", 0, 100, false, 0},
      {"12a", 0, 100, false, 0},
      {"4294967295", 0, 0xFFFFFFFFu, true, 0xFFFFFFFFu},
      {"4294967296", 0, 0xFFFFFFFFu, false, 0},
      {"99999999999999999999999", 0, 0xFFFFFFFFu, false, 0},
      {"0", 1, 10, false, 0},
      {"11", 1, 10, false, 0},
      {"10", 1, 10, true, 10},
      {"\t5", 1, 10, true, 5},
  };
  for (const auto& c : cases) {
    uint32_t v = 777;
    EXPECT_EQ(ShellParse::boundedU32(c.text, c.lo, c.hi, v), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  uint32_t v = 0;
  EXPECT_FALSE(ShellParse::boundedU32(nullptr, 0, 1, v));
}

// The decimal scanner reads what the C library's strtoull reads (same end, same magnitude below
// 2^32), whatever white space, sign or digit run comes first.
TEST(ScanDecimal, ReadsWhatStrtoullReads) {
  const char* texts[] = {
      "",      "  ",  "5", " +7", "-0",  "\v-3", "\t\n\r\f 42 x", "4294967295", "4294967296", "99999999999999999999999",
      "12abc", "abc", "+", "-",   "+-1", "0009", "-4294967295",   "007 8"};
  for (const char* t : texts) {
    errno = 0;
    char* end = nullptr;
    const unsigned long long ref = std::strtoull(t, &end, 10);
    const bool refRange = errno == ERANGE;
    const SCU::DecimalText d = SCU::scanDecimal(t);
    EXPECT_EQ(d.end, end) << t;
    const bool negative = std::strchr(t, '-') != nullptr && d.end != t;
    const unsigned long long magnitude = negative ? 0ull - ref : ref;
    EXPECT_EQ(d.overflow, refRange || magnitude > 0xFFFFFFFFull) << t;
    if (!d.overflow) {
      EXPECT_EQ(d.magnitude, magnitude) << t;
    }
    EXPECT_EQ(d.negative && d.end != t, negative) << t;
  }
}

TEST(ParseToken, IdentifiersQuotesAndLimits) {
  char out[32];
  EXPECT_EQ(SCU::parseToken("   ", out, sizeof out), nullptr);
  const char* rest = SCU::parseToken("  \"a b\" tail", out, sizeof out);
  ASSERT_NE(rest, nullptr);
  EXPECT_STREQ(out, "a b");
  EXPECT_STREQ(rest, " tail");
  rest = SCU::parseToken("help,x", out, sizeof out);
  ASSERT_NE(rest, nullptr);
  EXPECT_STREQ(out, "help");
  EXPECT_STREQ(rest, ",x");
  // 32 identifier characters: the first 31 are the token, the rest stays.
  rest = SCU::parseToken("abcdefghijklmnopqrstuvwxyz0123456", out, sizeof out);
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(std::strlen(out), 31u);
  EXPECT_STREQ(rest, "56");
  rest = SCU::parseToken("\"\"", out, sizeof out);
  ASSERT_NE(rest, nullptr);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(SCU::parseToken("\"open", out, sizeof out), nullptr);
  EXPECT_EQ(SCU::parseToken("-x", out, sizeof out), nullptr);
}

TEST(ParseHexBytes, ExactDigitCount) {
  uint8_t out[2] = {};
  EXPECT_TRUE(SCU::parseHexBytes("  0xAb12  ", out, 2));
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0x12);
  EXPECT_TRUE(SCU::parseHexBytes("cdef", out, 2));
  EXPECT_FALSE(SCU::parseHexBytes("abc", out, 2));
  EXPECT_FALSE(SCU::parseHexBytes("abcde", out, 2));
  EXPECT_FALSE(SCU::parseHexBytes("ab cd", out, 2));
  EXPECT_FALSE(SCU::parseHexBytes("abcg", out, 2));
}

TEST(ParseHexU24, Table) {
  struct {
    const char* text;
    bool ok;
    uint32_t value;
  } cases[] = {
      {"1", true, 1},          {"0x000000", true, 0}, {"ABCDEF", true, 0xABCDEF}, {" 0Xab ", true, 0xAB},
      {"0x", false, 0},        {"1234567", false, 0}, {"12 3", false, 0},         {"", false, 0},
      {"0x1234567", false, 0}, {"g", false, 0},
  };
  for (const auto& c : cases) {
    uint32_t v = 99;
    EXPECT_EQ(parseHexU24(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(HexDigitCount, RunsAndSeparators) {
  unsigned n = 0;
  EXPECT_TRUE(ShellParse::hexDigitCount(" 0x01AB ", n));
  EXPECT_EQ(n, 4u);
  EXPECT_FALSE(ShellParse::hexDigitCount("01 AB", n));
  EXPECT_FALSE(ShellParse::hexDigitCount("0x", n));
  EXPECT_FALSE(ShellParse::hexDigitCount("01-AB", n));
  EXPECT_FALSE(ShellParse::hexDigitCount(nullptr, n));
}

TEST(Uid, StoreAndRead) {
  UID uid;
  uid.storeU24(0x12345678u);
  EXPECT_EQ(uid.bytes[0], 0x78);
  EXPECT_EQ(uid.bytes[1], 0x56);
  EXPECT_EQ(uid.bytes[2], 0x34);
  EXPECT_EQ(uid.toU24(), 0x345678u);
}

}  // namespace
