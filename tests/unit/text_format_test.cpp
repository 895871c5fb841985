// The firmware's formatter writes what the C library's vsnprintf writes: every conversion the
// firmware's format strings use, across values at the edges of their ranges, and truncation.
#include "text_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

using FormatV = int (*)(char*, size_t, const char*, va_list);

// The count and the text one of the two formatters gives.
std::string run(FormatV formatter, size_t size, const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  const int n = formatter(buf, size, format, args);
  va_end(args);
  return std::to_string(n) + "|" + (size > 0 ? std::string(buf) : std::string());
}

template <typename... A>
std::string ours(size_t size, const char* format, A... args) {
  return run(TextFormat::formatV, size, format, args...);
}

template <typename... A>
std::string library(size_t size, const char* format, A... args) {
  return run(std::vsnprintf, size, format, args...);
}

// Each with one int-sized argument (long is 32 bits on the chip: the values stay in that range).
const char* const kIntFormats[] = {"%d",   "%u",    "%ld",   "%lu",    "%02X",  "%04X",   "%04lu", "%5d",   "%06lX",
                                   "%4d",  "%08lX", "%05lu", "%12d",   "%04u",  "%03d",   "%3u",   "%12ld", "%10lu",
                                   "%06d", "%04ld", "%03u",  "%03ld",  "%02lu", "%02lX",  "%+04d", "%x",    "%-6d|",
                                   "% d",  "%+d",   "%.3d",  "%.0d",   "%8.3d", "%-08d|", "%#x",   "%#o",   "%o",
                                   "%hd",  "%hhu",  "%i",    "[%-5u]", "%%%d%%"};
const long kValues[] = {
    0,        1,        -1, 7, 42, -42, 255, 256, 4095, -2048, 65535, 65536, 100000, 2147483647, -2147483647 - 1,
    0xABCDEF, -0xABCDEF};

TEST(TextFormat, IntegerConversionsAsTheLibrary) {
  for (const char* f : kIntFormats)
    for (long v : kValues) {
      const int iv = static_cast<int>(v);
      const std::string spec(f);
      if (spec.find('l') == std::string::npos) {
        EXPECT_EQ(ours(200, f, iv), library(200, f, iv)) << f << " " << v;
      } else if (spec.find('d') != std::string::npos) {
        EXPECT_EQ(ours(200, f, long{iv}), library(200, f, long{iv})) << f << " " << v;
      } else {  // unsigned long holds 32 bits on the chip: the same values here
        const unsigned long uv = static_cast<uint32_t>(iv);
        EXPECT_EQ(ours(200, f, uv), library(200, f, uv)) << f << " " << v;
      }
    }
}

TEST(TextFormat, StringsWidthsAndStarArguments) {
  for (const char* s : {"", "a", "abc", "a longer text of thirty-two chars"}) {
    for (const char* f : {"%s", "%10s", "%-24s|", "%-30s|", "%.2s", "[%3s]"})
      EXPECT_EQ(ours(200, f, s), library(200, f, s)) << f << " '" << s << "'";
    for (int w : {0, 1, 5, 40, -8}) {
      EXPECT_EQ(ours(200, "%*s|", w, s), library(200, "%*s|", w, s)) << w;
      EXPECT_EQ(ours(200, "%-*s|", w, s), library(200, "%-*s|", w, s)) << w;
    }
  }
  for (int w : {0, 3, 9})
    for (unsigned long v : {0ul, 7ul, 123456ul}) EXPECT_EQ(ours(200, "%0*lu", w, v), library(200, "%0*lu", w, v));
  EXPECT_EQ(ours(200, "%c%c|%3c", 'o', 'k', 'x'), library(200, "%c%c|%3c", 'o', 'k', 'x'));
  EXPECT_EQ(ours(200, "[wake+%lums] %s: %d", 1234ul, "LoRa", -5),
            library(200, "[wake+%lums] %s: %d", 1234ul, "LoRa", -5));
}

TEST(TextFormat, TruncatesLikeTheLibraryAndCountsTheWholeText) {
  for (size_t size : {0u, 1u, 2u, 5u, 12u, 13u, 14u})
    EXPECT_EQ(ours(size, "%s=%05d!", "value", 42), library(size, "%s=%05d!", "value", 42)) << size;
}

}  // namespace
