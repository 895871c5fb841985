// The Vantor's radio on the simulated medium: its answer lands in the node's own receive window
// (the node's radio code receives it), channel sensing delays it as the node's rule says, the faults
// change when and what it sends, and it hears nothing while it transmits.
#include <memory>

#include "node_frames.h"
#include "radio_fixture.h"
#include "rxpacket14.h"
#include "settings.h"
#include "sim_endpoint.h"
#include "vantor.h"

using namespace testing_support;

namespace {

constexpr uint64_t kMs = 1000;

class VantorEndpoint : public RadioTest {
 protected:
  void start(std::vector<vantor::Fault> faults = {}) {
    registry_ = vantor::openStore(":memory:", true);
    vantor_ = std::make_unique<vantor::Vantor>(*registry_, 11);
    endpoint_ = std::make_unique<vantor::SimEndpoint>(
        medium(), [] { return sim::board().nowUs(); }, *vantor_, vantor::FaultPlan(std::move(faults)), 11);
    sim::board().addDevice(endpoint_.get());
    // Node 1, provisioned, with one setting queued.
    vantor_->onFrame(packet10(0, 1, chipOf(), kZeroKey), {nowUs()}, {});
    key_ = vantor::tagKey(registry_->nodeByUid(1)->key);
    vantor_->onFrame(packet10(1, 1, chipOf(), key_), {nowUs()}, {});
    vantor::Setting s;
    std::string error;
    ASSERT_TRUE(vantor::parseSetting({"tx-power", "9"}, s, error));
    registry_->addQueueItem(vantor::queueItem(1, s, 5, 0, 3600'000'000ull));
  }
  void TearDown() override {
    endpoint_.reset();  // off the medium before the board goes
  }
  // A frame from the node, put on the air now; returns its end.
  uint64_t nodeSends(const Frame& bytes) {
    sim::AirFrame f;
    f.sender = "node";
    f.bytes = bytes;
    f.startUs = nowUs();
    f.endUs = f.startUs + f.air.timeOnAirUs(bytes.size());
    medium().transmit(f);
    return f.endUs;
  }
  std::vector<sim::AirFrame> vantorFrames() {
    std::vector<sim::AirFrame> out;
    for (const sim::AirFrame& f : medium().history()) {
      if (f.sender == "vantor") out.push_back(f);
    }
    return out;
  }

  std::unique_ptr<vantor::Store> registry_;
  std::unique_ptr<vantor::Vantor> vantor_;
  std::unique_ptr<vantor::SimEndpoint> endpoint_;
  HMAC::Key key_{};
};

Frame gReceived;
void keepFrame(const uint8_t* data, uint8_t len, void*) { gReceived.assign(data, data + len); }

TEST_F(VantorEndpoint, TheAnswerToPacket5LandsInTheNodesWindow) {
  start();
  radioOn();
  llcc68HandlerInstance().setRxCallback(keepFrame, nullptr);
  gReceived.clear();
  const Frame p5 = packet3(1, 2, key_, true);
  lora_send(p5.data(), static_cast<uint8_t>(p5.size()));
  const LoraListenResult r = lora_listen(500);
  ASSERT_TRUE(r.gotFrame()) << r.label();
  LoRaRXPacket14::Payload p{};
  ASSERT_TRUE(LoRaRXPacket14::decodeWithKey(p, gReceived.data(), gReceived.size(), key_));
  EXPECT_EQ(p.opcode, LoRaRXPacket14::Op::SET_TxPowerDbm);
  EXPECT_EQ(p.args[0], 9u);
  // 50 ms after the end of packet 5, then five channel samples 1 ms apart.
  const sim::AirFrame node = nodeFrames().back();
  ASSERT_EQ(vantorFrames().size(), 1u);
  EXPECT_EQ(vantorFrames()[0].startUs, node.endUs + 54 * kMs);
  EXPECT_EQ(vantorFrames()[0].powerDbm, 14);
}

TEST_F(VantorEndpoint, ABusyChannelDelaysTheAnswerByTheBackoffsThenItGoesRegardless) {
  start();
  medium().setInterferer(sim::Interferer{-80.0, 0, 0, true});
  const uint64_t end = nodeSends(packet3(1, 2, key_, true));
  runFor(8000 * kMs);
  ASSERT_EQ(vantorFrames().size(), 1u);
  // 51 rounds of five samples (4 ms) and a backoff of 119 ms, then sent without sensing.
  EXPECT_EQ(vantorFrames()[0].startUs, end + 50 * kMs + 51 * (4 + 119) * kMs);
}

TEST_F(VantorEndpoint, FaultsChangeWhenAndWhatIsSent) {
  struct Case {
    const char* name;
    vantor::FaultKind kind;
    bool sent;
    uint64_t delayUs;  // from the end of packet 5 to the start of the answer
    int bitsFlipped;
  } cases[] = {
      {"late: after the 500 ms window and 200 ms more", vantor::FaultKind::late, true, (500 + 200 + 4) * kMs, 0},
      {"corrupt: one bit flipped", vantor::FaultKind::corrupt, true, 54 * kMs, 1},
      {"silent", vantor::FaultKind::silent, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    start({vantor::Fault{c.kind, 0, UINT64_MAX}});
    const uint64_t end = nodeSends(packet3(1, 2, key_, true));
    runFor(2000 * kMs);
    ASSERT_EQ(vantorFrames().size(), c.sent ? 1u : 0u);
    if (!c.sent) {
      EXPECT_EQ(registry_->queue(1)[0].state, "pending");
      continue;
    }
    EXPECT_EQ(vantorFrames()[0].startUs, end + c.delayUs);
    const std::vector<uint8_t> clean = registry_->nodeByUid(1)->lastDownlink;
    const std::vector<uint8_t> sent = vantorFrames()[0].bytes;
    ASSERT_EQ(sent.size(), clean.size());
    int flipped = 0;
    for (size_t i = 0; i < sent.size(); ++i) flipped += std::popcount(static_cast<unsigned>(sent[i] ^ clean[i]));
    EXPECT_EQ(flipped, c.bitsFlipped);
  }
}

TEST_F(VantorEndpoint, AFaultHoldsOnlyWithinItsSpan) {
  start({vantor::Fault{vantor::FaultKind::silent, 0, 3000}});
  nodeSends(packet3(1, 2, key_, true));  // ends inside the span: silence
  runFor(3000 * kMs);
  EXPECT_EQ(vantorFrames().size(), 0u);
  nodeSends(packet3(1, 3, key_, true));
  runFor(1000 * kMs);
  EXPECT_EQ(vantorFrames().size(), 1u);
}

TEST_F(VantorEndpoint, NothingIsHeardWhileTransmittingNorWithABadCrc) {
  start();
  const size_t before = registry_->uplinks(std::nullopt, 100).size();
  nodeSends(packet3(1, 2, key_, true));
  runFor(120 * kMs);  // 52 ms of packet 5, 54 ms until the answer: it is on the air now
  ASSERT_EQ(vantorFrames().size(), 1u);
  nodeSends(packet3(1, 3, key_));
  runFor(500 * kMs);
  sim::AirFrame bad;
  bad.sender = "node";
  bad.bytes = packet3(1, 4, key_);
  bad.startUs = nowUs();
  bad.endUs = bad.startUs + bad.air.timeOnAirUs(bad.bytes.size());
  bad.crcError = true;
  medium().transmit(bad);
  runFor(500 * kMs);
  EXPECT_EQ(registry_->uplinks(std::nullopt, 100).size(), before + 1);  // packet 5 only
}

}  // namespace
