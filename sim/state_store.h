// Small helpers for the state folder: what of the board survives between runs of orvane-sim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Files of the board's own state in the folder.
constexpr const char* kFlashPageFile = "flash-page.bin";
constexpr const char* kBackupRegistersFile = "backup-registers";
constexpr const char* kClockFile = "clock";

// The folder holds something of a board (it has run, or a test seeded its flash or registers);
// an empty folder, like a missing one, is a board that has never had power.
bool holdsBoardState(const std::string& dir);
void makeStateDir(const std::string& dir);
bool readText(const std::string& path, std::string& out);
void writeText(const std::string& path, const std::string& text);
bool readU64(const std::string& path, uint64_t& out);
void writeU64(const std::string& path, uint64_t value);
bool readBytes(const std::string& path, std::vector<uint8_t>& out);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void removeFile(const std::string& path);

}  // namespace sim
