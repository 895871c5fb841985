// Number texts and table layout of the shell.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "DemoShellFormat.h"
#include "functions.h"
#include "test_board.h"

namespace {

using testing_support::freshBoard;
using testing_support::takeOutput;

struct FixedCase {
  float value;
  unsigned decimals;
  const char* text;
};

TEST(ShellFmtFixed, Table) {
  const float inf = std::numeric_limits<float>::infinity();
  const FixedCase cases[] = {
      {1.23456f, 3, "1.235"},
      {-0.0004f, 3, "0.000"},  // rounds to zero: no sign
      {-0.0f, 2, "0.00"},
      {0.05f, 0, "0"},
      {2.5f, 0, "3"},  // half away from zero
      {-2.5f, 0, "-3"},
      {1.05f, 4, "1.0500"},
      {-0.0006f, 3, "-0.001"},
      {-12.05f, 2, "-12.05"},
      {5000000.0f, 3, "huge"},
      {-5000000.0f, 3, "-huge"},
      {4000000.0f, 3, "4000000.000"},  // exactly the limit still prints
      {std::nanf(""), 3, "nan"},
      {inf, 2, "inf"},
      {-inf, 2, "-inf"},
      {1.5f, 12, "1.500000000"},  // more decimals than 32 bits can scale: nine
  };
  for (const FixedCase& c : cases) {
    char buf[24];
    EXPECT_STREQ(ShellFmt::fixed(buf, sizeof buf, c.value, c.decimals), c.text) << c.value << " / " << c.decimals;
  }
}

TEST(ShellFmtFixed, BufferLimits) {
  char small[4];
  EXPECT_STREQ(ShellFmt::fixed(small, sizeof small, 123.456f, 2), "123");
  EXPECT_STREQ(ShellFmt::fixed(nullptr, 10, 1.0f, 2), "");
  char one[1];
  EXPECT_STREQ(ShellFmt::fixed(one, 0, 1.0f, 2), "");
}

struct SplitCase {
  float value;
  unsigned decimals;
  const char* integer;
  unsigned long decimal;
};

// The report split keeps the sign of values between -1 and 0 and does not wrap at 16 bits.
TEST(ShellFmtSplit, Table) {
  const SplitCase cases[] = {
      {-12.05f, 2, "-12", 5},       {-0.5f, 4, "-0", 5000},         {0.5f, 4, "0", 5000},
      {1.05f, 4, "1", 500},         {-0.00001f, 4, "0", 0},  // nothing left to carry a sign
      {40000.5f, 1, "40000", 5},    {-70000.25f, 2, "-70000", 25},  {123456.0f, 4, "123456", 0},
      {40000.5f, 4, "40000", 5000}, {-40000.5f, 4, "-40000", 5000}, {0.99999994f, 4, "0", 9999},
      {5.0e9f, 4, "huge", 0},       {-5.0e9f, 4, "-huge", 0},       {std::nanf(""), 4, "nan", 0},
  };
  for (const SplitCase& c : cases) {
    const ShellFmt::SplitText s = ShellFmt::split(c.value, c.decimals);
    EXPECT_STREQ(s.integer, c.integer) << c.value;
    EXPECT_EQ(s.decimal, c.decimal) << c.value;
  }
}

// Wherever the plain 16-bit split is right (integer part in range, sign not lost), the report
// split gives the same digits.
TEST(ShellFmtSplit, AgreesWithThePlainSplitInItsRange) {
  for (float v = -32767.0f; v < 32767.0f; v += 12.3456789f) {
    for (unsigned digits : {2u, 4u, 5u}) {
      const SplitFloat plain = splitFloat6(v, static_cast<uint8_t>(digits));
      const ShellFmt::SplitText text = ShellFmt::split(v, digits);
      if (v > -1.0f && v < 0.0f) continue;  // where the plain split drops the sign
      EXPECT_EQ(std::string(text.integer), std::to_string(plain.integer)) << v;
      EXPECT_EQ(text.decimal, static_cast<unsigned long>(plain.decimal)) << v;
    }
  }
}

class ShellFmtLines : public ::testing::Test {
 protected:
  void SetUp() override {
    freshBoard();
    takeOutput();
  }
};

TEST_F(ShellFmtLines, OneColumnHeaderAndRule) {
  ShellFmt::head1("metric", "value");
  const std::string rule = "  " + std::string(25, '-') + "+" + std::string(14, '-');
  ASSERT_EQ(rule.size(), 42u);
  EXPECT_EQ(takeOutput(), "  metric                   |         value\r\n" + rule + "\r\n");
}

TEST_F(ShellFmtLines, TwoColumnHeaderAndRule) {
  ShellFmt::head2("measure", "Bfield", "EfieldInd");
  const std::string rule = "  " + std::string(25, '-') + "+" + std::string(15, '-') + "+" + std::string(14, '-');
  ASSERT_EQ(rule.size(), 58u);
  EXPECT_EQ(takeOutput(), "  measure                  |        Bfield |     EfieldInd\r\n" + rule + "\r\n");
}

TEST_F(ShellFmtLines, RowsAndSection) {
  ShellFmt::section("rms");
  rowFloat1("VRef (V)", 3.2999f, 3);
  rowFloat2("rmsV (V)", -0.00004f, 1.25f, 4);
  rowU32_1("samples per channel", 4294967295u);
  ShellFmt::row1("a label that is longer than the column", "x");
  EXPECT_EQ(takeOutput(),
            "\r\n=== rms ===\r\n"
            "  VRef (V)                 |         3.300\r\n"
            "  rmsV (V)                 |        0.0000 |        1.2500\r\n"
            "  samples per channel      |    4294967295\r\n"
            "  a label that is longer than the column |             x\r\n");
}

}  // namespace
