// The participant's side of orvane-air: joining, frames out, grants in.
#include "air_link.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim {

std::unique_ptr<AirLink> AirLink::join(const std::string& address, const air::Hello& hello, RadioMedium& medium,
                                       AirHost& host, std::string& error) {
  std::string path;
  if (!air::socketPath(address, path, error)) return nullptr;
  const int fd = air::connectTo(path, error);
  if (fd < 0) return nullptr;
  std::vector<uint8_t> reply;
  if (!air::sendMessage(fd, air::encode(hello)) || air::receiveMessage(fd, reply) != air::Received::message) {
    error = "the air at " + path + " closed the connection";
    ::close(fd);
    return nullptr;
  }
  air::Reader r(reply.data(), reply.size());
  const air::Msg type = r.type();
  if (type == air::Msg::refused) {
    error = "the air refused " + hello.name + ": " + r.str();
    ::close(fd);
    return nullptr;
  }
  air::Welcome welcome;
  if (type != air::Msg::welcome || !air::decode(r, welcome)) {
    error = "the air at " + path + " does not speak this protocol";
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<AirLink> link(new AirLink(fd, medium, host, welcome.startUs));
  link->welcome_ = welcome;
  medium.setInterferer(welcome.interferer);
  medium.setLinkLossDb(welcome.linkLossDb);
  medium.setRemote(link.get());
  return link;
}

AirLink::AirLink(int fd, RadioMedium& medium, AirHost& host, uint64_t joinUs)
    : fd_(fd), medium_(medium), host_(host), joinUs_(joinUs), knownUntilUs_(joinUs) {}

AirLink::~AirLink() {
  medium_.setRemote(nullptr);
  ::close(fd_);
}

void AirLink::lost() {
  std::fprintf(stderr, "orvane-air went away; this participant ends\n");
  std::fflush(nullptr);
  std::_Exit(3);
}

void AirLink::send(const std::vector<uint8_t>& bytes) {
  if (!air::sendMessage(fd_, bytes)) lost();
}

uint64_t AirLink::nextEventUs() const {
  if (ended_ || !medium_.anyHearing()) return kNever;
  return knownUntilUs_;
}

void AirLink::sent(const AirFrame& frame) {
  lastOwnEndUs_ = std::max(lastOwnEndUs_, frame.endUs);
  roundOpen_ = false;
  air::FrameMsg m;
  m.seq = frame.id;
  m.frame = frame;
  send(air::encode(m));
}

void AirLink::cut(uint64_t id, uint64_t atUs) {
  air::Cut c;
  c.seq = id;
  c.atUs = atUs;
  send(air::encode(c));
}

void AirLink::armed(uint64_t atUs, uint64_t windowUs) {
  armedAtUs_ = atUs;
  everArmed_ = true;
  if (windowUs > kSampleWindowUs) return;
  // A second sensing round before any frame went out: the first found the channel busy.
  if (roundOpen_) ++deferrals_;
  roundOpen_ = true;
}

void AirLink::before(uint64_t nowUs) {
  if (ended_ || nowUs < knownUntilUs_ || !medium_.anyHearing()) return;
  air::Wait w;
  host_.plan(nowUs, lastOwnEndUs_ > nowUs, w);
  w.nowUs = nowUs;
  w.hearingSinceUs = everArmed_ ? std::min(armedAtUs_, nowUs) : joinUs_;
  w.deferrals = deferrals_;
  send(air::encode(w));
  std::vector<uint8_t> bytes;
  while (nowUs >= knownUntilUs_) {
    if (air::receiveMessage(fd_, bytes) != air::Received::message) lost();
    air::Reader r(bytes.data(), bytes.size());
    const air::Msg type = r.type();
    if (type == air::Msg::end) {
      ended_ = true;
      host_.airEnded();
      return;
    }
    air::Grant g;
    if (type != air::Msg::grant || !air::decode(r, g)) lost();
    take(g);
  }
  medium_.forget(nowUs > air::kLookbackUs ? nowUs - air::kLookbackUs : 0);
  if (remoteIds_.size() > 4096) {
    const uint64_t oldest = medium_.history().empty() ? UINT64_MAX : medium_.history().front().id;
    std::erase_if(remoteIds_, [&](const auto& e) { return e.second < oldest; });
  }
}

void AirLink::take(const air::Grant& grant) {
  for (const air::FrameMsg& f : grant.frames) {
    remoteIds_[{f.frame.origin, f.seq}] = medium_.inject(f.frame);
  }
  for (const air::Cut& c : grant.cuts) {
    auto it = remoteIds_.find({c.origin, c.seq});
    if (it != remoteIds_.end()) medium_.truncate(it->second, c.atUs);
  }
  if (!grant.more) knownUntilUs_ = grant.grantUs >= kNever - 1 ? kNever : grant.grantUs + 1;
}

void AirLink::runUntilEnded(Scheduler& clock) {
  while (!ended_) {
    const uint64_t next = clock.nextEvent(true);
    if (next == kNever) break;
    if (next > clock.now()) clock.setNow(next);
    clock.runDue();
  }
}

void AirLink::pause(uint64_t wakeUs, const air::Relaunch& relaunch) {
  air::Pause p;
  p.wakeUs = wakeUs;
  p.deferrals = deferrals_;
  p.relaunch = relaunch;
  if (!air::sendMessage(fd_, air::encode(p), {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})) lost();
}

}  // namespace sim
