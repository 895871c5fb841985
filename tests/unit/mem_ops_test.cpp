// The image's memory and string operations give what the host's C library gives: every length
// from 0 to 40 at every alignment of both buffers, bytes above 0x7F, and what lies past the end
// left alone.
#include "mem_ops.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

constexpr size_t kSpan = 48;

// A buffer with a recognisable pattern (high bytes included) and a guard after the span.
std::array<unsigned char, kSpan + 8> patterned(unsigned char seed) {
  std::array<unsigned char, kSpan + 8> b{};
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(seed + 37 * i);
  return b;
}

int sign(int v) { return (v > 0) - (v < 0); }

TEST(MemOps, CopyAndFillMatchTheLibraryAtEveryAlignmentAndLength) {
  for (size_t dOff = 0; dOff < 4; ++dOff)
    for (size_t sOff = 0; sOff < 4; ++sOff)
      for (size_t n = 0; n <= 40; ++n) {
        const auto src = patterned(1);
        auto mine = patterned(9), theirs = patterned(9);
        EXPECT_EQ(MemOps::copy(mine.data() + dOff, src.data() + sOff, n), mine.data() + dOff);
        std::memcpy(theirs.data() + dOff, src.data() + sOff, n);
        ASSERT_EQ(mine, theirs) << "copy " << n << " from +" << sOff << " to +" << dOff;
        EXPECT_EQ(MemOps::fill(mine.data() + dOff, 0x1A5, n), mine.data() + dOff);  // int value, low byte
        std::memset(theirs.data() + dOff, 0x1A5, n);
        ASSERT_EQ(mine, theirs) << "fill " << n << " at +" << dOff;
      }
}

TEST(MemOps, ComparisonsHaveTheLibrarySign) {
  const struct {
    const char* a;
    const char* b;
  } cases[] = {
      {"", ""},      {"", "a"},     {"a", ""},        {"abc", "abc"},   {"abc", "abd"},          {"abd", "abc"},
      {"ab", "abc"}, {"abc", "ab"}, {"\x80", "\x7F"}, {"\x7F", "\xFF"}, {"sample", "sample hp"}, {"tx", "tx"}};
  for (const auto& c : cases) {
    EXPECT_EQ(sign(MemOps::compareText(c.a, c.b)), sign(std::strcmp(c.a, c.b))) << c.a << " / " << c.b;
    const size_t n = std::min(std::strlen(c.a), std::strlen(c.b)) + 1;  // the terminator included
    EXPECT_EQ(sign(MemOps::compare(c.a, c.b, n)), sign(std::memcmp(c.a, c.b, n))) << c.a << " / " << c.b;
    EXPECT_EQ(MemOps::compare(c.a, c.b, 0), 0);
    EXPECT_EQ(MemOps::length(c.a), std::strlen(c.a));
  }
}

TEST(MemOps, TextCopiesMatchTheLibrary) {
  for (const char* text : {"", "a", "reset", "LPWRRSTF (low-power reset)"}) {
    for (size_t n = 0; n <= 30; ++n) {
      auto mine = patterned(5), theirs = patterned(5);
      char* m = reinterpret_cast<char*>(mine.data());
      char* t = reinterpret_cast<char*>(theirs.data());
      EXPECT_EQ(MemOps::copyTextPadded(m, text, n), m);
      std::strncpy(t, text, n);
      ASSERT_EQ(mine, theirs) << "strncpy of \"" << text << "\", " << n;
    }
    auto mine = patterned(5), theirs = patterned(5);
    EXPECT_EQ(MemOps::copyText(reinterpret_cast<char*>(mine.data()), text), reinterpret_cast<char*>(mine.data()));
    std::strcpy(reinterpret_cast<char*>(theirs.data()), text);
    ASSERT_EQ(mine, theirs) << "strcpy of \"" << text << "\"";
  }
}

}  // namespace
