// Table-driven command dispatch shared by the shell and its sub-commands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace SCU {

using CommandHandler = void (*)(const char* args);
using SetterHandler = void (*)(const char* value, const char* rest);

struct CommandEntry {
  const char* command;
  CommandHandler handler;
};

struct SetterEntry {
  const char* variableName;
  SetterHandler handler;
};

enum class DispatchResult : uint32_t { ok = 0, badCommand = 1, unknownCommand = 2 };

constexpr size_t kTokenBufSize = 32;

DispatchResult dispatchCommand(const char* line, const CommandEntry* table, unsigned count);

template <size_t N>
DispatchResult dispatchCommand(const char* line, const std::array<CommandEntry, N>& table) {
  return dispatchCommand(line, table.data(), static_cast<unsigned>(N));
}

// "err: bad command" / "err: unknown command"; nothing for ok.
void reportDispatchError(DispatchResult result);

// First entry whose name equals `name` exactly, or null.
template <typename Entry, size_t N>
const Entry* findByName(const std::array<Entry, N>& table, const char* name, const char* Entry::*nameMember) {
  if (name == nullptr) return nullptr;
  for (const Entry& e : table) {
    if (e.*nameMember != nullptr && std::strcmp(e.*nameMember, name) == 0) return &e;
  }
  return nullptr;
}

}  // namespace SCU
