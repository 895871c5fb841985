// Argument grammar of the shell's commands: argument text in, exact reply out; a refused
// command stores nothing and arms nothing, and a busy shell keeps the action armed first.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DemoShell.h"
#include "DemoShellBoard.h"
#include "DemoShellSample.h"
#include "SerialSetters.h"
#include "gstate.h"
#include "test_board.h"

namespace {

using testing_support::freshBoard;
using testing_support::takeOutput;

constexpr uint32_t kSentinel = 777;

struct Case {
  SCU::CommandHandler handler;
  std::string args;
  std::string reply;  // without the line end added by the console (a text ending in LF gets CR)
  Pending armed;
};

class ShellGrammar : public ::testing::Test {
 protected:
  void SetUp() override {
    freshBoard();
    takeOutput();
    clearArguments();
  }
  // Distinct values that no accepted command of these tables stores.
  static void clearArguments() {
    gPending = Pending::none;
    gSampleMode = SampleMode::lp;
    gRepeatCount = gRepeatPeriodSec = kSentinel;
    gDbg1OnMs = gDbg1OffMs = gDbg1TotalMs = kSentinel;
  }
  static std::string run(SCU::CommandHandler handler, const std::string& args) {
    handler(args.c_str());
    return takeOutput();
  }
  static void expectNothingStored(const std::string& what) {
    EXPECT_EQ(gSampleMode, SampleMode::lp) << what;
    EXPECT_EQ(gRepeatCount, kSentinel) << what;
    EXPECT_EQ(gRepeatPeriodSec, kSentinel) << what;
    EXPECT_EQ(gDbg1OnMs, kSentinel) << what;
    EXPECT_EQ(gDbg1OffMs, kSentinel) << what;
    EXPECT_EQ(gDbg1TotalMs, kSentinel) << what;
  }
  void runTable(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      clearArguments();
      GState::make();
      const FlashConfig before = gstate().config;
      const bool endsInLf = !c.reply.empty() && c.reply.back() == '\n';
      EXPECT_EQ(run(c.handler, c.args), c.reply + (endsInLf ? "\r" : "\r\n")) << "args: '" << c.args << "'";
      EXPECT_EQ(gPending, c.armed) << "args: '" << c.args << "'";
      if (c.reply.rfind("err: ", 0) == 0) {
        expectNothingStored(c.args);
        EXPECT_EQ(std::memcmp(&before, &gstate().config, sizeof before), 0) << "config changed by '" << c.args << "'";
      }
    }
  }
};

const std::string kLongNumber = std::string(30, '0') + "51";  // cut after 31 characters: "0..05" then "1"

TEST_F(ShellGrammar, Sample) {
  const char* kTakes = "err: sample takes full|hp|lp (or nothing for full)";
  runTable({
      {cmdSample, "", "ok: sample full", Pending::sample},
      {cmdSample, "  \t ", "ok: sample full", Pending::sample},
      {cmdSample, " full ", "ok: sample full", Pending::sample},
      {cmdSample, "hp", "ok: sample hp", Pending::sample},
      {cmdSample, "\"hp\"", "ok: sample hp", Pending::sample},
      {cmdSample, "lp", "err: sample lp not available (enableLP is false)", Pending::none},
      {cmdSample, "HP", kTakes, Pending::none},
      {cmdSample, "hp x", kTakes, Pending::none},
      {cmdSample, "hp,", kTakes, Pending::none},
      {cmdSample, "fast", kTakes, Pending::none},
      {cmdSample, "-1", kTakes, Pending::none},
      {cmdSample, std::string(40, 'h'), kTakes, Pending::none},
  });
}

TEST_F(ShellGrammar, SampleStoresTheMode) {
  run(cmdSample, "hp");
  EXPECT_EQ(gSampleMode, SampleMode::hp);
  clearArguments();
  run(cmdSample, "");
  EXPECT_EQ(gSampleMode, SampleMode::full);
}

TEST_F(ShellGrammar, Every) {
  const char* kNeeds = "err: every needs <n> <sec>";
  const char* kCount = "err: every <n> must be 1..10000";
  const char* kPeriod = "err: every <sec> must be 1..3600 (and must be present)";
  runTable({
      {cmdEvery, "3 2", "ok: every 3 2 (mode stays as last 'sample')", Pending::sampleRepeat},
      {cmdEvery, " 10000  8 ", "ok: every 10000 8 (mode stays as last 'sample')", Pending::sampleRepeat},
      {cmdEvery, "24 3600", "ok: every 24 3600 (mode stays as last 'sample')", Pending::sampleRepeat},
      {cmdEvery, "100 865", "err: every would run 86500 s; max total is 86400 s (reduce n or sec)", Pending::none},
      {cmdEvery, "10000 3600", "err: every would run 36000000 s; max total is 86400 s (reduce n or sec)",
       Pending::none},
      {cmdEvery, "", kNeeds, Pending::none},
      {cmdEvery, "   ", kNeeds, Pending::none},
      {cmdEvery, "-5 3", kNeeds, Pending::none},
      {cmdEvery, "0 5", kCount, Pending::none},
      {cmdEvery, "10001 1", kCount, Pending::none},
      {cmdEvery, "x 5", kCount, Pending::none},
      {cmdEvery, "5x 5", kCount, Pending::none},
      {cmdEvery, "99999999999999999999 1", kCount, Pending::none},
      {cmdEvery, kLongNumber, kCount, Pending::none},
      // A quoted count is a whole token: what follows its closing quote is the period.
      {cmdEvery, "\"5\"3", "ok: every 5 3 (mode stays as last 'sample')", Pending::sampleRepeat},
      {cmdEvery, "\"5\"7 10", kPeriod, Pending::none},
      {cmdEvery, "5", kPeriod, Pending::none},
      {cmdEvery, "5 0", kPeriod, Pending::none},
      {cmdEvery, "5 3601", kPeriod, Pending::none},
      {cmdEvery, "5 3 1", kPeriod, Pending::none},
      {cmdEvery, "5 3x", kPeriod, Pending::none},
      {cmdEvery, "5 -3", kPeriod, Pending::none},
      {cmdEvery, "5,3", kPeriod, Pending::none},
  });
}

TEST_F(ShellGrammar, EveryStoresCountAndPeriodButNotTheMode) {
  gSampleMode = SampleMode::hp;
  run(cmdEvery, "3 2");
  EXPECT_EQ(gRepeatCount, 3u);
  EXPECT_EQ(gRepeatPeriodSec, 2u);
  EXPECT_EQ(gSampleMode, SampleMode::hp);
}

TEST_F(ShellGrammar, Dbg1) {
  const char* kNeeds = "err: dbg1 needs <on_ms> <off_ms> <total_ms>";
  const char* kRange = "err: dbg1 <on_ms> <off_ms> in 1..60000, <total_ms> in 1..600000";
  runTable({
      {cmdDbg1, "100 100 150", "ok: dbg1 100 100 150", Pending::dbg1Toggle},
      {cmdDbg1, "60000 1 600000", "ok: dbg1 60000 1 600000", Pending::dbg1Toggle},
      {cmdDbg1, "", kNeeds, Pending::none},
      {cmdDbg1, "100", kNeeds, Pending::none},
      {cmdDbg1, "100 -1 5", kNeeds, Pending::none},
      {cmdDbg1, "100 100", kRange, Pending::none},
      {cmdDbg1, "0 100 1000", kRange, Pending::none},
      {cmdDbg1, "100 60001 1000", kRange, Pending::none},
      {cmdDbg1, "100 100 0", kRange, Pending::none},
      {cmdDbg1, "100 100 600001", kRange, Pending::none},
      {cmdDbg1, "1 1 1 1", kRange, Pending::none},
      {cmdDbg1, "a b c", kRange, Pending::none},
      {cmdDbg1, kLongNumber + " 5", kRange, Pending::none},
      {cmdDbg1, "\"5\"7 100", "ok: dbg1 5 7 100", Pending::dbg1Toggle},
  });
}

TEST_F(ShellGrammar, Provision) {
  runTable({
      {cmdProvision, "", "ok: provision (LoRa assign+confirm, blocking until done)", Pending::provision},
      {cmdProvision, "  ", "ok: provision (LoRa assign+confirm, blocking until done)", Pending::provision},
      {cmdProvision, "now", "err: provision takes no arguments", Pending::none},
  });
}

TEST_F(ShellGrammar, Set) {
  const char* kUid = "err: uid needs 1..6 hex digits (24-bit value)";
  const char* kHmac = "err: hmacHash needs 32 hex digits (128 bits)";
  const char* kPhase = "err: phase needs fixed-point rad (max 5 decimal)";
  const char* kClamp = "err: clampMapping needs <index 0..9> <in> <out> (max 5 decimal)";
  const std::string key32 = "00112233445566778899AABBCCDDEEFF";
  runTable({
      {cmdSet, "", "err: set needs <var> <value> (phase|uid|hmacHash|clampMapping)", Pending::none},
      {cmdSet, "=5", "err: set needs <var> <value> (phase|uid|hmacHash|clampMapping)", Pending::none},
      {cmdSet, "uid", "err: set uid needs a value", Pending::none},
      {cmdSet, "uid  \t", "err: set uid needs a value", Pending::none},
      {cmdSet, "UID 12", "err: unknown variable", Pending::none},
      {cmdSet, "Phase 0.1", "err: unknown variable", Pending::none},
      {cmdSet, "uid \"12", "err: setVariable value", Pending::none},
      {cmdSet, "uid " + std::string(100, '1'), "err: setVariable value", Pending::none},
      // uid
      {cmdSet, "uid 0x12AB", "ok: uid staged", Pending::none},
      {cmdSet, "uid ABCDEF", "ok: uid staged", Pending::none},
      {cmdSet, "uid 0", "ok: uid staged", Pending::none},
      {cmdSet, "uid \"7\"", "ok: uid staged", Pending::none},
      {cmdSet, "uid 1234567", kUid, Pending::none},
      {cmdSet, "uid 0x", kUid, Pending::none},
      {cmdSet, "uid 12G", kUid, Pending::none},
      {cmdSet, "uid -1", kUid, Pending::none},
      {cmdSet, "uid 12 34", "ok: uid staged", Pending::none},  // text after the value is ignored
      // hmacHash
      {cmdSet, "hmacHash " + key32, "ok: hmacHash staged", Pending::none},
      {cmdSet, "hmacHash 0x" + key32, "ok: hmacHash staged", Pending::none},
      {cmdSet, "hmacHash " + key32.substr(0, 31), kHmac, Pending::none},
      {cmdSet, "hmacHash " + key32 + "0", kHmac, Pending::none},
      {cmdSet, "hmacHash 00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF", kHmac, Pending::none},
      {cmdSet, "hmacHash " + key32 + " 00", "ok: hmacHash staged", Pending::none},
      {cmdSet, "hmachash " + key32, "err: unknown variable", Pending::none},
      // phase
      {cmdSet, "phase 0.12", "ok: phase staged", Pending::none},
      {cmdSet, "phase -21474.83648", "ok: phase staged", Pending::none},
      {cmdSet, "phase +21474.83647", "ok: phase staged", Pending::none},
      {cmdSet, "phase 21474.83648", kPhase, Pending::none},
      {cmdSet, "phase 0.123456", kPhase, Pending::none},
      {cmdSet, "phase 1e3", kPhase, Pending::none},
      {cmdSet, "phase .", kPhase, Pending::none},
      {cmdSet, "phase 0.1 0.2", "ok: phase staged", Pending::none},
      {cmdSet, "phase \"0.1 \"", kPhase, Pending::none},
      // clampMapping
      {cmdSet, "clampMapping 3 1.5 -0.25", "ok: clampMapping[3] staged = (1.50000, -0.25000)\n", Pending::none},
      {cmdSet, "clampMapping +9 60 69.00001", "ok: clampMapping[9] staged = (60.00000, 69.00001)\n", Pending::none},
      {cmdSet, "clampMapping 0 .5 5.", "ok: clampMapping[0] staged = (0.50000, 5.00000)\n", Pending::none},
      {cmdSet, "clampMapping 10 1 2", kClamp, Pending::none},
      {cmdSet, "clampMapping -1 1 2", kClamp, Pending::none},
      {cmdSet, "clampMapping 3a 1 2", kClamp, Pending::none},
      {cmdSet, "clampMapping 3", kClamp, Pending::none},
      {cmdSet, "clampMapping 3 1", kClamp, Pending::none},
      {cmdSet, "clampMapping 3 1,2", kClamp, Pending::none},
      {cmdSet, "clampMapping 3 1 2 3", kClamp, Pending::none},
      {cmdSet, "clampMapping 3 1.123456 2", kClamp, Pending::none},
      {cmdSet, "clampMapping 99999999999999999999 1 2", kClamp, Pending::none},
      // An index too long for the value buffer is refused whole, not cut and misread.
      {cmdSet, "clampMapping " + std::string(95, '0') + "1 2 3", "err: setVariable value", Pending::none},
  });
}

TEST_F(ShellGrammar, SetStagesTheValues) {
  run(cmdSet, "uid 0x12AB");
  EXPECT_EQ(gstate().config.uid.toU24(), 0x12ABu);
  EXPECT_EQ(gstate().config.uid.bytes[0], 0xABu);
  run(cmdSet, "hmacHash 00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(gstate().config.hmacKey[0], 0x00u);
  EXPECT_EQ(gstate().config.hmacKey[1], 0x11u);
  EXPECT_EQ(gstate().config.hmacKey[15], 0xFFu);
  run(cmdSet, "phase -0.12");
  EXPECT_FLOAT_EQ(gstate().config.inductive50HzPhaseCorrection, -0.12f);
  // What follows the value is ignored, never read as part of it.
  run(cmdSet, "uid 12 34");
  EXPECT_EQ(gstate().config.uid.toU24(), 0x12u);
  run(cmdSet, "phase 0.5 0.25");
  EXPECT_FLOAT_EQ(gstate().config.inductive50HzPhaseCorrection, 0.5f);
  run(cmdSet, "clampMapping 3 1.5 -0.25");
  EXPECT_FLOAT_EQ(gstate().config.clampMapping[3].input, 1.5f);
  EXPECT_FLOAT_EQ(gstate().config.clampMapping[3].output, -0.25f);
  EXPECT_FALSE(gstate().config.ok()) << "staging does not commit";
}

TEST_F(ShellGrammar, RefusedHmacHashKeepsTheOldKey) {
  run(cmdSet, "hmacHash 00112233445566778899AABBCCDDEEFF");
  const auto key = gstate().config.hmacKey;
  run(cmdSet, "hmacHash 0123456789ABCDEF0123456789ABCDE");
  EXPECT_EQ(gstate().config.hmacKey, key);
}

using testing_support::lines;

TEST_F(ShellGrammar, ProvisioningPrintoutAfterStagingPointThree) {
  SCU::printProvisioningInfo();
  const std::vector<std::string> before = lines(takeOutput());
  run(cmdSet, "clampMapping 3 1.5 -0.25");
  SCU::printProvisioningInfo();
  const std::vector<std::string> after = lines(takeOutput());
  ASSERT_EQ(before.size(), after.size());
  int changed = 0;
  for (size_t i = 0; i < after.size(); ++i) {
    if (before[i] == after[i]) continue;
    ++changed;
    EXPECT_EQ(after[i], "clampMapping[3]: in=1.50000 out=-0.25000");
  }
  EXPECT_EQ(changed, 1);
}

TEST_F(ShellGrammar, ProvisioningPrintout) {
  run(cmdSet, "hmacHash 00112233445566778899AABBCCDDEEFF");
  run(cmdSet, "uid 0x12AB");
  run(cmdSet, "phase -0.5");
  SCU::printProvisioningInfo();
  const std::string out = takeOutput();
  EXPECT_EQ(out.substr(0, out.find("clampMapping[0]")),
            "\n ************** \n    Current Provisioning:\r\n"
            "HMAC key (hex): 00112233445566778899AABBCCDDEEFF\n\r"
            "  UID (u24): 4779 (0x0012AB)\r\n"
            "Phase correction: -0.5000 rad\n\r");
  EXPECT_NE(out.find("clampMapping[10]: in=60.00000 out=69.00000\r\n"), std::string::npos);
}

// A busy shell refuses every second arming with the busy line and keeps what was armed first.
TEST_F(ShellGrammar, BusyKeepsTheFirstAction) {
  const char* kBusy = "err: busy, a command is already pending (one at a time)";
  const std::vector<Case> arming = {
      {cmdSample, "hp", kBusy, Pending::sampleRepeat},  {cmdSample, "", kBusy, Pending::sampleRepeat},
      {cmdEvery, "5 5", kBusy, Pending::sampleRepeat},  {cmdDbg1, "10 10 100", kBusy, Pending::sampleRepeat},
      {cmdProvision, "", kBusy, Pending::sampleRepeat},
  };
  for (const Case& c : arming) {
    clearArguments();
    run(cmdEvery, "3 2");
    ASSERT_EQ(gPending, Pending::sampleRepeat);
    EXPECT_EQ(run(c.handler, c.args), c.reply + "\r\n") << c.args;
    EXPECT_EQ(gPending, c.armed) << c.args;
    EXPECT_EQ(gRepeatCount, 3u);
    EXPECT_EQ(gRepeatPeriodSec, 2u);
    EXPECT_EQ(gSampleMode, SampleMode::lp) << "mode untouched";
    EXPECT_EQ(gDbg1OnMs, kSentinel);
  }
}

}  // namespace
