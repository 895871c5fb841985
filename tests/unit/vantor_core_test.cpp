// The Vantor's decisions on frames the node's own encoders build: provisioning (checked with the
// node's own apply decisions), the counter rules, the settings queue with its answers, attempts and
// expiry, capture reassembly, and the schema's upgrade; on both databases of the store (an SQLite
// file and a PostgreSQL server).
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <string>

#include "node_frames.h"
#include "packet8.h"
#include "packet9.h"
#include "pg_db.h"
#include "rxpacket13.h"
#include "rxpacket14.h"
#include "settings.h"
#include "site_core.h"
#include "sqlite_db.h"
#include "test_servers.h"
#include "uplink_decode.h"
#include "vantor.h"

using namespace testing_support;
using vantor::Answer;
using vantor::Behaviour;
using vantor::Reception;

namespace {

class VantorCore : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    path_ = freshDatabase(GetParam(), "core");
    registry_ = vantor::openStore(path_, true);
    vantor_ = std::make_unique<vantor::Vantor>(*registry_, 7);
  }
  // The database itself, below the store.
  std::unique_ptr<vantor::SqlDb> rawDb() {
    if (GetParam() == Backend::sqlite) return std::make_unique<vantor::SqliteDb>(path_, false);
    return std::make_unique<vantor::PgDb>(path_);
  }

  std::optional<Answer> hear(const Frame& f, Behaviour b = {}) {
    now_ += 1'000'000;
    return vantor_->onFrame(f, Reception{now_, -66.0, 9.5}, b);
  }
  std::string lastVerdict() { return registry_->uplinks(std::nullopt, 1).back().verdict; }
  HMAC::Key keyOf(uint32_t uid) { return vantor::tagKey(registry_->nodeByUid(uid)->key); }

  // Provisions the default chip as identity 1 (assign and confirm) and returns its key.
  HMAC::Key provision() {
    EXPECT_TRUE(hear(packet10(0, 3, chipOf(), kZeroKey)));
    EXPECT_TRUE(hear(packet10(1, 3, chipOf(), keyOf(1))));
    return keyOf(1);
  }
  void queue(uint32_t uid, std::vector<std::string> words, int maxAttempts = 5) {
    vantor::Setting s;
    std::string error;
    ASSERT_TRUE(vantor::parseSetting(words, s, error)) << error;
    registry_->addQueueItem(vantor::queueItem(uid, s, maxAttempts, now_, 3600'000'000ull));
  }

  std::string path_;
  std::unique_ptr<vantor::Store> registry_;
  std::unique_ptr<vantor::Vantor> vantor_;
  uint64_t now_ = 0;
};

TEST(VantorCounter, OrderOfTwentyFourBitCountersWithTheirWrapWindow) {
  struct Case {
    uint32_t counter, last;
    vantor::CounterOrder order;
  } cases[] = {
      {5, 4, vantor::CounterOrder::ahead},
      {4, 4, vantor::CounterOrder::same},
      {3, 4, vantor::CounterOrder::behind},
      {0, 0xFFFFFF, vantor::CounterOrder::ahead},   // the node's counter wrapped
      {0xFFFFFF, 0, vantor::CounterOrder::behind},  // one behind across the wrap
      {4 + 0x7FFFFF, 4, vantor::CounterOrder::ahead},
      {4 + 0x800000, 4, vantor::CounterOrder::behind},  // half the range away counts as behind
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vantor::compareCounter(c.counter, c.last), c.order) << c.counter << " after " << c.last;
  }
}

// The decision step alone, on facts made by hand: no database. A copy of a frame that a second
// Vantor of the registry handles after the node's later frames are in is the same transmission (a
// duplicate) when heard within a second of the accepted one, and a replay when heard later.
TEST(VantorSettingText, ValuesReadAsWrittenWithoutAnExponentWherePlainDigitsDo) {
  const std::pair<float, const char*> cases[] = {
      {600.0f, "600"},     {86400.0f, "86400"},         {0.5f, "0.5"},
      {-0.027f, "-0.027"}, {0.001f, "0.001"},           {1e-7f, "1e-07"},
      {3e9f, "3e+09"},     {123456789.0f, "123456792"}, {21474.83647f, "21474.836"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(vantor::floatText(value), text) << value;
  vantor::Setting s;
  std::string error;
  ASSERT_TRUE(vantor::parseSetting({"sleep", "600", "force-rx"}, s, error)) << error;
  EXPECT_EQ(s.value, "600 force-rx");
}

TEST(VantorDecision, ALateCopyOfTheSameTransmissionIsADuplicateNotAReplay) {
  const vantor::NodeKey nodeKey = vantor::freshKey(3, 1);
  vantor::FrameFacts facts;
  facts.node = vantor::NodeRecord{1, "4433221188776655CCBBAA99", nodeKey, "confirmed", 12, 5'000'000, 2, {}, 600.0};
  facts.acceptedCopyUs = 4'000'000;
  facts.lastCopyUs = 4'000'000;
  const Frame frame = packet3(1, 10, vantor::tagKey(nodeKey));
  struct Case {
    uint64_t heardUs;
    const char* verdict;
  } cases[] = {{4'000'000, vantor::kDuplicate}, {4'999'999, vantor::kDuplicate}, {5'000'000, vantor::kReplay}};
  for (const Case& c : cases) {
    const vantor::Decision d = vantor::decide(frame, Reception{c.heardUs, -70.0, 5.0}, {}, facts, 3);
    EXPECT_EQ(d.writes.uplink.verdict, c.verdict) << c.heardUs;
    EXPECT_FALSE(d.writes.node) << "nothing of the node changes";
    EXPECT_FALSE(d.answer);
  }
}

// Two Vantors of one registry hear each request of a chip; the node repeats its request after
// missing the answer. Each transmission is answered by exactly one of them (two answers collide at
// the node), the repeat too.
TEST_P(VantorCore, EachTransmissionHeardByTwoVantorsIsAnsweredOnce) {
  const std::unique_ptr<vantor::Store> secondStore = vantor::openStore(path_, false);
  vantor::Vantor second(*secondStore, 7);
  const Frame request = packet10(0, 3, chipOf(), kZeroKey);
  const struct {
    uint64_t heardUs;
    const char* verdicts;  // of the first Vantor's copy, then the second's
  } cases[] = {
      {1'000'000, "accepted duplicate"}, {2'600'000, "duplicate duplicate"}, {5'000'000, "duplicate duplicate"}};
  for (const auto& c : cases) {
    const Reception rx{c.heardUs, -80.0, 6.0};
    const bool first = vantor_->onFrame(request, rx, {}).has_value();
    const bool again = second.onFrame(request, rx, {}).has_value();
    EXPECT_TRUE(first) << c.heardUs << ": the repeat is answered, its answer before may have been lost";
    EXPECT_FALSE(again) << c.heardUs << ": the second Vantor answers too";
    const std::vector<vantor::UplinkRecord> two = registry_->uplinks(std::nullopt, 2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].verdict + " " + two[1].verdict, c.verdicts) << c.heardUs;
  }
}

TEST_P(VantorCore, ProvisioningAssignsThenConfirmsAsTheNodeItselfChecks) {
  const LoRaPacket10::StUid chip = chipOf();
  const std::optional<Answer> assign = hear(packet10(0, 3, chip, kZeroKey));
  ASSERT_TRUE(assign);
  EXPECT_EQ(assign->windowMs, 10000u);
  // The node's own checks: tagged with the zero key it holds, for this chip, identity 1.
  LoRaRXPacket13::Payload p{};
  ASSERT_EQ(LoRaRXPacket13::decodeWithKey(p, assign->frame.data(), assign->frame.size(), kZeroKey),
            LoRaRXPacket13::DecodeFail::None);
  FlashConfig config;
  ASSERT_TRUE(LoRaRXPacket13::applyAssignTo(p, chip, config, [](FlashConfig& c) {
    c.magic = FlashConfig::MAGIC;
    c.version = FlashConfig::VERSION;
    return true;
  }));
  EXPECT_EQ(config.uid.toU24(), 1u);
  EXPECT_EQ(config.hmacKey, vantor_->keyFor(1));
  EXPECT_EQ(registry_->nodeByUid(1)->state, "assigned");
  EXPECT_EQ(registry_->nodeByUid(1)->chipId, "4433221188776655CCBBAA99");

  // The node asks again under its new identity and key: confirmed.
  const std::optional<Answer> confirm = hear(packet10(1, 3, chip, HMAC::keyFor(config)));
  ASSERT_TRUE(confirm);
  ASSERT_EQ(LoRaRXPacket13::decodeWithKey(p, confirm->frame.data(), confirm->frame.size(), HMAC::keyFor(config)),
            LoRaRXPacket13::DecodeFail::None);
  EXPECT_TRUE(LoRaRXPacket13::applyConfirmTo(p, chip, config));
  EXPECT_EQ(registry_->nodeByUid(1)->state, "confirmed");

  // A second chip gets the next identity and another key.
  ASSERT_TRUE(hear(packet10(0, 0, chipOf(1, 2, 3), kZeroKey)));
  ASSERT_TRUE(registry_->nodeByUid(2));
  EXPECT_NE(registry_->nodeByUid(2)->key, registry_->nodeByUid(1)->key);
}

// A node whose confirm never came through goes on with the key it was assigned; the first frame
// that verifies under that key shows it holds it. A frame that fails the tag shows nothing.
TEST_P(VantorCore, AnAssignedNodeIsConfirmedByItsFirstFrameUnderItsKey) {
  ASSERT_TRUE(hear(packet10(0, 3, chipOf(), kZeroKey)));
  ASSERT_FALSE(hear(packet3(1, 4, kZeroKey)));
  EXPECT_EQ(lastVerdict(), vantor::kBadTag);
  EXPECT_EQ(registry_->nodeByUid(1)->state, "assigned");
  ASSERT_FALSE(hear(packet3(1, 4, keyOf(1))));
  EXPECT_EQ(lastVerdict(), vantor::kAccepted);
  EXPECT_EQ(registry_->nodeByUid(1)->state, "confirmed");
}

TEST_P(VantorCore, AKnownChipAskingUnderTheZeroKeyGetsItsIdentityAndKeyAgain) {
  const HMAC::Key key = provision();
  ASSERT_FALSE(hear(packet3(1, 40, key)));
  const std::optional<Answer> again = hear(packet10(0, 2, chipOf(), kZeroKey));  // after "unprovision"
  ASSERT_TRUE(again);
  LoRaRXPacket13::Payload p{};
  ASSERT_EQ(LoRaRXPacket13::decodeWithKey(p, again->frame.data(), again->frame.size(), kZeroKey),
            LoRaRXPacket13::DecodeFail::None);
  EXPECT_EQ(p.provisionedUid[0].toU24(), 1u);
  EXPECT_EQ(p.hmacKey[0], vantor_->keyFor(1));
  EXPECT_EQ(registry_->nodes().size(), 1u);
  EXPECT_EQ(registry_->nodeByUid(1)->state, "assigned");
  // Its counters start over with the new provisioning.
  EXPECT_FALSE(registry_->nodeByUid(1)->lastCounter);
}

TEST_P(VantorCore, ARepeatedRequestIsADuplicateAndStillAnswered) {
  ASSERT_TRUE(hear(packet10(0, 3, chipOf(), kZeroKey)));
  const std::optional<Answer> again = hear(packet10(0, 3, chipOf(), kZeroKey));
  ASSERT_TRUE(again);  // the first answer may have been lost
  EXPECT_EQ(lastVerdict(), vantor::kDuplicate);
  EXPECT_EQ(registry_->nodes().size(), 1u);
}

TEST_P(VantorCore, CounterRulesRecordEveryFrameAndActOnlyOnNewOnes) {
  const HMAC::Key key = provision();
  queue(1, {"dbg1"});
  struct Step {
    const char* name;
    Frame frame;
    const char* verdict;
    bool answered;
  } steps[] = {
      {"a cycle", packet3(1, 10, key), vantor::kAccepted, false},
      {"the same counter, another frame", packet3(1, 10, key, false, 21), vantor::kAccepted, false},
      {"the same frame again", packet3(1, 10, key), vantor::kDuplicate, false},
      {"a window announced behind the last counter", packet3(1, 9, key, true), vantor::kReplay, false},
      {"a window under another key", packet3(1, 11, vantor::tagKey(vantor_->keyFor(9)), true), vantor::kBadTag, false},
      {"an identity never assigned", packet3(0x42, 11, kZeroKey), vantor::kUnregistered, false},
      {"a window announced ahead", packet3(1, 11, key, true), vantor::kAccepted, true},
      {"that frame replayed", packet3(1, 11, key, true), vantor::kDuplicate, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(hear(s.frame).has_value(), s.answered);
    EXPECT_EQ(lastVerdict(), s.verdict);
  }
  EXPECT_EQ(*registry_->nodeByUid(1)->lastCounter, 11u);
  EXPECT_EQ(registry_->uplinks(std::nullopt, 100).size(), 2 + std::size(steps));
}

TEST_P(VantorCore, TelemetryIsStoredInPhysicalUnitsAtTheFieldsResolution) {
  const HMAC::Key key = provision();
  hear(packet3(1, 10, key, true, 20.0f, 3.3f, 0.456f, 1.2345f));
  const nlohmann::json f = registry_->lastTelemetry(1)->fields;
  // 20 degC -> 135 -> 20; 3.3 V -> 160 -> 3.3; PF 0.456 -> 46 -> 0.46; 1.2345 A -> 1234 mA.
  EXPECT_DOUBLE_EQ(f["temperature_c"].get<double>(), 20.0);
  EXPECT_DOUBLE_EQ(f["supply_v"].get<double>(), 3.3);
  EXPECT_DOUBLE_EQ(f["power_factor"].get<double>(), 0.46);
  EXPECT_DOUBLE_EQ(f["current_a"].get<double>(), 1.234);
  EXPECT_TRUE(f["listen"].get<bool>());
}

// Found by the Vantor's fuzz target: build texts that are not UTF-8 made every write of the frame's
// record throw. They are stored escaped, byte for byte.
TEST_P(VantorCore, BuildTextsThatAreNotUtf8AreStoredEscaped) {
  const HMAC::Key key = provision();
  const LoRaPacket8::Payload p = LoRaPacket8::makePayloadWithBuild(
      LoRaPacketCounterU24::fromU32(11), uidOf(1), {1, 2, 3}, 0.0f, 1.0f, ClampMapping{}, "ab\xff\x01\\", "t\xc3");
  ASSERT_NO_THROW(hear(bytesOf(LoRaPacket8::encode(p, key))));
  const vantor::UplinkRecord u = registry_->uplinks(std::nullopt, 1).back();
  EXPECT_EQ(u.code, 8);
  EXPECT_EQ(u.fields["git_revision"].get<std::string>(), "ab\\xFF\\x01\\x5C");
  EXPECT_EQ(u.fields["build_timestamp"].get<std::string>(), "t\\xC3");
}

TEST_P(VantorCore, SettingsGoOneAWindowAndTheAnswersCloseThem) {
  const HMAC::Key key = provision();
  queue(1, {"phase", "0.25"});
  queue(1, {"tx-power", "9"});
  FlashConfig config;
  config.uid = uidOf(1);
  LoRaRXPacket14::Target target{config, 14};

  const std::optional<Answer> first = hear(packet3(1, 10, key, true));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->windowMs, 500u);
  LoRaRXPacket14::Payload p{};
  ASSERT_TRUE(LoRaRXPacket14::decodeWithKey(p, first->frame.data(), first->frame.size(), key));
  EXPECT_EQ(p.packetCounter.toU32(), 3u);  // above the two packets 13
  EXPECT_EQ(LoRaRXPacket14::applyDecodedTo(p, target, [](FlashConfig&) { return true; }),
            LoRaRXPacket14::ApplyOutcome::Applied);
  EXPECT_EQ(config.inductive50HzPhaseCorrection, 0.25f);
  EXPECT_EQ(registry_->queue(1)[0].state, "sent");

  // The acknowledgement closes the first and opens the extra window for the second.
  const std::optional<Answer> second = hear(packet17(1, 11, key, true, LoRaPacket17::Reason::Applied));
  ASSERT_TRUE(second);
  ASSERT_TRUE(LoRaRXPacket14::decodeWithKey(p, second->frame.data(), second->frame.size(), key));
  EXPECT_EQ(p.packetCounter.toU32(), 4u);
  EXPECT_EQ(LoRaRXPacket14::applyDecodedTo(p, target, [](FlashConfig&) { return true; }),
            LoRaRXPacket14::ApplyOutcome::Applied);
  EXPECT_EQ(target.txPowerDbm, 9);
  EXPECT_FALSE(hear(packet17(1, 12, key, false, LoRaPacket17::Reason::RejectedValue)));

  const auto items = registry_->queue(1);
  EXPECT_EQ(items[0].state, "done");
  EXPECT_EQ(items[0].reason, "Applied");
  EXPECT_EQ(items[1].state, "failed");
  EXPECT_EQ(items[1].reason, "RejectedValue");
}

TEST_P(VantorCore, AnUnansweredSettingIsSentAgainUntilItsAttemptsRunOut) {
  const HMAC::Key key = provision();
  queue(1, {"debug-rate", "10"}, 2);
  uint32_t counter = 10;
  ASSERT_TRUE(hear(packet3(1, counter++, key, true)));
  ASSERT_TRUE(hear(packet3(1, counter++, key, true)));  // no answer came: again, with a new counter
  EXPECT_EQ(registry_->queue(1)[0].attempts, 2);
  EXPECT_EQ(*registry_->queue(1)[0].downlinkCounter, 4u);
  EXPECT_FALSE(hear(packet3(1, counter++, key, true)));
  EXPECT_EQ(registry_->queue(1)[0].state, "expired");
}

// A port that could not send an answer (a gateway's TOO_LATE) hands it back: the attempt is not
// counted, the reason stays on the item, and it goes again at the next window; a refusal that comes
// after the item went again (another downlink counter) changes nothing.
TEST_P(VantorCore, ARefusedSendIsNotCountedAndGoesAgainAtTheNextWindow) {
  const HMAC::Key key = provision();
  queue(1, {"debug-rate", "10"}, 1);
  std::vector<vantor::Stored> seen;
  vantor_->outputs().onCommitted([&](const vantor::Stored& s) { seen.push_back(s); });
  const std::optional<Answer> first = vantor_->heard({packet3(1, 10, key, true), Reception{now_ += 1'000'000}});
  ASSERT_TRUE(first);
  EXPECT_EQ(first->delayUs, vantor::kAnswerDelayUs);
  vantor_->refused(*first, "TOO_LATE via gateway 0102030405060708");
  vantor::QueueItem item = registry_->queue(1)[0];
  EXPECT_EQ(item.state, "pending");
  EXPECT_EQ(item.attempts, 0);
  EXPECT_EQ(item.lastError, "TOO_LATE via gateway 0102030405060708");
  ASSERT_EQ(seen.size(), 2u);  // the frame, then the item handed back
  ASSERT_EQ(seen[1].items.size(), 1u);
  EXPECT_EQ(seen[1].items[0].state, "pending");
  // One attempt allowed, none used: it goes again, at the delay the port asks for.
  vantor::HeardFrame again{packet3(1, 11, key, true), Reception{now_ += 1'000'000}};
  again.soonestAnswerUs = 300'000;
  const std::optional<Answer> second = vantor_->heard(again);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->delayUs, 300'000u);
  EXPECT_EQ(second->itemId, item.id);
  EXPECT_GT(second->downlinkCounter, first->downlinkCounter);
  vantor_->refused(*first, "NO_TX_ACK via gateway 0102030405060708");  // late: it went again already
  item = registry_->queue(1)[0];
  EXPECT_EQ(item.state, "sent");
  EXPECT_EQ(item.attempts, 1);
}

TEST_P(VantorCore, ASettingPastItsExpiryIsNotSent) {
  const HMAC::Key key = provision();
  queue(1, {"dbg1"});
  now_ += 3601'000'000ull;
  EXPECT_FALSE(hear(packet3(1, 10, key, true)));
  EXPECT_EQ(registry_->queue(1)[0].state, "expired");
  EXPECT_EQ(registry_->queue(1)[0].attempts, 0);
}

TEST_P(VantorCore, ReplayAndSilenceChangeWhatIsSent) {
  const HMAC::Key key = provision();
  queue(1, {"dbg1"});
  queue(1, {"debug-rate", "5"});
  const std::optional<Answer> sent = hear(packet3(1, 10, key, true));
  ASSERT_TRUE(sent);
  const std::optional<Answer> replayed = hear(packet3(1, 11, key, true), Behaviour{false, true});
  ASSERT_TRUE(replayed);
  EXPECT_EQ(replayed->frame, sent->frame);  // the same frame, its counter already used
  EXPECT_EQ(registry_->queue(1)[0].attempts, 1);

  EXPECT_FALSE(hear(packet3(1, 12, key, true), Behaviour{true, false}));
  EXPECT_FALSE(hear(packet10(0, 0, chipOf(5, 6, 7), kZeroKey), Behaviour{true, false}));
  EXPECT_EQ(registry_->nodes().size(), 1u);  // nothing assigned while silent
  EXPECT_EQ(registry_->queue(1)[1].state, "pending");
}

// What a store holds, row by row, in text (ids included: a batch must not skip or reorder any).
std::vector<std::string> rowsOf(vantor::Store& store) {
  std::vector<std::string> rows;
  for (const vantor::UplinkRecord& u : store.uplinks(std::nullopt, 1000)) {
    rows.push_back("uplink " + std::to_string(u.id) + " t" + std::to_string(u.tUs) + " uid" + std::to_string(u.uid) +
                   " code" + std::to_string(u.code) + " " + u.verdict + " " + u.hex + " " + u.fields.dump());
  }
  for (const vantor::NodeRecord& n : store.nodes()) {
    rows.push_back("node " + std::to_string(n.uid) + " " + n.chipId + " " + n.state + " counter" +
                   std::to_string(n.lastCounter.value_or(0)) + " down" + std::to_string(n.downlinkCounter));
    for (const vantor::QueueItem& q : store.queue(n.uid)) {
      rows.push_back("item " + std::to_string(q.id) + " " + q.setting + " " + q.state + " attempts" +
                     std::to_string(q.attempts) + " down" + std::to_string(q.downlinkCounter.value_or(0)));
    }
  }
  return rows;
}

std::string answerText(const std::optional<Answer>& a) {
  if (!a) return "none";
  std::string text = a->what + " after " + std::to_string(a->delayUs) + " item " +
                     std::to_string(a->itemId.value_or(0)) + " down " + std::to_string(a->downlinkCounter) + ":";
  for (uint8_t b : a->frame) text += " " + std::to_string(b);
  return text;
}

// The frames a port had waiting, stored in one transaction, come out exactly as one transaction
// each: a later frame sees what an earlier one of the batch wrote (the node it was assigned, the
// counter it moved, the setting it sent), and the outputs get each frame's record, in order.
TEST_P(VantorCore, FramesInOneTransactionStoreAndAnswerAsOneAtATime) {
  const HMAC::Key key = provision();
  queue(1, {"dbg1"});
  const HMAC::Key key2 = vantor::tagKey(vantor_->keyFor(2));
  const LoRaPacket10::StUid chip2 = chipOf(5, 6, 7);
  struct Heard {
    Frame frame;
    Behaviour behaviour;
  } heard[] = {
      {packet10(0, 3, chip2, kZeroKey), {}},       // assigned identity 2
      {packet10(2, 3, chip2, key2), {}},           // confirmed by its first frame under its key
      {packet3(2, 4, key2), {}},                   // the counter it moved is the one checked here
      {packet3(1, 10, key), {}},                   // accepted
      {packet3(1, 10, key), {}},                   // another receiver's copy: a duplicate
      {packet3(1, 9, key, true), {}},              // behind the last counter: a replay
      {packet3(1, 11, key, true), {}},             // a window: the setting goes
      {packet3(1, 11, key, true), {}},             // that frame again
      {packet3(1, 12, key, true), {false, true}},  // the replay fault: the same packet 14 again
      {packet3(0x42, 11, kZeroKey), {}},           // never assigned
  };
  std::vector<vantor::HeardFrame> frames;
  for (const Heard& h : heard) {
    now_ += 1'000'000;
    frames.push_back(vantor::HeardFrame{h.frame, Reception{now_, -66.0, 9.5}, 80'000, h.behaviour});
  }

  // The same history on a second database, then the batch's frames one at a time there.
  const std::string alonePath = freshDatabase(GetParam(), "core_alone");
  std::unique_ptr<vantor::Store> aloneStore = vantor::openStore(alonePath, true);
  vantor::Vantor alone(*aloneStore, 7);
  uint64_t t = 0;
  for (const Frame& f : {packet10(0, 3, chipOf(), kZeroKey), packet10(1, 3, chipOf(), key)}) {
    t += 1'000'000;
    alone.onFrame(f, Reception{t, -66.0, 9.5}, {});
  }
  vantor::Setting s;
  std::string error;
  ASSERT_TRUE(vantor::parseSetting({"dbg1"}, s, error)) << error;
  aloneStore->addQueueItem(vantor::queueItem(1, s, 5, t, 3600'000'000ull));

  std::vector<std::string> committedBatch, committedAlone;
  const auto record = [](std::vector<std::string>& into) {
    return [&into](const vantor::Stored& st) { into.push_back(st.uplink ? st.uplink->verdict : "-"); };
  };
  vantor_->outputs().onCommitted(record(committedBatch));
  alone.outputs().onCommitted(record(committedAlone));

  const std::vector<std::optional<Answer>> batch = vantor_->heardAll(frames);
  ASSERT_EQ(batch.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(answerText(batch[i]), answerText(alone.heard(frames[i])));
  }
  EXPECT_EQ(rowsOf(*registry_), rowsOf(*aloneStore));
  EXPECT_EQ(committedBatch, committedAlone);
  const std::vector<std::string> verdicts = {
      vantor::kAccepted, vantor::kAccepted, vantor::kAccepted,  vantor::kAccepted, vantor::kDuplicate,
      vantor::kReplay,   vantor::kAccepted, vantor::kDuplicate, vantor::kAccepted, vantor::kUnregistered};
  EXPECT_EQ(committedBatch, verdicts);
  EXPECT_TRUE(batch[0] && batch[1] && batch[6] && batch[8]);
  EXPECT_EQ(batch[8]->frame, batch[6]->frame);  // replayed as sent
}

// The site's profile is queued at the answer that assigns an identity: a batch ends its transaction
// there, so the node's window later in the same batch gets the profile's setting, as it would one
// frame at a time.
TEST_P(VantorCore, ABatchSeesTheProfileQueuedByItsOwnAssign) {
  vantor::SiteCore site(*vantor_, {{"dbg1"}});
  const HMAC::Key key = vantor::tagKey(vantor_->keyFor(1));
  std::vector<vantor::HeardFrame> frames;
  for (const Frame& f : {packet10(0, 3, chipOf(), kZeroKey), packet10(1, 3, chipOf(), key), packet3(1, 4, key, true)}) {
    now_ += 1'000'000;
    frames.push_back(vantor::HeardFrame{f, Reception{now_, -66.0, 9.5}, 0, {}});
  }
  const std::vector<std::optional<Answer>> answers = site.heardAll(frames);
  ASSERT_EQ(answers.size(), 3u);
  ASSERT_TRUE(answers[0] && answers[1] && answers[2]);
  EXPECT_EQ(answers[0]->what, "assign");
  EXPECT_EQ(answers[1]->what, "confirm");
  EXPECT_TRUE(answers[2]->itemId) << answers[2]->what;  // the profile's setting went
  ASSERT_EQ(registry_->queue(1).size(), 1u);            // queued once, not again at the confirm
  EXPECT_EQ(registry_->queue(1)[0].state, "sent");
}

TEST_P(VantorCore, CaptureFramesReassembleInAnyOrderIntoTheRowsSent) {
  const HMAC::Key key = provision();
  std::vector<Row> rows;
  for (int i = 0; i < 231; ++i) {
    rows.push_back(Row{static_cast<int16_t>(i * 20 - 2300), 0, static_cast<int16_t>(4095 - i),
                       static_cast<int16_t>(i * 19 - 100)});
  }
  std::vector<Frame> frames;
  ASSERT_TRUE(
      LoRaPacket4::encodeCaptureSeries(uidOf(1), LoRaPacketCounterU24::fromU32(10), rows.data(), rows.size(), key,
                                       [&](const auto&, const LoRaFrameBuffer& f) { frames.push_back(bytesOf(f)); }));
  ASSERT_EQ(frames.size(), 3u);
  hear(frames[2]);
  hear(frames[0]);
  EXPECT_FALSE(registry_->lastCompleteCapture(1));
  hear(frames[0]);  // the same frame again changes nothing
  EXPECT_EQ(lastVerdict(), vantor::kDuplicate);
  hear(frames[1]);
  const auto capture = registry_->lastCompleteCapture(1);
  ASSERT_TRUE(capture);
  const auto got = registry_->captureRows(capture->id);
  ASSERT_EQ(got.size(), 231u);
  for (int i = 0; i < 231; ++i) {
    // Packet 4: clamp value clamped to 12 bits signed, inductive value to 0..4095.
    const int b = std::clamp(i * 20 - 2300, -2048, 2047);
    const int e = std::clamp(i * 19 - 100, 0, 4095);
    EXPECT_EQ(got[i].row, i);
    EXPECT_EQ(got[i].bField, b) << i;
    EXPECT_EQ(got[i].eFieldInd, e) << i;
    EXPECT_FALSE(got[i].eFieldCap);
  }
}

TEST_P(VantorCore, AVersionOneFileIsUpgradedKeepingItsNodes) {
  provision();
  registry_.reset();
  {
    // Back to version 1 as it was: nodes without their expected interval and calibration, no MQTT
    // tables, uplinks without their port and receiver, no gateways, no calibrations.
    const std::unique_ptr<vantor::SqlDb> db = rawDb();
    db->script(
        "ALTER TABLE nodes DROP COLUMN expected_interval_s; DROP TABLE outbox; DROP TABLE commands;"
        "ALTER TABLE uplinks DROP COLUMN port; ALTER TABLE uplinks DROP COLUMN receiver;"
        "ALTER TABLE uplinks DROP COLUMN tmst; ALTER TABLE uplinks DROP COLUMN rx_time;"
        "ALTER TABLE queue DROP COLUMN last_error; DROP TABLE gateways");
    db->script("DROP TABLE calibrations");
    for (const char* c : {"us", "pf", "leading", "rad", "spread_rad", "readings"}) {
      db->script(std::string("ALTER TABLE nodes DROP COLUMN calibrated_") + c);
    }
    db->setSchemaVersion(1);
  }
  const std::unique_ptr<vantor::Store> upgraded = vantor::openStore(path_, false);
  EXPECT_EQ(upgraded->schemaVersion(), vantor::Store::kSchemaVersion);
  ASSERT_TRUE(upgraded->nodeByUid(1));
  EXPECT_EQ(upgraded->nodeByUid(1)->state, "confirmed");
  EXPECT_EQ(upgraded->nodeByUid(1)->expectedIntervalS, 600.0);
  EXPECT_TRUE(upgraded->outbox("vantor", 0, 10).empty());
  EXPECT_TRUE(upgraded->gateways().empty());
  ASSERT_FALSE(upgraded->uplinks(1, 1).empty());
  EXPECT_EQ(upgraded->uplinks(1, 1)[0].receiver, "");
  EXPECT_FALSE(upgraded->nodeByUid(1)->calibration);
  EXPECT_FALSE(upgraded->latestCalibration(1));
}

TEST_P(VantorCore, AFileOfANewerSchemaIsRefused) {
  registry_.reset();
  rawDb()->setSchemaVersion(99);
  EXPECT_THROW(vantor::openStore(path_, false), vantor::DbError);
}

INSTANTIATE_TEST_SUITE_P(Databases, VantorCore, ::testing::Values(Backend::sqlite, Backend::postgresql),
                         [](const ::testing::TestParamInfo<Backend>& p) { return backendName(p.param); });

}  // namespace
