// orvane-air's grants, seen from participants that speak its protocol by hand: every frame of the
// others reaches a participant, also one that starts at the very microsecond granted to it (a tie
// of E decided by the names), and a listener hears the frames of a node that left to their end
// before the air ends.
#include "air_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "air_protocol.h"

namespace {

using namespace sim;

class Participant {
 public:
  Participant(const std::string& socket, const std::string& name, air::Role role) {
    std::string error;
    fd_ = air::connectTo(socket, error);
    EXPECT_GE(fd_, 0) << error;
    air::Hello h;
    h.role = role;
    h.name = name;
    EXPECT_TRUE(air::sendMessage(fd_, air::encode(h)));
    EXPECT_EQ(next(), air::Msg::welcome);
  }
  ~Participant() { leave(); }

  void leave() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Waits at nowUs for targetUs; E is the earliest time it could start a frame.
  void wait(uint64_t nowUs, uint64_t targetUs, uint64_t earliestUs, bool partial, uint64_t reactUs = kNever) {
    air::Wait w;
    w.nowUs = nowUs;
    w.targetUs = targetUs;
    w.earliestUs = earliestUs;
    w.partial = partial;
    w.reactUs = reactUs;
    ASSERT_TRUE(air::sendMessage(fd_, air::encode(w)));
  }

  void send(uint64_t seq, uint64_t startUs, uint64_t endUs) {
    air::FrameMsg m;
    m.seq = seq;
    m.frame.sender = "node";
    m.frame.bytes = {0x03, 0x01};
    m.frame.startUs = startUs;
    m.frame.endUs = endUs;
    ASSERT_TRUE(air::sendMessage(fd_, air::encode(m)));
  }

  // The next message; a grant is kept in `grant`.
  air::Msg next() {
    std::vector<uint8_t> bytes;
    if (air::receiveMessage(fd_, bytes) != air::Received::message) return air::Msg::refused;
    air::Reader r(bytes.data(), bytes.size());
    const air::Msg type = r.type();
    if (type == air::Msg::grant) {
      grant = {};
      EXPECT_TRUE(air::decode(r, grant));
    }
    return type;
  }

  air::Grant grant;

 private:
  int fd_ = -1;
};

class AirServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/air_server_test.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    AirOptions o;
    o.socketPath = dir_ + "/air.sock";
    server_ = std::make_unique<AirServer>(o);
    std::string error;
    ASSERT_TRUE(server_->open(error)) << error;
    for (const std::string& name : waitFor_) server_->expect(name, air::Role::listener, 0, std::nullopt, {}, {});
    thread_ = std::thread([this] { server_->run(); });
  }
  void TearDown() override {
    if (thread_.joinable()) thread_.join();  // the run ends once every node has left
    server_.reset();
    std::system(("rm -rf " + dir_).c_str());
  }
  std::string socket() const { return dir_ + "/air.sock"; }

  std::vector<std::string> waitFor_;  // as orvane-air --wait-for NAME
  std::string dir_;
  std::unique_ptr<AirServer> server_;
  std::thread thread_;
};

TEST_F(AirServerTest, AFrameThatStartsAtTheGrantedTimeComesWithTheNextGrant) {
  Participant a(socket(), "a", air::Role::node);
  Participant b(socket(), "b", air::Role::node);
  a.wait(0, 5'000, 5'000, true);   // its core runs and hears
  b.wait(0, 1'000, 1'000, false);  // it could start a frame at 1 000 us
  // The tie at 1 000 us goes to the smaller name: a may be there before b acts.
  ASSERT_EQ(a.next(), air::Msg::grant);
  EXPECT_EQ(a.grant.grantUs, 1'000u);
  EXPECT_TRUE(a.grant.frames.empty());
  ASSERT_EQ(b.next(), air::Msg::grant);
  b.send(1, 1'000, 2'000);
  b.wait(1'000, 3'000, 3'000, false);
  a.wait(1'001, 5'000, 5'000, true);
  ASSERT_EQ(a.next(), air::Msg::grant);
  EXPECT_GT(a.grant.grantUs, 1'000u);
  ASSERT_EQ(a.grant.frames.size(), 1u);
  EXPECT_EQ(a.grant.frames[0].frame.startUs, 1'000u);
}

TEST_F(AirServerTest, AFramePassedOnAtTheGrantedTimeIsNotPassedOnAgain) {
  Participant a(socket(), "a", air::Role::node);
  Participant b(socket(), "b", air::Role::node);
  Participant c(socket(), "c", air::Role::node);
  b.send(1, 1'000, 2'000);  // its radio hears nothing: it needs no grant to send
  b.wait(1'000, 9'000, 2'001, false);
  c.wait(0, 9'000, 1'000, false);
  // c could still start a frame at 1 000 us: a is granted that microsecond, with b's frame in it.
  a.wait(0, 1'000, 5'000, false);
  ASSERT_EQ(a.next(), air::Msg::grant);
  EXPECT_EQ(a.grant.grantUs, 1'000u);
  ASSERT_EQ(a.grant.frames.size(), 1u);
  c.leave();
  a.wait(1'001, 5'000, 5'000, true);
  ASSERT_EQ(a.next(), air::Msg::grant);
  EXPECT_EQ(a.grant.grantUs, 2'001u);
  EXPECT_TRUE(a.grant.frames.empty());
}

TEST_F(AirServerTest, AListenerHearsTheLastFrameOfANodeThatLeftBeforeTheAirEnds) {
  Participant vantor(socket(), "vantor", air::Role::listener);
  {
    Participant node(socket(), "node", air::Role::node);
    node.send(1, 1'000, 2'000);
  }
  vantor.wait(0, kNever, kNever, false, 50'000);
  ASSERT_EQ(vantor.next(), air::Msg::grant);
  EXPECT_EQ(vantor.grant.grantUs, 2'000u);  // to the frame's end, not into the answer it may give
  ASSERT_EQ(vantor.grant.frames.size(), 1u);
  EXPECT_EQ(vantor.grant.frames[0].frame.endUs, 2'000u);
  vantor.wait(2'001, kNever, 52'000, false, 50'000);
  EXPECT_EQ(vantor.next(), air::Msg::end);
}

// orvane-air --wait-for names a participant before it comes: a node of that name counts as a
// node once it joins, so the air ends when it has left (a listener in its place would hold the
// run forever).
class AirServerWaitTest : public AirServerTest {
 protected:
  void SetUp() override {
    waitFor_ = {"n1"};
    AirServerTest::SetUp();
  }
};

TEST_F(AirServerWaitTest, ANodeWaitedForByNameIsANode) {
  {
    Participant node(socket(), "n1", air::Role::node);
    node.send(1, 1'000, 2'000);
  }
  thread_.join();  // the run ends once every node has left
  ASSERT_EQ(server_->figures().size(), 1u);
  EXPECT_EQ(server_->figures()[0].role, air::Role::node);
  EXPECT_EQ(server_->figures()[0].framesSent, 1u);
}

}  // namespace
