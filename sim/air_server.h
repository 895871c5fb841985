// orvane-air's side (sim/AIR.md): the participants and their clocks, the grants, the frames of
// everyone in their order with the link budget between every pair, the air log, and the starting
// of sleeping participants. orvane-air serves it on its own; orvane-fleet runs the same server
// with the nodes it expects.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "air_protocol.h"
#include "radio_medium.h"

namespace sim {

struct AirOptions {
  std::string socketPath;
  std::string airLog;  // empty: none
  double linkLossDb = 80.0;
  double pathLossExponent = 3.0;
  Interferer interferer;
  uint64_t stopAtUs = kNever;
  unsigned processes = 0;   // sleepers started ahead of need while fewer run (0: the host's cores)
  unsigned maxAwake = 128;  // ... while fewer processes than this are alive
};

// What the air knows of a participant at the end (orvane-fleet's report).
struct ParticipantFigures {
  std::string name;
  air::Role role = air::Role::node;
  std::optional<air::Position> at;
  uint64_t framesSent = 0;
  uint64_t deferrals = 0;
  uint64_t starts = 0;  // processes that joined under this name
};

class AirServer {
 public:
  explicit AirServer(AirOptions options);
  ~AirServer();

  // Binds the socket and opens the air log. False with a message.
  bool open(std::string& error);
  // A participant that is not running yet: the air starts it at wakeUs as `relaunch` says, with
  // `fds` as its standard input, output and error (the air takes them over).
  void expect(const std::string& name, air::Role role, uint64_t wakeUs, std::optional<air::Position> at,
              air::Relaunch relaunch, std::vector<int> fds);
  // Serves until the run ends; `tick` is called about five times a second. Returns 0, or 1 when a
  // participant failed to start.
  int run(const std::function<void()>& tick = {});

  // The time before which no frame can start any more (every frame before it is in the log).
  uint64_t floorUs() const { return floorUs_; }
  uint64_t framesLogged() const { return framesLogged_; }
  size_t processesAlive() const { return alive_; }
  // The processes the air started that have not ended.
  std::vector<pid_t> childPids() const;
  std::vector<ParticipantFigures> figures() const;
  // Ends the run now (a signal).
  void stop() { end(); }
  // Every frame as it goes into the air log, in its order (orvane-fleet's progress).
  void onCommit(std::function<void(const AirFrame&)> fn) { onCommit_ = std::move(fn); }
  // Waits for every process the air started to end (after the run: they end on the air's end).
  void waitForChildren();
  // Exit statuses of child processes that were no participant's (orvane-fleet's Vantor).
  std::map<pid_t, int> otherExits() const { return otherExits_; }
  // Log-distance loss between two positions (sim/AIR.md).
  static double pathLossDb(double exponent, const air::Position& a, const air::Position& b);

 private:
  enum class State { asleep, starting, running, waiting, gone };
  struct Participant {
    uint32_t index = 0;
    std::string name;
    air::Role role = air::Role::node;
    std::optional<air::Position> at;
    State state = State::asleep;
    int fd = -1;
    pid_t pid = -1;
    uint64_t clockUs = 0;
    uint64_t reportedEUs = 0;  // E as the participant gave it
    uint64_t earliestUs = 0;   // E as the air counts it (a waiting listener's from its reaction)
    air::Wait wait;            // while waiting
    bool sentAny = false;
    uint64_t sentUpToUs = 0;  // frames of the others that start by this were passed on
    // (who, seq) of the frames passed on that start at sentUpToUs itself
    std::vector<std::pair<uint32_t, uint64_t>> passedAtGrant;
    std::vector<air::Cut> cuts;
    uint64_t wakeUs = 0;
    air::Relaunch relaunch;
    std::vector<int> stdFds;
    ParticipantFigures figures;
    uint64_t deferralsNow = 0;
  };
  struct ByTime {
    bool operator()(const std::pair<uint64_t, const Participant*>& a,
                    const std::pair<uint64_t, const Participant*>& b) const {
      if (a.first != b.first) return a.first < b.first;
      return a.second->name < b.second->name;
    }
  };
  using TimeSet = std::set<std::pair<uint64_t, const Participant*>, ByTime>;
  struct Entry {
    AirFrame frame;  // as announced (origin: the participant's number), then cut
    uint64_t announcedEndUs = 0;
    bool announcedTruncated = false;
    uint32_t who = 0;
    uint64_t seq = 0;
    bool logged = false;
  };

  void accept();
  void readFrom(int fd);
  void handle(int fd, const std::vector<uint8_t>& bytes, std::vector<int>& fds);
  void hello(int fd, const air::Hello& m);
  void frame(Participant& p, air::FrameMsg m);
  void cut(Participant& p, const air::Cut& c);
  void waitFor(Participant& p, const air::Wait& w);
  void pause(Participant& p, const air::Pause& m, std::vector<int>& fds);
  void closed(int fd);
  void setEarliest(Participant& p, uint64_t e);
  void setState(Participant& p, State s);
  // The latest time p may be granted (every other participant's E, ties by name), or nothing.
  // With listenersNextUs: other waiting listeners are left out, the earliest of their own next
  // steps goes there.
  std::optional<uint64_t> bound(const Participant& p, uint64_t* listenersNextUs = nullptr) const;
  void settle();
  void tryGrant(Participant& p);
  // The earliest end after afterUs of a frame of the others.
  std::optional<uint64_t> firstEndAfter(const Participant& p, uint64_t afterUs) const;
  // The latest end of a frame of the others (nothing: none is kept).
  std::optional<uint64_t> lastEnd(const Participant& p) const;
  // Every node has left and a listener has yet to hear a frame to its end.
  bool listenersBehind() const;
  void grant(Participant& p, uint64_t g);
  void commit(uint64_t beforeUs);
  void launch(Participant& p);
  void reap();
  void end();
  double lossDb(const Participant& from, const Participant& to) const;
  Participant* byFd(int fd);

  AirOptions options_;
  int listenFd_ = -1;
  int epollFd_ = -1;
  std::FILE* log_ = nullptr;
  std::vector<std::unique_ptr<Participant>> participants_;
  std::map<std::string, Participant*> byName_;
  std::map<int, Participant*> byFd_;
  std::set<int> unnamed_;  // connections that have not said hello
  std::map<pid_t, Participant*> children_;
  std::map<pid_t, int> otherExits_;
  TimeSet order_;                    // every participant not gone, by E
  TimeSet asleep_;                   // by wake-up
  TimeSet waiting_;                  // waiting nodes, by target
  std::set<Participant*> reacting_;  // waiting participants granted on frames or any progress
  std::deque<Entry> frames_;         // by (start, name, seq)
  uint64_t floorUs_ = 0;
  uint64_t longestUs_ = 0;  // the longest frame announced
  uint64_t maxGrantedUs_ = 0;
  bool granted_ = false;
  uint64_t framesLogged_ = 0;
  size_t logged_ = 0;   // of frames_, from the front
  size_t alive_ = 0;    // processes joined or starting
  size_t running_ = 0;  // of them not waiting
  size_t nodes_ = 0;    // node participants not gone
  bool nodesSeen_ = false;
  bool ended_ = false;
  int status_ = 0;
  std::function<void(const AirFrame&)> onCommit_;
};

}  // namespace sim
