// The board's event log: one JSON object per line, {"t_us":...,"event":"...",...}, appended so
// that one file follows a run through its restarts (as the air log does).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

class EventLog {
 public:
  ~EventLog();
  bool open(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }

  // Builds one line: start it, add fields in order, then write it.
  class Line {
   public:
    Line& text(const char* key, const std::string& value);
    Line& number(const char* key, int64_t value);
    Line& real(const char* key, double value);
    Line& flag(const char* key, bool value);
    Line& hex(const char* key, const uint8_t* data, size_t len);
    Line& word(const char* key, uint32_t value);  // "0x%08X"

   private:
    friend class EventLog;
    std::string body_;
  };
  Line line(uint64_t tUs, const char* event) const;
  void write(const Line& line);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace sim
