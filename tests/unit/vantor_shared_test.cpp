// Two Vantors on one registry, as at a site whose Vantors share a database server: each hears
// every frame of several nodes and handles it on its own connection at the same time as the other.
// Every frame is stored once as accepted and once as a duplicate, provisioning gives each chip one
// identity, and each queued setting goes out once, whichever Vantor answers. On a PostgreSQL server
// and on an SQLite file (two connections).
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "node_frames.h"
#include "settings.h"
#include "uplink_decode.h"
#include "test_servers.h"
#include "vantor.h"

using namespace testing_support;

namespace {

constexpr int kNodes = 3;

class SharedRegistry : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    where_ = freshDatabase(GetParam(), "shared");
    for (int i = 0; i < 2; ++i) {
      stores_[i] = vantor::openStore(where_, true);
      vantors_[i] = std::make_unique<vantor::Vantor>(*stores_[i], 5);
    }
  }

  // Both Vantors hear the frames in this order, each in a thread of its own; what each answered.
  std::array<std::vector<std::optional<vantor::Answer>>, 2> bothHear(const std::vector<Frame>& frames) {
    std::array<std::vector<std::optional<vantor::Answer>>, 2> answers;
    std::array<std::thread, 2> threads;
    for (int i = 0; i < 2; ++i) {
      threads[i] = std::thread([&, i] {
        for (const Frame& f : frames) answers[i].push_back(vantors_[i]->onFrame(f, {now_, -80.0, 6.0}, {}));
      });
    }
    for (std::thread& t : threads) t.join();
    now_ += 1'000'000;
    return answers;
  }
  // Verdicts of the stored frames since `from`, counted.
  std::map<std::string, int> verdictsSince(int64_t from) {
    std::map<std::string, int> n;
    for (const vantor::UplinkRecord& u : stores_[0]->uplinks(std::nullopt, 100000)) {
      if (u.id > from) ++n[u.verdict];
    }
    return n;
  }
  static int answered(const std::array<std::vector<std::optional<vantor::Answer>>, 2>& answers) {
    int n = 0;
    for (const auto& perVantor : answers) {
      for (const auto& a : perVantor) n += a.has_value() ? 1 : 0;
    }
    return n;
  }
  int64_t lastId() {
    const auto last = stores_[0]->uplinks(std::nullopt, 1);
    return last.empty() ? 0 : last.back().id;
  }
  HMAC::Key keyOf(uint32_t uid) { return vantor::tagKey(stores_[0]->nodeByUid(uid)->key); }

  std::string where_;
  std::array<std::unique_ptr<vantor::Store>, 2> stores_;
  std::array<std::unique_ptr<vantor::Vantor>, 2> vantors_;
  uint64_t now_ = 1'000'000;
};

TEST_P(SharedRegistry, EveryFrameIsStoredOnceAndEverySettingSentOnce) {
  // Provisioning: each chip asks under the zero key, then under the identity it was given.
  std::vector<Frame> requests;
  for (uint32_t i = 0; i < kNodes; ++i) requests.push_back(packet10(0, 1, chipOf(i + 1), kZeroKey));
  int64_t from = lastId();
  const auto assigned = bothHear(requests);
  ASSERT_EQ(stores_[0]->nodes().size(), static_cast<size_t>(kNodes));
  EXPECT_EQ(verdictsSince(from), (std::map<std::string, int>{{"accepted", kNodes}, {"duplicate", kNodes}}));
  EXPECT_EQ(answered(assigned), kNodes);  // the Vantor that stored a request answers it, the other not
  std::vector<Frame> confirms;
  for (uint32_t uid = 1; uid <= kNodes; ++uid) {
    const std::string chip = stores_[0]->nodeByUid(uid)->chipId;
    uint32_t chipIndex = 0;
    for (uint32_t i = 0; i < kNodes; ++i) {
      if (vantor::chipIdText(chipOf(i + 1)) == chip) chipIndex = i;
    }
    confirms.push_back(packet10(uid, 2, chipOf(chipIndex + 1), keyOf(uid)));
  }
  from = lastId();
  EXPECT_EQ(answered(bothHear(confirms)), kNodes);
  EXPECT_EQ(verdictsSince(from), (std::map<std::string, int>{{"accepted", kNodes}, {"duplicate", kNodes}}));
  for (const vantor::NodeRecord& n : stores_[0]->nodes()) EXPECT_EQ(n.state, "confirmed") << n.uid;

  // A setting for each node; each node opens its window once and answers once.
  for (uint32_t uid = 1; uid <= kNodes; ++uid) {
    vantor::QueueRequest r;
    r.node = vantor::uidText(uid);
    r.words = {"tx-power", "9"};
    const vantor::QueueOutcome q = vantor::queueSetting(*stores_[uid % 2], r);
    ASSERT_EQ(q.status, vantor::QueueOutcome::Status::queued) << q.message;
  }
  std::vector<Frame> windows, acks;
  for (uint32_t uid = 1; uid <= kNodes; ++uid) {
    windows.push_back(packet3(uid, 10, keyOf(uid), true));
    acks.push_back(packet17(uid, 11, keyOf(uid), true, LoRaPacket17::Reason::Applied));
  }
  EXPECT_EQ(answered(bothHear(windows)), kNodes);
  EXPECT_EQ(answered(bothHear(acks)), 0);  // nothing more queued
  for (const vantor::QueueItem& q : stores_[0]->queue(std::nullopt)) {
    EXPECT_EQ(q.state, "done") << q.id;
    EXPECT_EQ(q.reason, "Applied") << q.id;
    EXPECT_EQ(q.attempts, 1) << q.id;
  }

  // Readings: each stored once as accepted and once as a duplicate.
  std::vector<Frame> readings;
  for (uint32_t counter = 12; counter < 32; ++counter) {
    for (uint32_t uid = 1; uid <= kNodes; ++uid) readings.push_back(packet3(uid, counter, keyOf(uid)));
  }
  from = lastId();
  bothHear(readings);
  const int n = static_cast<int>(readings.size());
  EXPECT_EQ(verdictsSince(from), (std::map<std::string, int>{{"accepted", n}, {"duplicate", n}}));
  for (const vantor::NodeRecord& node : stores_[0]->nodes()) EXPECT_EQ(node.lastCounter, 31u) << node.uid;
}

// The database server restarts under a Vantor: its next frame opens a new session and is stored.
TEST(SharedServer, AVantorWhoseServerRestartedStoresItsNextFrame) {
  const std::string where = freshDatabase(Backend::postgresql, "restart");
  const std::unique_ptr<vantor::Store> store = vantor::openStore(where, true);
  vantor::Vantor v(*store, 5);
  ASSERT_TRUE(v.onFrame(packet10(0, 1, chipOf(), kZeroKey), {1'000'000}, {}));
  sharedPostgres().stop();
  sharedPostgres().start();
  ASSERT_NO_THROW(v.onFrame(packet10(0, 2, chipOf(), kZeroKey), {2'000'000}, {}));
  EXPECT_EQ(store->uplinks(std::nullopt, 10).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Databases, SharedRegistry, ::testing::Values(Backend::sqlite, Backend::postgresql),
                         [](const ::testing::TestParamInfo<Backend>& p) { return backendName(p.param); });

}  // namespace
