// Arbitrary console lines into the shell's framing and dispatch, on the in-process board.
// No input may crash, hang or touch memory it should not; armed actions are dropped, not run.
#include <cstddef>
#include <cstdint>
#include <string>

#include "DemoShell.h"
#include "gstate.h"
#include "test_board.h"

namespace {
// Random text rarely spells a command: the first byte may put one in front of the rest, so
// every handler's argument parsing gets arbitrary input too.
const char* const kPrefixes[] = {
    "help",       "info",    "compileInfo",  "sample",      "every",
    "print",      "set",     "save",         "unprovision", "provision",
    "tx",         "radio",   "rx",           "dbg1",        "pin",
    "sleep",      "set uid", "set hmacHash", "set phase",   "set clampMapping",
    "print vref", "every 3", "dbg1 1 1",     "pin lora",    "set clampMapping 3",
};
constexpr size_t kPrefixCount = sizeof kPrefixes / sizeof kPrefixes[0];
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool boardReady = false;
  if (!boardReady) {
    testing_support::freshBoard();
    boardReady = true;
  }
  GState::make();
  // Lines as the transport hands them over: split at CR or LF, NUL bytes removed. Lengths are
  // not capped here, so the handlers are also tried beyond the transport's 191 characters.
  std::string line;
  if (size > 0 && data[0] < 2 * kPrefixCount) {
    line = kPrefixes[data[0] % kPrefixCount];
    if (data[0] >= kPrefixCount) line += ' ';
    ++data;
    --size;
  }
  auto flush = [&line]() {
    if (!line.empty()) DemoShell::handleLine(line.c_str());
    line.clear();
    gPending = Pending::none;
  };
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\r' || c == '\n')
      flush();
    else if (c != '\0')
      line.push_back(c);
  }
  flush();
  testing_support::dropOutput();
  return 0;
}
