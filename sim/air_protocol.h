// The messages between orvane-air and its participants (sim/AIR.md): one message per packet of a
// Unix SOCK_SEQPACKET socket, little-endian fields, and the socket calls both sides use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "radio_medium.h"

namespace sim::air {

constexpr uint16_t kVersion = 1;
// A grant's frames go in packets of at most this many bytes (the socket's buffer is larger).
constexpr size_t kPacketBudget = 48 * 1024;
// Frames that ended this long before a receiver started hearing can no longer matter to it (the
// longest header of any setting is under a second).
constexpr uint64_t kLookbackUs = 2'000'000;

enum class Msg : uint8_t { hello = 1, welcome, refused, frame, cut, wait, grant, pause, end };

// A node acts on its own; a listener (the Vantor) only answers what it hears.
enum class Role : uint8_t { node = 0, listener = 1 };

struct Position {
  double x = 0;
  double y = 0;
};

struct Hello {
  Role role = Role::node;
  std::string name;
  uint64_t clockUs = 0;
  std::optional<Position> at;
};

struct Welcome {
  uint64_t startUs = 0;  // where the participant's clock starts (a listener's is set by the air)
  double linkLossDb = 80.0;
  Interferer interferer;
};

// A frame of the participant: its own number for it, and the virtual time at which it was sent.
struct FrameMsg {
  uint64_t seq = 0;
  AirFrame frame;
};

struct Cut {
  uint32_t origin = 0;  // in a grant: whose frame (RadioMedium::kRemoteOrigin + the air's number)
  uint64_t seq = 0;
  uint64_t atUs = 0;
};

// The participant must wait: it is at nowUs and needs every frame of the others up to targetUs.
struct Wait {
  uint64_t nowUs = 0;
  uint64_t targetUs = 0;
  uint64_t earliestUs = 0;    // E: the earliest time it could start or cut a frame
  uint64_t reactUs = kNever;  // a frame that ends at t could make it transmit at t + reactUs
  bool partial = false;       // any progress helps it (its core runs)
  uint64_t hearingSinceUs = 0;
  uint64_t deferrals = 0;  // channel-sensing rounds that did not end in a transmission (this process)
};

struct Grant {
  uint64_t grantUs = 0;
  std::vector<FrameMsg> frames;  // frame.origin and frame.rssiDbm set for this receiver
  std::vector<Cut> cuts;
  bool more = false;  // more frames follow in the next packet
};

// How to start a sleeping participant again.
struct Relaunch {
  std::string exe;
  std::string cwd;
  std::vector<std::string> argv;
  std::vector<std::string> env;
};

struct Pause {
  uint64_t wakeUs = 0;
  uint64_t deferrals = 0;
  Relaunch relaunch;  // empty exe: it starts again by itself (not used by the simulators)
};

class Writer {
 public:
  explicit Writer(Msg type) { u8(static_cast<uint8_t>(type)); }
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u16(uint16_t v);
  void u32(uint32_t v);
  void u64(uint64_t v);
  void f64(double v);
  void str(const std::string& s);
  void blob(const std::vector<uint8_t>& b);
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t len) : p_(data), end_(data + len) {}
  Msg type() { return static_cast<Msg>(u8()); }
  uint8_t u8();
  uint16_t u16();
  uint32_t u32();
  uint64_t u64();
  double f64();
  std::string str();
  std::vector<uint8_t> blob();
  // False once a read ran past the end: the message was malformed.
  bool ok() const { return ok_; }

 private:
  bool take(void* out, size_t n);
  const uint8_t* p_;
  const uint8_t* end_;
  bool ok_ = true;
};

std::vector<uint8_t> encode(const Hello& m);
std::vector<uint8_t> encode(const Welcome& m);
std::vector<uint8_t> encodeRefused(const std::string& why);
std::vector<uint8_t> encode(const FrameMsg& m);
std::vector<uint8_t> encode(const Cut& m);
std::vector<uint8_t> encode(const Wait& m);
std::vector<uint8_t> encode(const Grant& m);
std::vector<uint8_t> encode(const Pause& m);
std::vector<uint8_t> encodeEnd();
// Each decodes the message after its type byte; false for a malformed one.
bool decode(Reader& r, Hello& m);
bool decode(Reader& r, Welcome& m);
bool decode(Reader& r, FrameMsg& m);
bool decode(Reader& r, Cut& m);
bool decode(Reader& r, Wait& m);
bool decode(Reader& r, Grant& m);
bool decode(Reader& r, Pause& m);
// Frame fields, as both sides put them in their messages.
void putFrame(Writer& w, const AirFrame& f);
bool getFrame(Reader& r, AirFrame& f);

// "unix:PATH" to PATH; false for anything else.
bool socketPath(const std::string& address, std::string& path, std::string& error);
// A listening socket at path (an old socket file there is replaced), or -1 with a message.
int listenAt(const std::string& path, std::string& error);
int connectTo(const std::string& path, std::string& error);
// One message, with file descriptors passed along (SCM_RIGHTS). False when the peer is gone.
bool sendMessage(int fd, const std::vector<uint8_t>& bytes, const std::vector<int>& fds = {});
// One message (blocking, or only if one is there); received descriptors go to `fds` (closed without).
enum class Received { message, none, closed };
Received receiveMessage(int fd, std::vector<uint8_t>& bytes, std::vector<int>* fds = nullptr, bool wait = true);

}  // namespace sim::air
