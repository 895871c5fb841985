// The dashboard's live events: what the Vantor stored, as server-sent events for the pages that
// follow them. They come from the store's subscription when the Vantor runs in this process, or,
// when another process writes the database, from polling it for uplinks above the last one seen.
//   uplink  an uplink stored (its `vantor --json uplinks` fields)
//   node    a node as it is now (its `vantor --json nodes` line)
//   queue   a node's settings as they are now: {"uid", "items": [...]}
//   resync  events were missed (a page reloads what it shows)
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "outputs.h"
#include "store.h"

namespace vantor {

struct LiveEvent {
  uint64_t seq = 0;
  std::string name;
  std::optional<uint32_t> uid;  // the node it is about (none: every page)
  std::string data;             // JSON
};

class EventFeed {
 public:
  // Reads `store` under `storeLock`, which every other user of that store holds as well.
  EventFeed(Store& store, std::mutex& storeLock);
  ~EventFeed();
  EventFeed(const EventFeed&) = delete;
  EventFeed& operator=(const EventFeed&) = delete;

  // What a transaction stored, from any thread (the Vantor's own): turned into events on the
  // feed's thread, so the caller never waits for the database or a page.
  void stored(const Stored& s);
  // Starts the feed's thread; with `poll`, it also watches the database every `interval`.
  void start(bool poll, std::chrono::milliseconds interval);
  // Wakes every page that waits and ends the thread; next() gives false from then on.
  void close();

  // The sequence number of the latest event: a page that joins now follows from there.
  uint64_t latest();
  // The events after `seq` (about node `uid` only, when given), waiting up to `wait` for one.
  // False once the feed is closed.
  bool next(uint64_t& seq, std::optional<uint32_t> uid, std::chrono::milliseconds wait, std::vector<LiveEvent>& out);

  // Events kept for pages that lag behind; one that falls further behind gets "resync".
  static constexpr size_t kKept = 4096;

 private:
  struct Change {
    Stored stored;
    bool polled = false;  // an uplink found in the database: its node's queue may have moved
  };
  void run(bool poll, std::chrono::milliseconds interval);
  std::vector<Change> pollDatabase(bool& missed);
  std::vector<LiveEvent> eventsOf(const std::vector<Change>& changes);
  void publish(std::vector<LiveEvent> events);

  Store& store_;
  std::mutex& storeLock_;

  std::mutex mutex_;
  std::condition_variable changed_;    // a change came in, or the feed closes
  std::condition_variable published_;  // events came out, or the feed closes
  std::vector<Change> pending_;
  std::deque<LiveEvent> events_;
  uint64_t seq_ = 0;
  bool closed_ = false;
  int64_t lastUplinkId_ = 0;  // polling: the latest uplink seen
  std::thread thread_;
};

}  // namespace vantor
