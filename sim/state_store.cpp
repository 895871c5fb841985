// State folder files: written whole through a temporary file and a rename, so a crash of the
// simulator never leaves a half-written state behind.
#include "state_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace sim {

bool holdsBoardState(const std::string& dir) {
  struct stat st {};
  for (const char* name : {kFlashPageFile, kBackupRegistersFile, kClockFile}) {
    if (::stat((dir + "/" + name).c_str(), &st) == 0) return true;
  }
  return false;
}

void makeStateDir(const std::string& dir) {
  std::string partial;
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      if (!partial.empty()) ::mkdir(partial.c_str(), 0755);
    }
    if (i < dir.size()) partial.push_back(dir[i]);
  }
}

bool readBytes(const std::string& path, std::vector<uint8_t>& out) {
  if (path.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (path.empty()) return;
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::rename(tmp.c_str(), path.c_str());
}

bool readText(const std::string& path, std::string& out) {
  std::vector<uint8_t> bytes;
  if (!readBytes(path, bytes)) return false;
  out.assign(bytes.begin(), bytes.end());
  return true;
}

void writeText(const std::string& path, const std::string& text) {
  writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool readU64(const std::string& path, uint64_t& out) {
  std::string text;
  if (!readText(path, text)) return false;
  std::istringstream in(text);
  uint64_t v = 0;
  if (!(in >> v)) return false;
  out = v;
  return true;
}

void writeU64(const std::string& path, uint64_t value) { writeText(path, std::to_string(value) + "\n"); }

void removeFile(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}

}  // namespace sim
