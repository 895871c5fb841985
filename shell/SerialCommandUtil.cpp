// Command dispatch: first token against a table, exact and case-sensitive.
#include "SerialCommandUtil.h"

#include "Debug.h"
#include "SerialTokenizer.h"

namespace SCU {

DispatchResult dispatchCommand(const char* line, const CommandEntry* table, unsigned count) {
  char token[kTokenBufSize];
  const char* rest = parseToken(line, token, sizeof token);
  if (rest == nullptr) return DispatchResult::badCommand;
  for (unsigned i = 0; i < count; ++i) {
    if (std::strcmp(table[i].command, token) == 0) {
      table[i].handler(rest);
      return DispatchResult::ok;
    }
  }
  return DispatchResult::unknownCommand;
}

void reportDispatchError(DispatchResult result) {
  switch (result) {
    case DispatchResult::badCommand: print("err: bad command"); break;
    case DispatchResult::unknownCommand: print("err: unknown command"); break;
    case DispatchResult::ok: break;
  }
}

}  // namespace SCU
