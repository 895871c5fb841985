// The shell's radio commands: argument grammar of "tx" and "rx" (reply, what is stored, what is
// armed), the identity warning, and the receive-window table with each outcome and warning.
#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "DemoShellSample.h"
#include "DemoShellTx.h"
#include "SerialCommandUtil.h"
#include "gpio_model.h"
#include "gstate.h"
#include "radio_fixture.h"

namespace {

using testing_support::lines;
using testing_support::takeOutput;

constexpr uint8_t kUnset = 0xEE;

class ShellTxTest : public testing_support::RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    setGstate().config.uid.storeU24(0x12AB);
    clearArguments();
    takeOutput();
  }
  static void clearArguments() {
    gPending = Pending::none;
    gTxPacket = static_cast<TxPacket>(kUnset);
    gRxWindowMs = gP5ListenMs = kUnset;
    std::memset(gRawPayload, kUnset, sizeof gRawPayload);
    gRawLen = kUnset;
    gRawSkipCsma = false;
  }
  static std::vector<std::string> run(SCU::CommandHandler handler, const std::string& args) {
    handler(args.c_str());
    return lines(takeOutput());
  }
};

struct Stored {
  TxPacket packet = static_cast<TxPacket>(kUnset);
  uint16_t rxMs = kUnset;
  uint16_t p5Ms = kUnset;
  std::vector<uint8_t> raw;  // empty: nothing stored
  bool skipCsma = false;
};

struct Case {
  SCU::CommandHandler handler;
  std::string args;
  std::vector<std::string> reply;
  Pending armed;
  Stored stored;
};

TEST_F(ShellTxTest, Grammar) {
  const std::string kTakes = "err: tx takes nothing (production path) or p3|p5|p7|p8|p9|p10|debug";
  const std::string kP5 = "err: tx p5 [ms] takes a listen window in 250..60000";
  const std::string kRun = "err: tx raw payload must be one unbroken run of hex digits (no spaces)";
  const std::string kNeeds = "err: tx raw needs hex bytes, e.g. tx raw 01AB23  (or: tx raw -n 01AB23)";
  const std::string kRx = "err: rx needs <ms> in 1..60000";
  const std::string hex180(180, 'A');
  const std::vector<Case> cases = {
      {cmdTx, "", {"ok: tx (full production loraBlock)"}, Pending::txBlock, {}},
      {cmdTx, "  ", {"ok: tx (full production loraBlock)"}, Pending::txBlock, {}},
      {cmdTx, "p3", {"ok: tx p3"}, Pending::txPacket, {TxPacket::p3}},
      {cmdTx, " p10 ", {"ok: tx p10"}, Pending::txPacket, {TxPacket::p10}},
      {cmdTx,
       "p9",
       {"warn: no sample since boot, p9 will carry an empty ADC buffer", "ok: tx p9"},
       Pending::txPacket,
       {TxPacket::p9}},
      {cmdTx,
       "debug",
       {"warn: no sample since boot, debug will carry an empty ADC buffer", "ok: tx debug"},
       Pending::txPacket,
       {TxPacket::debug}},
      {cmdTx, "p4", {kTakes}, Pending::none, {}},
      {cmdTx, "p3 p7", {kTakes}, Pending::none, {}},
      {cmdTx, "P3", {kTakes}, Pending::none, {}},
      {cmdTx, "-p3", {kTakes}, Pending::none, {}},
      {cmdTx, "p5", {"ok: tx p5 (packet 5 at 14 dBm, then listen 500 ms)"}, Pending::txPacket5, {.p5Ms = 500}},
      {cmdTx, "p5 250", {"ok: tx p5 (packet 5 at 14 dBm, then listen 250 ms)"}, Pending::txPacket5, {.p5Ms = 250}},
      {cmdTx,
       "p5 60000",
       {"ok: tx p5 (packet 5 at 14 dBm, then listen 60000 ms)"},
       Pending::txPacket5,
       {.p5Ms = 60000}},
      {cmdTx, "p5 249", {kP5}, Pending::none, {}},
      {cmdTx, "p5 60001", {kP5}, Pending::none, {}},
      {cmdTx, "p5 300 1", {kP5}, Pending::none, {}},
      {cmdTx, "p5 x", {kP5}, Pending::none, {}},
      {cmdTx,
       "raw -n 0x01AB",
       {"ok: tx raw 2 bytes, ~31 ms on air, no CSMA"},
       Pending::txRaw,
       {.raw = {0x01, 0xAB}, .skipCsma = true}},
      {cmdTx, "raw 01", {"ok: tx raw 1 bytes, ~26 ms on air"}, Pending::txRaw, {.raw = {0x01}}},
      {cmdTx,
       "raw " + hex180,
       {"ok: tx raw 90 bytes, ~159 ms on air"},
       Pending::txRaw,
       {.raw = std::vector<uint8_t>(90, 0xAA)}},
      {cmdTx, "raw " + hex180 + "AA", {"err: tx raw max 90 bytes (180 hex digits)"}, Pending::none, {}},
      {cmdTx, "raw 01 AB", {kRun}, Pending::none, {}},
      {cmdTx, "raw 1AB", {"err: tx raw needs an even number of hex digits (2 per byte)"}, Pending::none, {}},
      {cmdTx, "raw -n", {kRun}, Pending::none, {}},
      {cmdTx, "raw -n   ", {kNeeds}, Pending::none, {}},
      {cmdTx, "raw", {kNeeds}, Pending::none, {}},
      {cmdTx, "raw 0xZZ", {kRun}, Pending::none, {}},
      {cmdRx, "1", {"ok: rx 1"}, Pending::rxWindow, {.rxMs = 1}},
      {cmdRx, "60000", {"ok: rx 60000"}, Pending::rxWindow, {.rxMs = 60000}},
      {cmdRx, "0", {kRx}, Pending::none, {}},
      {cmdRx, "60001", {kRx}, Pending::none, {}},
      {cmdRx, "", {kRx}, Pending::none, {}},
      {cmdRx, "5 5", {kRx}, Pending::none, {}},
  };
  for (const Case& c : cases) {
    clearArguments();
    const std::string what = std::string(c.handler == cmdTx ? "tx '" : "rx '") + c.args + "'";
    EXPECT_EQ(run(c.handler, c.args), c.reply) << what;
    EXPECT_EQ(gPending, c.armed) << what;
    EXPECT_EQ(gTxPacket, c.stored.packet) << what;
    EXPECT_EQ(gRxWindowMs, c.stored.rxMs) << what;
    EXPECT_EQ(gP5ListenMs, c.stored.p5Ms) << what;
    if (c.stored.raw.empty()) {
      EXPECT_EQ(gRawLen, kUnset) << what;
    } else {
      EXPECT_EQ(std::vector<uint8_t>(gRawPayload, gRawPayload + gRawLen), c.stored.raw) << what;
      EXPECT_EQ(gRawSkipCsma, c.stored.skipCsma) << what;
    }
  }
}

TEST_F(ShellTxTest, ACaptureSilencesTheEmptyBufferWarning) {
  gCaptureDone = true;
  EXPECT_EQ(run(cmdTx, "debug"), std::vector<std::string>({"ok: tx debug"}));
  gCaptureDone = false;
}

TEST_F(ShellTxTest, ABusyShellKeepsWhatWasArmed) {
  run(cmdTx, "p5 300");
  for (const char* args : {"p3", "p5 400", "raw 0102", ""}) {
    EXPECT_EQ(run(cmdTx, args).back(), "err: busy, a command is already pending (one at a time)") << args;
  }
  EXPECT_EQ(run(cmdRx, "100").back(), "err: busy, a command is already pending (one at a time)");
  EXPECT_EQ(gPending, Pending::txPacket5);
  EXPECT_EQ(gP5ListenMs, 300u);
  EXPECT_EQ(gTxPacket, static_cast<TxPacket>(kUnset));
  EXPECT_EQ(gRawLen, kUnset);
  EXPECT_EQ(gRxWindowMs, kUnset);
}

TEST_F(ShellTxTest, WithoutAnIdentityEveryTxAndRxWarnsFirst) {
  setGstate().config.uid.storeU24(0);
  const std::vector<std::string> warning = {
      "warn: uid is 0 -- assign a valid uid before useful TX/RX",
      "warn:   set uid 0xNNNNNN then save   (value agreed with Brannoc)",
      "warn:   or: provision                 (full automatic LoRa assign+confirm)"};
  for (const auto& [handler, args] : std::vector<std::pair<SCU::CommandHandler, const char*>>{
           {cmdTx, ""}, {cmdTx, "p4"}, {cmdTx, "raw 1"}, {cmdRx, "0"}, {cmdRx, "50"}}) {
    clearArguments();
    const std::vector<std::string> out = run(handler, args);
    ASSERT_GE(out.size(), 4u) << args;
    EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + 3), warning) << args;
  }
}

// The window table of "rx" for each way a window can end.
TEST_F(ShellTxTest, ReceiveWindowTables) {
  struct Case {
    const char* what;
    std::vector<std::string> script;
    std::vector<std::string> table;  // from the outcome row on, without the elapsed time
    const char* fault = "";
    bool failReArm = false;  // once the window is armed, every further SetRx fails
  };
  const Case cases[] = {
      {"a frame",
       {"in_rx_ms=50 data=0E0102 rssi=-80 snr=7"},
       {"rx-done", "frame (bytes)|3", "rssi (dBm)|-80", "snr (dB)|7", "corrupt dropped|0"}},
      {"one rejected frame, then nothing",
       {"in_rx_ms=50 data=0E0102 crc=bad"},
       {"timeout", "frame|none", "corrupt dropped|1"}},
      {"nothing", {}, {"timeout", "frame|none", "corrupt dropped|0"}},
      {"an empty frame",
       {"in_rx_ms=50 data="},
       {"rx-done", "frame|none", "corrupt dropped|0",
        "warn: RX_DONE but no payload came out of the FIFO -- suspect SPI"}},
      {"no radio",
       {},
       {"setup-failed", "frame|none", "corrupt dropped|0",
        "warn: the radio never entered RX -- check the lora switch pin and SPI"},
       "absent"},
      {"a silent chip",
       {},
       {"poll-expired", "frame|none", "corrupt dropped|0",
        "warn: no IRQ before the poll limit -- the radio stopped answering, suspect SPI"},
       "irq-silent"},
      {"a rejected frame and no re-arm",
       {"in_rx_ms=50 data=0E0102 crc=bad"},
       {"crc-error", "frame|none", "corrupt dropped|1",
        "warn: a frame was rejected and RX could not be re-armed -- window ended early"},
       "",
       true},
  };
  for (const Case& c : cases) {
    SetUp();
    for (const std::string& line : c.script) sim::board().airScript().add(scripted(line));
    std::string error;
    if (*c.fault != '\0') {
      ASSERT_TRUE(chip().applyFault(c.fault, error)) << error;
    }
    if (c.failReArm) {
      medium().onReceiverArmed([this](const std::string&, uint64_t, uint64_t length) {
        if (length == 300000) chip().faults().failOpcode = 0x82;
      });
    }
    gRxWindowMs = 300;
    runRxWindow();
    // Log lines end in LF CR, shell lines in CR LF: split at every line feed, drop the returns.
    std::vector<std::string> out;
    std::istringstream text(takeOutput());
    for (std::string l; std::getline(text, l);) {
      l.erase(std::remove(l.begin(), l.end(), '\r'), l.end());
      out.push_back(l);
    }
    // Rows as "label|value", warnings as they are.
    std::vector<std::string> got;
    bool inTable = false;
    for (const std::string& l : out) {
      if (l.rfind("  rx window ", 0) == 0) {
        inTable = true;
        continue;
      }
      if (!inTable || l.empty() || l.rfind("  ----", 0) == 0) continue;
      const size_t bar = l.find('|');
      if (bar == std::string::npos) {
        got.push_back(l);
        continue;
      }
      std::string label = l.substr(2, bar - 2);
      label.erase(label.find_last_not_of(' ') + 1);
      std::string value = l.substr(bar + 1);
      value.erase(0, value.find_first_not_of(' '));
      if (label == "elapsed (ms)") continue;
      got.push_back(label == "outcome" ? value : label + "|" + value);
    }
    ASSERT_FALSE(got.empty()) << c.what;
    EXPECT_EQ(got.front(), "window (ms)|300") << c.what;
    EXPECT_EQ(std::vector<std::string>(got.begin() + 1, got.end()), c.table) << c.what;
    EXPECT_NE(std::find(out.begin(), out.end(),
                        "note: no packet 5 was sent; the Vantor forwards only after one (use: tx p5)"),
              out.end())
        << c.what;
    EXPECT_FALSE(sim::board().gpio().level(0, 8)) << c.what << ": the supply is cut after the window";
  }
}

}  // namespace
