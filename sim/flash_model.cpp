// Flash page model of the simulated board.
#include "flash_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "device_host.h"
#include "state_store.h"

namespace sim {

namespace {
constexpr const char* kPageFile = kFlashPageFile;
constexpr const char* kCutDoneFile = "flash-power-cut-done";
constexpr const char* kEccFile = "flash-ecc";
}  // namespace

FlashModel::FlashModel(DeviceHost& board, uint8_t* memory, const FlashFaults& faults)
    : board_(board), memory_(memory), faults_(faults) {
  std::memset(memory_, 0xFF, kPageSize);  // a board that has never been written
  std::vector<uint8_t> stored;
  if (readBytes(board_.statePath(kPageFile), stored)) {
    if (stored.size() == kPageSize) {
      std::memcpy(memory_, stored.data(), kPageSize);
    } else {
      std::fprintf(stderr, "orvane-sim: %s is not %zu bytes; the flash page starts erased\n", kPageFile, kPageSize);
    }
  }
  std::string done;
  cutDone_ = readText(board_.statePath(kCutDoneFile), done);
  // The double words that fail their ECC check: one byte offset in hex per line.
  std::string ecc;
  if (readText(board_.statePath(kEccFile), ecc)) {
    std::istringstream in(ecc);
    std::string line;
    while (std::getline(in, line)) {
      const unsigned long offset = std::strtoul(line.c_str(), nullptr, 16);
      if (!line.empty() && offset % 8 == 0 && offset < kPageSize) eccErrors_.push_back(offset);
    }
  }
}

bool FlashModel::eccError(size_t offset) const {
  return std::find(eccErrors_.begin(), eccErrors_.end(), offset & ~size_t{7}) != eccErrors_.end();
}

void FlashModel::saveEcc() const {
  const std::string path = board_.statePath(kEccFile);
  if (path.empty()) return;
  if (eccErrors_.empty()) {
    removeFile(path);
    return;
  }
  std::string text;
  for (size_t offset : eccErrors_) {
    char line[16];
    std::snprintf(line, sizeof line, "%03zx\n", offset);
    text += line;
  }
  writeText(path, text);
}

void FlashModel::save() const {
  const std::string path = board_.statePath(kPageFile);
  if (!path.empty()) writeBytes(path, std::vector<uint8_t>(memory_, memory_ + kPageSize));
}

void FlashModel::cutPowerOnce() {
  cutDone_ = true;
  if (!board_.statePath(kCutDoneFile).empty()) writeText(board_.statePath(kCutDoneFile), "1\n");
  std::fprintf(stderr, "orvane-sim: power cut during a flash write (%d double words after the erase%s)\n",
               programmedSinceErase_, faults_.powerCutMidWord ? ", the next one half programmed" : "");
  board_.restart(ResetKind::powerOn, 0);
}

FlashModel::Result FlashModel::erasePage(uint32_t page) {
  if (locked_) return Result::locked;
  if (page != kPageIndex) return Result::badAddress;  // the program pages are not modelled
  if (faults_.powerCutInErase && !cutDone_) cutPowerOnce();
  if (faults_.eraseFails) return Result::fault;
  board_.busyWait(kPageEraseUs);
  std::memset(memory_, 0xFF, kPageSize);
  programmedSinceErase_ = 0;
  save();
  if (!eccErrors_.empty()) {
    eccErrors_.clear();
    saveEcc();
  }
  board_.records().flashErase(page);
  return Result::ok;
}

FlashModel::Result FlashModel::program(size_t offset, uint64_t value) {
  if (locked_) return Result::locked;
  if (offset % 8 != 0 || offset + 8 > kPageSize) return Result::badAddress;
  if (faults_.powerCutAt >= 0 && programmedSinceErase_ == faults_.powerCutAt && !cutDone_) {
    if (faults_.powerCutMidWord) {
      // Half the cells took their charge: the low word is programmed, the high one still erased,
      // and the ECC bits agree with neither.
      const uint64_t torn = (value & 0xFFFFFFFFull) | 0xFFFFFFFF00000000ull;
      std::memcpy(memory_ + offset, &torn, 8);
      save();
      eccErrors_.push_back(offset);
      saveEcc();
    }
    cutPowerOnce();
  }
  if (faults_.programFailsAt >= 0 && programmedSinceErase_ == faults_.programFailsAt) return Result::fault;
  uint64_t current = 0;
  std::memcpy(&current, memory_ + offset, 8);
  // As the chip: only an erased double word takes new data, except that all zeros may always
  // be written (PROGERR otherwise).
  if (current != UINT64_MAX && value != 0) return Result::notErased;
  board_.busyWait(kProgramUs);
  std::memcpy(memory_ + offset, &value, 8);
  ++programmedSinceErase_;
  save();
  board_.records().flashProgram(offset, value);
  return Result::ok;
}

}  // namespace sim
