// A VCD file of one-bit signals over virtual time (timescale 1 us), as PulseView, GTKWave and
// sigrok-cli read it. A run that restarts appends to the file it started.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim {

class VcdWriter {
 public:
  ~VcdWriter();
  // Starts a new file with the header for `names` (append = false), or continues one.
  bool open(const std::string& path, const std::vector<std::string>& names, bool append);
  bool isOpen() const { return file_ != nullptr; }
  // Signal `index` has `level` from `tUs` on (written only when it differs from the last level;
  // `force` writes it anyway, as the first values of a start do).
  void set(uint64_t tUs, size_t index, bool level, bool force = false);
  void flush();

 private:
  std::string code(size_t index) const;
  std::FILE* file_ = nullptr;
  std::vector<int> levels_;  // -1: not written yet
  uint64_t lastTimeUs_ = 0;
  bool timeWritten_ = false;
};

}  // namespace sim
