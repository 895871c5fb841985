// VCD trace writer.
#include "vcd_writer.h"

#include <cinttypes>

namespace sim {

VcdWriter::~VcdWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

std::string VcdWriter::code(size_t index) const {
  // Identifier codes from the printable range, '!' onwards.
  std::string c;
  do {
    c += static_cast<char>('!' + index % 94);
    index /= 94;
  } while (index > 0);
  return c;
}

bool VcdWriter::open(const std::string& path, const std::vector<std::string>& names, bool append) {
  file_ = std::fopen(path.c_str(), append ? "ae" : "we");
  if (file_ == nullptr) return false;
  levels_.assign(names.size(), -1);
  if (!append) {
    std::fputs("$version orvane-sim $end\n$timescale 1us $end\n$scope module board $end\n", file_);
    for (size_t i = 0; i < names.size(); ++i) {
      std::fprintf(file_, "$var wire 1 %s %s $end\n", code(i).c_str(), names[i].c_str());
    }
    std::fputs("$upscope $end\n$enddefinitions $end\n", file_);
  }
  return true;
}

void VcdWriter::set(uint64_t tUs, size_t index, bool level, bool force) {
  if (file_ == nullptr || index >= levels_.size()) return;
  if (!force && levels_[index] == (level ? 1 : 0)) return;
  levels_[index] = level ? 1 : 0;
  if (!timeWritten_ || tUs > lastTimeUs_) {
    std::fprintf(file_, "#%" PRIu64 "\n", tUs);
    lastTimeUs_ = tUs;
    timeWritten_ = true;
  }
  std::fprintf(file_, "%c%s\n", level ? '1' : '0', code(index).c_str());
}

void VcdWriter::flush() {
  if (file_ != nullptr) std::fflush(file_);
}

}  // namespace sim
