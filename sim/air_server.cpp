// orvane-air's server: participants, clock and grants, frames and the air log, sleepers.
#include "air_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <thread>

namespace sim {

namespace {

// A child process ended: reap then (scanning for ended children on every turn of the loop costs
// the kernel a walk over all of them).
volatile std::sig_atomic_t gChildEnded = 1;
void onChildEnded(int) { gChildEnded = 1; }

// Frames that ended this long before the floor are needed by nobody any more: a participant that
// starts hearing later hears from its own clock on, and is passed air::kLookbackUs of the past.
constexpr uint64_t kKeepUs = 2 * air::kLookbackUs;

bool entryBefore(const AirFrame& a, uint64_t seqA, const AirFrame& b, uint64_t seqB) {
  if (a.startUs != b.startUs) return a.startUs < b.startUs;
  if (a.name != b.name) return a.name < b.name;
  return seqA < seqB;
}

std::string seconds(uint64_t us) {
  if (us == kNever) return "never";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6f s", static_cast<double>(us) / 1e6);
  return buf;
}

}  // namespace

AirServer::AirServer(AirOptions options) : options_(std::move(options)) {
  if (options_.processes == 0) options_.processes = std::max(1u, std::thread::hardware_concurrency());
}

AirServer::~AirServer() {
  for (auto& p : participants_) {
    if (p->fd >= 0) ::close(p->fd);
    for (int fd : p->stdFds) ::close(fd);
  }
  for (int fd : unnamed_) ::close(fd);
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(options_.socketPath.c_str());
  }
  if (epollFd_ >= 0) ::close(epollFd_);
  if (log_ != nullptr) std::fclose(log_);
}

double AirServer::pathLossDb(double exponent, const air::Position& a, const air::Position& b) {
  // Free space over the first metre at 868 MHz: 20 log10(4 pi / lambda) = 31.2 dB.
  constexpr double kOneMetreDb = 31.2;
  const double d = std::max(1.0, std::hypot(a.x - b.x, a.y - b.y));
  return kOneMetreDb + 10.0 * exponent * std::log10(d);
}

double AirServer::lossDb(const Participant& from, const Participant& to) const {
  if (!from.at || !to.at) return options_.linkLossDb;
  return pathLossDb(options_.pathLossExponent, *from.at, *to.at);
}

bool AirServer::open(std::string& error) {
  listenFd_ = air::listenAt(options_.socketPath, error);
  if (listenFd_ < 0) return false;
  ::fcntl(listenFd_, F_SETFL, ::fcntl(listenFd_, F_GETFL) | O_NONBLOCK);
  if (!options_.airLog.empty()) {
    log_ = std::fopen(options_.airLog.c_str(), "a");
    if (log_ == nullptr) {
      error = "cannot write the air log " + options_.airLog;
      return false;
    }
  }
  struct sigaction child {};
  child.sa_handler = onChildEnded;
  child.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  ::sigaction(SIGCHLD, &child, nullptr);
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = listenFd_;
  ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &ev);
  return true;
}

void AirServer::expect(const std::string& name, air::Role role, uint64_t wakeUs, std::optional<air::Position> at,
                       air::Relaunch relaunch, std::vector<int> fds) {
  auto p = std::make_unique<Participant>();
  p->index = static_cast<uint32_t>(participants_.size());
  p->name = name;
  p->role = role;
  p->at = at;
  p->wakeUs = wakeUs;
  p->relaunch = std::move(relaunch);
  p->stdFds = std::move(fds);
  p->figures.name = name;
  p->figures.role = role;
  p->figures.at = at;
  Participant& ref = *p;
  byName_[name] = p.get();
  participants_.push_back(std::move(p));
  if (role == air::Role::node) {
    ++nodes_;
    nodesSeen_ = true;
  }
  ref.state = State::asleep;
  ref.earliestUs = wakeUs;
  ref.reportedEUs = wakeUs;
  order_.insert({ref.earliestUs, &ref});
  asleep_.insert({wakeUs, &ref});
}

AirServer::Participant* AirServer::byFd(int fd) {
  auto it = byFd_.find(fd);
  return it == byFd_.end() ? nullptr : it->second;
}

void AirServer::setEarliest(Participant& p, uint64_t e) {
  if (p.state == State::gone) return;
  if (e == p.earliestUs && order_.count({p.earliestUs, &p}) != 0) return;
  order_.erase({p.earliestUs, &p});
  p.earliestUs = e;
  order_.insert({e, &p});
}

void AirServer::setState(Participant& p, State s) {
  const auto alive = [](State x) { return x == State::starting || x == State::running || x == State::waiting; };
  const auto runs = [](State x) { return x == State::starting || x == State::running; };
  alive_ += alive(s) ? 1 : 0;
  alive_ -= alive(p.state) ? 1 : 0;
  running_ += runs(s) ? 1 : 0;
  running_ -= runs(p.state) ? 1 : 0;
  if (p.state == State::waiting) {
    waiting_.erase({p.wait.targetUs, &p});
    reacting_.erase(&p);
  }
  if (p.state == State::asleep) asleep_.erase({p.wakeUs, &p});
  if (s == State::asleep) asleep_.insert({p.wakeUs, &p});
  if (s == State::waiting) {
    if (p.wait.partial || p.wait.reactUs != kNever) {
      reacting_.insert(&p);
    } else {
      waiting_.insert({p.wait.targetUs, &p});
    }
  }
  if (s == State::gone) {
    order_.erase({p.earliestUs, &p});
    if (p.role == air::Role::node) --nodes_;
    p.figures.deferrals += p.deferralsNow;
    p.deferralsNow = 0;
  }
  p.state = s;
}

int AirServer::run(const std::function<void()>& tick) {
  uint64_t lastTick = 0;
  std::vector<epoll_event> events(64);
  settle();
  while (!ended_) {
    const int n = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()), 200);
    for (int i = 0; i < n; ++i) {
      const int fd = events[static_cast<size_t>(i)].data.fd;
      if (fd == listenFd_) {
        accept();
      } else {
        readFrom(fd);
      }
    }
    reap();
    settle();
    const uint64_t now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count() / 1000000);
    if (tick && now - lastTick >= 200) {
      lastTick = now;
      tick();
    }
  }
  if (tick) tick();
  return status_;
}

void AirServer::accept() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    // Replies are sent blocking: a participant reads while it waits for them.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    unnamed_.insert(fd);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
  }
}

void AirServer::readFrom(int fd) {
  std::vector<uint8_t> bytes;
  for (;;) {
    std::vector<int> fds;
    const air::Received got = air::receiveMessage(fd, bytes, &fds, false);
    if (got == air::Received::none) return;
    if (got == air::Received::closed) {
      closed(fd);
      return;
    }
    handle(fd, bytes, fds);
    for (int passed : fds) ::close(passed);  // any the message did not take
    Participant* p = byFd(fd);
    if (p == nullptr && unnamed_.count(fd) == 0) return;  // closed while handling
    // A participant sends nothing more while it waits for its grant (or its welcome).
    if (p == nullptr || p->state == State::waiting) return;
  }
}

void AirServer::handle(int fd, const std::vector<uint8_t>& bytes, std::vector<int>& fds) {
  air::Reader r(bytes.data(), bytes.size());
  const air::Msg type = r.type();
  Participant* p = byFd(fd);
  if (p == nullptr) {
    air::Hello h;
    if (type != air::Msg::hello || !air::decode(r, h)) {
      (void)air::sendMessage(fd, air::encodeRefused("speak the air's protocol (version " +
                                                    std::to_string(air::kVersion) + "), hello first"));
      closed(fd);
      return;
    }
    hello(fd, h);
    return;
  }
  bool ok = false;
  switch (type) {
    case air::Msg::frame: {
      air::FrameMsg m;
      ok = air::decode(r, m);
      if (ok) frame(*p, std::move(m));
      break;
    }
    case air::Msg::cut: {
      air::Cut c;
      ok = air::decode(r, c);
      if (ok) cut(*p, c);
      break;
    }
    case air::Msg::wait: {
      air::Wait w;
      ok = air::decode(r, w);
      if (ok) waitFor(*p, w);
      break;
    }
    case air::Msg::pause: {
      air::Pause m;
      ok = air::decode(r, m);
      if (ok) pause(*p, m, fds);
      break;
    }
    default: break;
  }
  if (!ok) {
    std::fprintf(stderr, "orvane-air: %s sent a malformed message; it leaves the air\n", p->name.c_str());
    closed(fd);
  }
}

void AirServer::hello(int fd, const air::Hello& m) {
  auto refuse = [&](const std::string& why) {
    (void)air::sendMessage(fd, air::encodeRefused(why));
    closed(fd);
  };
  auto it = byName_.find(m.name);
  Participant* p = it == byName_.end() ? nullptr : it->second;
  // A sleeper the air started (or one that starts itself) comes back under its name.
  const bool rejoin = p != nullptr && (p->state == State::asleep || p->state == State::starting);
  if (p != nullptr && !rejoin && p->state != State::gone) {
    refuse("the name " + m.name + " is in use on the air");
    return;
  }
  // Nobody may join behind what was granted: a participant told it knows every frame up to that
  // time could not learn of this one's.
  if (m.role == air::Role::node && granted_ && m.clockUs <= maxGrantedUs_ && !(rejoin && m.clockUs >= p->wakeUs)) {
    refuse(m.name + " joins at " + seconds(m.clockUs) + " but the air is already at " + seconds(maxGrantedUs_));
    return;
  }
  if (p == nullptr) {
    auto fresh = std::make_unique<Participant>();
    fresh->index = static_cast<uint32_t>(participants_.size());
    fresh->name = m.name;
    fresh->figures.name = m.name;
    p = fresh.get();
    byName_[m.name] = p;
    participants_.push_back(std::move(fresh));
  }
  if (!rejoin) {
    // New, or a new incarnation of a name that left.
    p->role = m.role;
    if (m.role == air::Role::node) ++nodes_;
  } else if (p->figures.starts == 0 && p->role != m.role) {
    // Waited for by its name alone (orvane-air --wait-for): it is what it says it is.
    if (p->role == air::Role::node) --nodes_;
    p->role = m.role;
    if (m.role == air::Role::node) ++nodes_;
  }
  if (p->role == air::Role::node) nodesSeen_ = true;
  if (m.at) p->at = m.at;
  p->figures.role = p->role;
  p->figures.at = p->at;
  ++p->figures.starts;
  air::Welcome w;
  w.startUs = m.clockUs;
  if (m.role == air::Role::listener && granted_) w.startUs = std::max(m.clockUs, maxGrantedUs_ + 1);
  w.linkLossDb = options_.linkLossDb;
  w.interferer = options_.interferer;
  p->fd = fd;
  p->clockUs = w.startUs;
  p->reportedEUs = w.startUs;
  p->sentAny = false;
  p->sentUpToUs = 0;
  p->cuts.clear();
  unnamed_.erase(fd);
  byFd_[fd] = p;
  const bool ordered = rejoin;
  setState(*p, State::running);
  if (ordered) {
    setEarliest(*p, w.startUs);
  } else {
    p->earliestUs = w.startUs;
    order_.insert({p->earliestUs, p});
  }
  if (!air::sendMessage(fd, air::encode(w))) closed(fd);
}

void AirServer::frame(Participant& p, air::FrameMsg m) {
  Entry e;
  e.frame = std::move(m.frame);
  e.frame.origin = RadioMedium::kRemoteOrigin + p.index;
  e.frame.name = p.name;
  e.frame.rssiDbm.reset();
  e.announcedEndUs = e.frame.endUs;
  e.announcedTruncated = e.frame.truncated;
  e.who = p.index;
  e.seq = m.seq;
  longestUs_ = std::max(longestUs_, e.frame.endUs - e.frame.startUs);
  ++p.figures.framesSent;
  auto at = std::upper_bound(frames_.begin(), frames_.end(), e, [](const Entry& a, const Entry& b) {
    return entryBefore(a.frame, a.seq, b.frame, b.seq);
  });
  frames_.insert(at, std::move(e));
}

void AirServer::cut(Participant& p, const air::Cut& c) {
  for (Entry& e : frames_) {
    if (e.who != p.index || e.seq != c.seq) continue;
    if (c.atUs < e.frame.endUs) {
      e.frame.endUs = std::max(c.atUs, e.frame.startUs);
      e.frame.truncated = true;
    }
    air::Cut passOn{e.frame.origin, c.seq, e.frame.endUs};
    for (auto& other : participants_) {
      if (other.get() != &p && other->sentAny && other->state != State::gone) other->cuts.push_back(passOn);
    }
    return;
  }
}

void AirServer::waitFor(Participant& p, const air::Wait& w) {
  p.wait = w;
  p.clockUs = w.nowUs;
  p.reportedEUs = std::max(w.earliestUs, w.nowUs);
  p.deferralsNow = w.deferrals;
  setState(p, State::waiting);
  setEarliest(p, p.reportedEUs);
}

void AirServer::pause(Participant& p, const air::Pause& m, std::vector<int>& fds) {
  p.wakeUs = m.wakeUs;
  p.figures.deferrals += m.deferrals;
  p.deferralsNow = 0;
  p.relaunch = m.relaunch;
  for (int fd : p.stdFds) ::close(fd);
  p.stdFds = fds;
  fds.clear();
  p.clockUs = m.wakeUs;
  p.reportedEUs = m.wakeUs;
  const int fd = p.fd;
  byFd_.erase(fd);
  p.fd = -1;
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  ::close(fd);
  setState(p, State::asleep);
  setEarliest(p, m.wakeUs);
}

void AirServer::closed(int fd) {
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  ::close(fd);
  unnamed_.erase(fd);
  Participant* p = byFd(fd);
  if (p == nullptr) return;
  byFd_.erase(fd);
  p->fd = -1;
  setState(*p, State::gone);
}

std::optional<uint64_t> AirServer::bound(const Participant& p, uint64_t* listenersNextUs) const {
  uint64_t g = options_.stopAtUs == kNever ? kNever - 1 : options_.stopAtUs - 1;
  // A listener only answers nodes: with none on the air it goes on only to hear the frames already
  // sent to their end (the last reading of a node that left is stored as in one process).
  if (p.role == air::Role::listener && nodes_ == 0) {
    const std::optional<uint64_t> last = lastEnd(p);
    if (!last) return std::nullopt;
    g = std::min(g, *last);
  }
  for (const auto& [e, q] : order_) {
    if (q == &p) continue;
    if (listenersNextUs != nullptr && q->state == State::waiting && q->wait.reactUs != kNever) {
      // Another waiting listener sends at its own next step or in answer to a node, never in
      // answer to this one: its step counts, not its E (which follows from this one's).
      *listenersNextUs = std::min(*listenersNextUs, q->wait.targetUs);
      continue;
    }
    if (e == 0 && q->name < p.name) return std::nullopt;
    g = std::min(g, q->name > p.name ? e : e - 1);
    break;
  }
  return g;
}

void AirServer::settle() {
  if (ended_) return;
  // A waiting listener answers no sooner than its reaction after the end of a frame it has yet
  // to hear: its E follows from the others' (twice, for a listener that waits on another one
  // that reacts).
  for (int pass = 0; pass < 2; ++pass) {
    for (Participant* p : reacting_) {
      if (p->wait.reactUs == kNever) continue;
      uint64_t listenersNext = kNever;
      const std::optional<uint64_t> b = bound(*p, &listenersNext);
      uint64_t x = b ? (*b >= kNever - 1 ? kNever : *b + 1) : p->clockUs;
      x = std::min(x, listenersNext);
      if (const std::optional<uint64_t> end = firstEndAfter(*p, p->clockUs)) x = std::min(x, *end);
      const uint64_t reaction = x >= kNever - p->wait.reactUs ? kNever : x + p->wait.reactUs;
      setEarliest(*p, std::max(p->clockUs, std::min(p->reportedEUs, reaction)));
    }
  }
  floorUs_ = order_.empty() ? kNever : order_.begin()->first;
  commit(floorUs_);
  // The end: the stop time passed, or the nodes are all gone and the listeners have heard their
  // frames to the end (what listeners wait for cannot come).
  if ((!participants_.empty() && floorUs_ >= options_.stopAtUs) || (nodesSeen_ && nodes_ == 0 && !listenersBehind())) {
    end();
    return;
  }
  // Grants: the reacting ones each time, the others in the order of their targets as far as the
  // second smallest E (no waiting participant can be granted beyond it).
  std::vector<Participant*> react(reacting_.begin(), reacting_.end());
  for (Participant* p : react) tryGrant(*p);
  uint64_t reach = kNever;
  if (order_.size() >= 2) reach = std::next(order_.begin())->first;
  std::vector<Participant*> due;
  for (const auto& [target, q] : waiting_) {
    if (target > reach) break;
    due.push_back(const_cast<Participant*>(q));
  }
  for (Participant* p : due) tryGrant(*p);
  // Sleepers: the one everybody waits for at once, then ahead of need while cores are idle.
  if (!order_.empty()) {
    Participant* first = const_cast<Participant*>(order_.begin()->second);
    if (first->state == State::asleep) launch(*first);
  }
  while (!asleep_.empty() && running_ < options_.processes && alive_ < options_.maxAwake) {
    launch(*const_cast<Participant*>(asleep_.begin()->second));
  }
  // Frames before the floor that ended long ago are of no use to anyone.
  while (!frames_.empty() && frames_.front().logged && frames_.front().frame.endUs + kKeepUs < floorUs_) {
    frames_.pop_front();
    --logged_;
  }
}

std::optional<uint64_t> AirServer::firstEndAfter(const Participant& p, uint64_t afterUs) const {
  // Frames are in the order of their starts: from the first that could still be on the air, until
  // one starts after the earliest end found.
  auto it = std::lower_bound(frames_.begin(), frames_.end(), afterUs > longestUs_ ? afterUs - longestUs_ : 0,
                             [](const Entry& e, uint64_t t) { return e.frame.startUs < t; });
  std::optional<uint64_t> best;
  for (; it != frames_.end(); ++it) {
    if (best && it->frame.startUs >= *best) break;
    if (it->who == p.index || it->frame.endUs <= afterUs) continue;
    if (!best || it->frame.endUs < *best) best = it->frame.endUs;
  }
  return best;
}

std::optional<uint64_t> AirServer::lastEnd(const Participant& p) const {
  std::optional<uint64_t> last;
  for (const Entry& e : frames_) {
    if (e.who != p.index && (!last || e.frame.endUs > *last)) last = e.frame.endUs;
  }
  return last;
}

bool AirServer::listenersBehind() const {
  for (const auto& p : participants_) {
    if (p->role != air::Role::listener || p->state == State::gone) continue;
    if (p->state != State::waiting) return true;  // it has a grant to use
    const std::optional<uint64_t> last = lastEnd(*p);
    if (last && p->wait.nowUs <= *last) return true;
  }
  return false;
}

void AirServer::tryGrant(Participant& p) {
  if (p.state != State::waiting) return;
  const std::optional<uint64_t> b = bound(p);
  if (!b || *b < p.wait.nowUs) return;
  const uint64_t g = *b;
  // (A listener left alone takes any span: it is the last stretch to the end of the frames.)
  bool useful =
      g >= p.wait.targetUs || (p.wait.partial && g > p.wait.nowUs) || (p.role == air::Role::listener && nodes_ == 0);
  if (!useful && p.wait.reactUs != kNever) {
    // A listener takes any span in which a frame of the others ends: it may answer it.
    const std::optional<uint64_t> end = firstEndAfter(p, p.wait.nowUs);
    useful = end && *end <= g;
  }
  if (useful) grant(p, g);
}

void AirServer::grant(Participant& p, uint64_t g) {
  air::Grant out;
  out.grantUs = g;
  out.cuts.swap(p.cuts);
  size_t bytes = 64;
  const uint64_t hearingFrom = p.wait.hearingSinceUs > air::kLookbackUs ? p.wait.hearingSinceUs - air::kLookbackUs : 0;
  // The frames not passed on yet: those that start after the last grant (all, after a join), and
  // those that start at its very time but came after it. A tie lets the participant with the
  // smaller name act first at that microsecond, so a frame of a greater name may start at the time
  // granted to it: it is passed on with the next grant, long before its header can be heard.
  auto from = frames_.begin();
  if (p.sentAny) {
    from = std::lower_bound(frames_.begin(), frames_.end(), p.sentUpToUs,
                            [](const Entry& e, uint64_t t) { return e.frame.startUs < t; });
  }
  std::vector<std::pair<uint32_t, uint64_t>> atGrant;
  for (auto it = from; it != frames_.end(); ++it) {
    const Entry& e = *it;
    if (e.frame.startUs > g) break;
    if (e.frame.startUs == g) atGrant.emplace_back(e.who, e.seq);
    if (p.sentAny && e.frame.startUs == p.sentUpToUs &&
        std::find(p.passedAtGrant.begin(), p.passedAtGrant.end(), std::make_pair(e.who, e.seq)) !=
            p.passedAtGrant.end()) {
      continue;
    }
    if (e.who == p.index || e.frame.endUs <= hearingFrom) continue;
    air::FrameMsg m;
    m.seq = e.seq;
    m.frame = e.frame;
    m.frame.rssiDbm = e.frame.powerDbm - lossDb(*participants_[e.who], p);
    bytes += 96 + m.frame.bytes.size() + m.frame.sender.size() + m.frame.name.size();
    out.frames.push_back(std::move(m));
    if (bytes > air::kPacketBudget) {
      out.more = true;
      if (!air::sendMessage(p.fd, air::encode(out))) return;
      out.frames.clear();
      out.cuts.clear();
      out.more = false;
      bytes = 64;
    }
  }
  p.sentAny = true;
  p.sentUpToUs = g;
  p.passedAtGrant.swap(atGrant);
  granted_ = true;
  maxGrantedUs_ = std::max(maxGrantedUs_, g);
  p.clockUs = p.wait.nowUs;
  setState(p, State::running);
  (void)air::sendMessage(p.fd, air::encode(out));
}

void AirServer::commit(uint64_t beforeUs) {
  // The logged frames are the front of the list: every frame announced from now on starts at or
  // after the floor.
  for (size_t i = logged_; i < frames_.size(); ++i) {
    Entry& e = frames_[i];
    if (e.frame.startUs >= beforeUs) break;
    e.logged = true;
    ++logged_;
    ++framesLogged_;
    // The log shows a frame as its transmitter put it on the air, as the in-process medium does.
    AirFrame shown = e.frame;
    shown.endUs = e.announcedEndUs;
    shown.truncated = e.announcedTruncated;
    shown.origin = 0;
    if (onCommit_) onCommit_(shown);
    if (log_ != nullptr) std::fputs(airLogLine(shown).c_str(), log_);
  }
}

void AirServer::launch(Participant& p) {
  const air::Relaunch& r = p.relaunch;
  if (r.exe.empty()) {
    // It starts again by itself (a participant that paused without saying how).
    setState(p, State::starting);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (size_t i = 0; i < p.stdFds.size() && i < 3; ++i) {
    posix_spawn_file_actions_adddup2(&actions, p.stdFds[i], static_cast<int>(i));
  }
  if (!r.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, r.cwd.c_str());
  std::vector<char*> argv;
  for (const std::string& a : r.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> env;
  for (const std::string& e : r.env) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, r.exe.c_str(), &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  for (int fd : p.stdFds) ::close(fd);
  p.stdFds.clear();
  if (rc != 0) {
    std::fprintf(stderr, "orvane-air: cannot start %s (%s): %s\n", p.name.c_str(), r.exe.c_str(), std::strerror(rc));
    status_ = 1;
    setState(p, State::gone);
    return;
  }
  p.pid = pid;
  children_[pid] = &p;
  setState(p, State::starting);
}

void AirServer::reap() {
  if (gChildEnded == 0) return;
  gChildEnded = 0;
  for (;;) {
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid <= 0) return;
    auto it = children_.find(pid);
    if (it == children_.end()) {
      otherExits_[pid] = status;
      continue;
    }
    Participant& p = *it->second;
    children_.erase(it);
    const std::string how = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                : "exit status " + std::to_string(WEXITSTATUS(status));
    if (p.pid == pid && p.state == State::starting) {
      std::fprintf(stderr, "orvane-air: %s ended before it joined the air (%s)\n", p.name.c_str(), how.c_str());
      status_ = 1;
      setState(p, State::gone);
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "orvane-air: %s ended with %s\n", p.name.c_str(), how.c_str());
    }
  }
}

void AirServer::end() {
  ended_ = true;
  commit(kNever);
  if (log_ != nullptr) std::fflush(log_);
  for (auto& p : participants_) {
    if (p->fd >= 0) (void)air::sendMessage(p->fd, air::encodeEnd());
  }
}

std::vector<pid_t> AirServer::childPids() const {
  std::vector<pid_t> out;
  for (const auto& [pid, p] : children_) out.push_back(pid);
  return out;
}

void AirServer::waitForChildren() {
  while (!children_.empty()) {
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, 0);
    if (pid < 0) return;
    if (children_.erase(pid) == 0) otherExits_[pid] = status;
  }
}

std::vector<ParticipantFigures> AirServer::figures() const {
  std::vector<ParticipantFigures> out;
  for (const auto& p : participants_) {
    ParticipantFigures f = p->figures;
    f.deferrals += p->deferralsNow;
    out.push_back(f);
  }
  return out;
}

}  // namespace sim
