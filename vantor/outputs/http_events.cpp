// Stored records to live events: one thread turns them into JSON (reading what else a page needs
// from the store) and keeps the latest for the pages that wait.
#include "http_events.h"

#include <cstdio>
#include <map>

#include "http_api.h"
#include "json_records.h"
#include "uplink_decode.h"

namespace vantor {

namespace {
// Polling reads the newest uplinks in pages of this many, more when more came in since.
constexpr int kPollPage = 64;
constexpr int kPollMost = 16384;
}  // namespace

EventFeed::EventFeed(Store& store, std::mutex& storeLock) : store_(store), storeLock_(storeLock) {}

EventFeed::~EventFeed() { close(); }

void EventFeed::stored(const Stored& s) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    pending_.push_back(Change{s, false});
  }
  changed_.notify_one();
}

void EventFeed::start(bool poll, std::chrono::milliseconds interval) {
  if (poll) {
    std::lock_guard<std::mutex> lock(storeLock_);
    const std::vector<UplinkRecord> last = store_.uplinks(std::nullopt, 1);
    lastUplinkId_ = last.empty() ? 0 : last.back().id;
  }
  thread_ = std::thread([this, poll, interval] { run(poll, interval); });
}

void EventFeed::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
  published_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t EventFeed::latest() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seq_;
}

bool EventFeed::next(uint64_t& seq, std::optional<uint32_t> uid, std::chrono::milliseconds wait,
                     std::vector<LiveEvent>& out) {
  std::unique_lock<std::mutex> lock(mutex_);
  published_.wait_for(lock, wait, [&] { return closed_ || seq_ > seq; });
  if (closed_) return false;
  if (seq_ == seq) return true;
  if (events_.empty() || events_.front().seq > seq + 1) out.push_back(LiveEvent{seq_, "resync", std::nullopt, "{}"});
  for (const LiveEvent& e : events_) {
    if (e.seq <= seq) continue;
    if (!uid || !e.uid || *e.uid == *uid) out.push_back(e);
  }
  seq = seq_;
  return true;
}

void EventFeed::run(bool poll, std::chrono::milliseconds interval) {
  for (;;) {
    std::vector<Change> changes;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const auto ready = [&] { return closed_ || !pending_.empty(); };
      if (poll) {
        changed_.wait_for(lock, interval, ready);
      } else {
        changed_.wait(lock, ready);
      }
      if (closed_) return;
      changes.swap(pending_);
    }
    std::vector<LiveEvent> events;
    try {
      bool missed = false;
      if (poll) {
        std::vector<Change> found = pollDatabase(missed);
        changes.insert(changes.end(), found.begin(), found.end());
      }
      if (missed) events.push_back(LiveEvent{0, "resync", std::nullopt, "{}"});
      std::vector<LiveEvent> more = eventsOf(changes);
      events.insert(events.end(), more.begin(), more.end());
    } catch (const DbError& e) {
      // The database may come back (a server restarted): the pages reload once it does.
      std::fprintf(stderr, "vantor: live events: %s\n", e.what());
      events.push_back(LiveEvent{0, "resync", std::nullopt, "{}"});
    }
    publish(std::move(events));
  }
}

std::vector<EventFeed::Change> EventFeed::pollDatabase(bool& missed) {
  std::lock_guard<std::mutex> lock(storeLock_);
  std::vector<UplinkRecord> recent;
  for (int page = kPollPage;; page *= 4) {
    recent = store_.uplinks(std::nullopt, page);
    missed = static_cast<int>(recent.size()) == page && recent.front().id > lastUplinkId_;
    if (!missed || page >= kPollMost) break;
  }
  std::vector<Change> out;
  for (UplinkRecord& u : recent) {
    if (u.id <= lastUplinkId_) continue;
    lastUplinkId_ = u.id;
    Change c;
    c.stored.uplink = std::move(u);
    c.polled = true;
    out.push_back(std::move(c));
  }
  return out;
}

std::vector<LiveEvent> EventFeed::eventsOf(const std::vector<Change>& changes) {
  std::vector<LiveEvent> events;
  std::map<uint32_t, bool> touched;  // node -> its queue may have moved
  for (const Change& c : changes) {
    const Stored& s = c.stored;
    if (s.uplink) {
      events.push_back(LiveEvent{0, "uplink", s.uplink->uid, jsonText(uplinkJson(*s.uplink))});
      // Packet 5 opens a window that sends or expires settings, packet 17 answers one.
      touched[s.uplink->uid] |= c.polled && (s.uplink->code == 5 || s.uplink->code == 17);
    }
    if (s.node) touched[s.node->uid] |= false;
    for (const QueueItem& q : s.items) touched[q.uid] = true;
    if (s.answered) touched[s.answered->uid] = true;
    for (const CalibrationRecord& k : s.calibrations) {
      events.push_back(LiveEvent{0, "calibration", k.uid, jsonText(calibrationJson(k))});
      touched[k.uid] = true;
    }
  }
  if (touched.empty()) return events;
  std::lock_guard<std::mutex> lock(storeLock_);
  const uint64_t now = store_.nowUs();
  for (const auto& [uid, queueMoved] : touched) {
    const std::optional<NodeRecord> n = store_.nodeByUid(uid);
    if (!n) continue;
    events.push_back(LiveEvent{0, "node", uid, jsonText(nodeJson(store_, *n, now))});
    if (!queueMoved) continue;
    nlohmann::json items = nlohmann::json::array();
    for (const QueueItem& q : store_.queue(uid)) items.push_back(queueItemJson(q));
    events.push_back(LiveEvent{0, "queue", uid, jsonText({{"uid", uidText(uid)}, {"items", std::move(items)}})});
  }
  return events;
}

void EventFeed::publish(std::vector<LiveEvent> events) {
  if (events.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (LiveEvent& e : events) {
      e.seq = ++seq_;
      events_.push_back(std::move(e));
    }
    while (events_.size() > kKept) events_.pop_front();
  }
  published_.notify_all();
}

}  // namespace vantor
