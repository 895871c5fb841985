// Encoding of orvane-air's messages and the Unix socket calls.
#include "air_protocol.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim::air {

namespace {

// Every number on the air's socket is little-endian, whatever the host.
void putLittle(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t fromLittle(const uint8_t* b, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[i];
  return v;
}

}  // namespace

void Writer::u16(uint16_t v) { putLittle(bytes_, v, 2); }

void Writer::u32(uint32_t v) { putLittle(bytes_, v, 4); }

void Writer::u64(uint64_t v) { putLittle(bytes_, v, 8); }

void Writer::f64(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  u64(bits);
}

void Writer::str(const std::string& s) {
  u32(static_cast<uint32_t>(s.size()));
  bytes_.insert(bytes_.end(), s.begin(), s.end());
}

void Writer::blob(const std::vector<uint8_t>& b) {
  u32(static_cast<uint32_t>(b.size()));
  bytes_.insert(bytes_.end(), b.begin(), b.end());
}

bool Reader::take(void* out, size_t n) {
  if (!ok_ || static_cast<size_t>(end_ - p_) < n) {
    ok_ = false;
    std::memset(out, 0, n);
    return false;
  }
  std::memcpy(out, p_, n);
  p_ += n;
  return true;
}

uint8_t Reader::u8() {
  uint8_t v = 0;
  take(&v, 1);
  return v;
}

uint16_t Reader::u16() {
  uint8_t b[2];
  take(b, 2);
  return static_cast<uint16_t>(fromLittle(b, 2));
}

uint32_t Reader::u32() {
  uint8_t b[4];
  take(b, 4);
  return static_cast<uint32_t>(fromLittle(b, 4));
}

uint64_t Reader::u64() {
  uint8_t b[8];
  take(b, 8);
  return fromLittle(b, 8);
}

double Reader::f64() {
  const uint64_t bits = u64();
  double v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string Reader::str() {
  const uint32_t n = u32();
  if (!ok_ || static_cast<size_t>(end_ - p_) < n) {
    ok_ = false;
    return {};
  }
  std::string s(reinterpret_cast<const char*>(p_), n);
  p_ += n;
  return s;
}

std::vector<uint8_t> Reader::blob() {
  const uint32_t n = u32();
  if (!ok_ || static_cast<size_t>(end_ - p_) < n) {
    ok_ = false;
    return {};
  }
  std::vector<uint8_t> b(p_, p_ + n);
  p_ += n;
  return b;
}

namespace {

void putOptional(Writer& w, const std::optional<double>& v) {
  w.u8(v ? 1 : 0);
  w.f64(v ? *v : 0.0);
}

std::optional<double> getOptional(Reader& r) {
  const bool has = r.u8() != 0;
  const double v = r.f64();
  return has ? std::optional<double>(v) : std::nullopt;
}

void putStrings(Writer& w, const std::vector<std::string>& list) {
  w.u32(static_cast<uint32_t>(list.size()));
  for (const std::string& s : list) w.str(s);
}

bool getStrings(Reader& r, std::vector<std::string>& list) {
  const uint32_t n = r.u32();
  list.clear();
  for (uint32_t i = 0; i < n && r.ok(); ++i) list.push_back(r.str());
  return r.ok();
}

}  // namespace

void putFrame(Writer& w, const AirFrame& f) {
  w.str(f.sender);
  w.str(f.name);
  w.u32(f.origin);
  w.u8(f.lora ? 1 : 0);
  w.u32(f.air.freqHz);
  w.u8(f.air.sf);
  w.u8(f.air.bwCode);
  w.u8(f.air.cr);
  w.u8(f.air.ldro ? 1 : 0);
  w.u8(f.air.syncWord);
  w.u8(f.air.iqInverted ? 1 : 0);
  w.u16(f.air.preamble);
  w.u8(f.air.implicitHeader ? 1 : 0);
  w.u8(f.air.crcOn ? 1 : 0);
  w.u32(static_cast<uint32_t>(f.powerDbm));
  w.blob(f.bytes);
  w.u64(f.startUs);
  w.u64(f.endUs);
  w.u8(static_cast<uint8_t>((f.truncated ? 1 : 0) | (f.crcError ? 2 : 0) | (f.headerError ? 4 : 0)));
  putOptional(w, f.rssiDbm);
  putOptional(w, f.snrDb);
}

bool getFrame(Reader& r, AirFrame& f) {
  f.sender = r.str();
  f.name = r.str();
  f.origin = r.u32();
  f.lora = r.u8() != 0;
  f.air.freqHz = r.u32();
  f.air.sf = r.u8();
  f.air.bwCode = r.u8();
  f.air.cr = r.u8();
  f.air.ldro = r.u8() != 0;
  f.air.syncWord = r.u8();
  f.air.iqInverted = r.u8() != 0;
  f.air.preamble = r.u16();
  f.air.implicitHeader = r.u8() != 0;
  f.air.crcOn = r.u8() != 0;
  f.powerDbm = static_cast<int32_t>(r.u32());
  f.bytes = r.blob();
  f.startUs = r.u64();
  f.endUs = r.u64();
  const uint8_t flags = r.u8();
  f.truncated = (flags & 1) != 0;
  f.crcError = (flags & 2) != 0;
  f.headerError = (flags & 4) != 0;
  f.rssiDbm = getOptional(r);
  f.snrDb = getOptional(r);
  return r.ok();
}

std::vector<uint8_t> encode(const Hello& m) {
  Writer w(Msg::hello);
  w.u16(kVersion);
  w.u8(static_cast<uint8_t>(m.role));
  w.str(m.name);
  w.u64(m.clockUs);
  w.u8(m.at ? 1 : 0);
  w.f64(m.at ? m.at->x : 0.0);
  w.f64(m.at ? m.at->y : 0.0);
  return w.bytes();
}

bool decode(Reader& r, Hello& m) {
  if (r.u16() != kVersion) return false;
  m.role = r.u8() == 1 ? Role::listener : Role::node;
  m.name = r.str();
  m.clockUs = r.u64();
  const bool has = r.u8() != 0;
  Position p;
  p.x = r.f64();
  p.y = r.f64();
  m.at = has ? std::optional<Position>(p) : std::nullopt;
  return r.ok();
}

std::vector<uint8_t> encode(const Welcome& m) {
  Writer w(Msg::welcome);
  w.u64(m.startUs);
  w.f64(m.linkLossDb);
  w.u8(m.interferer.active ? 1 : 0);
  w.f64(m.interferer.dbm);
  w.u64(m.interferer.onUs);
  w.u64(m.interferer.offUs);
  return w.bytes();
}

bool decode(Reader& r, Welcome& m) {
  m.startUs = r.u64();
  m.linkLossDb = r.f64();
  m.interferer.active = r.u8() != 0;
  m.interferer.dbm = r.f64();
  m.interferer.onUs = r.u64();
  m.interferer.offUs = r.u64();
  return r.ok();
}

std::vector<uint8_t> encodeRefused(const std::string& why) {
  Writer w(Msg::refused);
  w.str(why);
  return w.bytes();
}

std::vector<uint8_t> encode(const FrameMsg& m) {
  Writer w(Msg::frame);
  w.u64(m.seq);
  putFrame(w, m.frame);
  return w.bytes();
}

bool decode(Reader& r, FrameMsg& m) {
  m.seq = r.u64();
  return getFrame(r, m.frame);
}

std::vector<uint8_t> encode(const Cut& m) {
  Writer w(Msg::cut);
  w.u32(m.origin);
  w.u64(m.seq);
  w.u64(m.atUs);
  return w.bytes();
}

bool decode(Reader& r, Cut& m) {
  m.origin = r.u32();
  m.seq = r.u64();
  m.atUs = r.u64();
  return r.ok();
}

std::vector<uint8_t> encode(const Wait& m) {
  Writer w(Msg::wait);
  w.u64(m.nowUs);
  w.u64(m.targetUs);
  w.u64(m.earliestUs);
  w.u64(m.reactUs);
  w.u8(m.partial ? 1 : 0);
  w.u64(m.hearingSinceUs);
  w.u64(m.deferrals);
  return w.bytes();
}

bool decode(Reader& r, Wait& m) {
  m.nowUs = r.u64();
  m.targetUs = r.u64();
  m.earliestUs = r.u64();
  m.reactUs = r.u64();
  m.partial = r.u8() != 0;
  m.hearingSinceUs = r.u64();
  m.deferrals = r.u64();
  return r.ok();
}

std::vector<uint8_t> encode(const Grant& m) {
  Writer w(Msg::grant);
  w.u64(m.grantUs);
  w.u8(m.more ? 1 : 0);
  w.u32(static_cast<uint32_t>(m.frames.size()));
  for (const FrameMsg& f : m.frames) {
    w.u64(f.seq);
    putFrame(w, f.frame);
  }
  w.u32(static_cast<uint32_t>(m.cuts.size()));
  for (const Cut& c : m.cuts) {
    w.u32(c.origin);
    w.u64(c.seq);
    w.u64(c.atUs);
  }
  return w.bytes();
}

bool decode(Reader& r, Grant& m) {
  m.grantUs = r.u64();
  m.more = r.u8() != 0;
  const uint32_t frames = r.u32();
  m.frames.clear();
  for (uint32_t i = 0; i < frames && r.ok(); ++i) {
    FrameMsg f;
    f.seq = r.u64();
    if (!getFrame(r, f.frame)) return false;
    m.frames.push_back(std::move(f));
  }
  const uint32_t cuts = r.u32();
  m.cuts.clear();
  for (uint32_t i = 0; i < cuts && r.ok(); ++i) {
    Cut c;
    c.origin = r.u32();
    c.seq = r.u64();
    c.atUs = r.u64();
    m.cuts.push_back(c);
  }
  return r.ok();
}

std::vector<uint8_t> encode(const Pause& m) {
  Writer w(Msg::pause);
  w.u64(m.wakeUs);
  w.u64(m.deferrals);
  w.str(m.relaunch.exe);
  w.str(m.relaunch.cwd);
  putStrings(w, m.relaunch.argv);
  putStrings(w, m.relaunch.env);
  return w.bytes();
}

bool decode(Reader& r, Pause& m) {
  m.wakeUs = r.u64();
  m.deferrals = r.u64();
  m.relaunch.exe = r.str();
  m.relaunch.cwd = r.str();
  return getStrings(r, m.relaunch.argv) && getStrings(r, m.relaunch.env);
}

std::vector<uint8_t> encodeEnd() { return Writer(Msg::end).bytes(); }

bool socketPath(const std::string& address, std::string& path, std::string& error) {
  const std::string scheme = "unix:";
  if (address.rfind(scheme, 0) != 0 || address.size() == scheme.size()) {
    error = "the air's address is unix:PATH (got '" + address + "')";
    return false;
  }
  path = address.substr(scheme.size());
  if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    error = "the air's socket path is too long: " + path;
    return false;
  }
  return true;
}

namespace {

sockaddr_un unixAddress(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}

}  // namespace

int listenAt(const std::string& path, std::string& error) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  ::unlink(path.c_str());
  const sockaddr_un a = unixAddress(path);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 256) != 0) {
    error = "cannot listen at " + path + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

int connectTo(const std::string& path, std::string& error) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  const sockaddr_un a = unixAddress(path);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    error = "cannot reach the air at " + path + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendMessage(int fd, const std::vector<uint8_t>& bytes, const std::vector<int>& fds) {
  iovec iov{const_cast<uint8_t*>(bytes.data()), bytes.size()};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  std::vector<char> control;
  if (!fds.empty()) {
    control.assign(CMSG_SPACE(sizeof(int) * fds.size()), 0);
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
    std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
  }
  for (;;) {
    const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<size_t>(n) == bytes.size();
    if (errno != EINTR) return false;
  }
}

Received receiveMessage(int fd, std::vector<uint8_t>& bytes, std::vector<int>* fds, bool wait) {
  // Larger than any message either side sends (grants are cut at kPacketBudget).
  static thread_local std::vector<uint8_t> scratch(256 * 1024);
  iovec iov{scratch.data(), scratch.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)];
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC | (wait ? 0 : MSG_DONTWAIT));
  } while (n < 0 && errno == EINTR);
  if (n < 0 && !wait && (errno == EAGAIN || errno == EWOULDBLOCK)) return Received::none;
  if (n <= 0 || (msg.msg_flags & MSG_TRUNC) != 0) {
    bytes.clear();
    return Received::closed;
  }
  bytes.assign(scratch.data(), scratch.data() + n);
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int passed = -1;
      std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
      if (fds != nullptr) {
        fds->push_back(passed);
      } else {
        ::close(passed);
      }
    }
  }
  return Received::message;
}

}  // namespace sim::air
