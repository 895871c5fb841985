// The board's event log.
#include "event_log.h"

#include <cinttypes>

namespace sim {

namespace {
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}
}  // namespace

EventLog::~EventLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool EventLog::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "ae");
  return file_ != nullptr;
}

EventLog::Line EventLog::line(uint64_t tUs, const char* event) const {
  Line l;
  l.body_ = "{\"t_us\":" + std::to_string(tUs) + ",\"event\":" + quoted(event);
  return l;
}

void EventLog::write(const Line& line) {
  if (file_ == nullptr) return;
  std::fputs(line.body_.c_str(), file_);
  std::fputs("}\n", file_);
  std::fflush(file_);
}

EventLog::Line& EventLog::Line::text(const char* key, const std::string& value) {
  body_ += ",\"" + std::string(key) + "\":" + quoted(value);
  return *this;
}

EventLog::Line& EventLog::Line::number(const char* key, int64_t value) {
  body_ += ",\"" + std::string(key) + "\":" + std::to_string(value);
  return *this;
}

EventLog::Line& EventLog::Line::real(const char* key, double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", value);
  body_ += ",\"" + std::string(key) + "\":" + buf;
  return *this;
}

EventLog::Line& EventLog::Line::flag(const char* key, bool value) {
  body_ += ",\"" + std::string(key) + "\":" + (value ? "true" : "false");
  return *this;
}

EventLog::Line& EventLog::Line::word(const char* key, uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08" PRIX32, value);
  return text(key, buf);
}

EventLog::Line& EventLog::Line::hex(const char* key, const uint8_t* data, size_t len) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string h;
  h.reserve(len * 2);
  for (size_t i = 0; i < len; ++i) {
    h += kDigits[data[i] >> 4];
    h += kDigits[data[i] & 15];
  }
  return text(key, h);
}

}  // namespace sim
