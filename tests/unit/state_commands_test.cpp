// Shell commands of the persistent state: "sleep" arguments, "print" targets, "save" and
// "unprovision" with the flash failing under them.
#include <gtest/gtest.h>

#include <string>

#include "DemoShell.h"
#include "DeviceConfig.h"
#include "flash_model.h"
#include "gstate.h"
#include "test_board.h"

namespace {

class StateCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::freshBoard();
    testing_support::takeOutput();
  }
  // The reply of one command line, without the framing.
  static std::string run(const std::string& line) {
    testing_support::typeAndPoll(line + "\r\n");
    std::string out = testing_support::takeOutput();
    const std::string head = "##########################\r\n> " + line + "\r\n\r\n\r\n";
    const std::string tail = "##########################\r\n";
    EXPECT_EQ(out.compare(0, head.size(), head), 0) << out;
    if (out.size() >= head.size() + tail.size()) out = out.substr(head.size(), out.size() - head.size() - tail.size());
    return out;
  }
};

TEST_F(StateCommandsTest, SleepTakesOneSecondsValue) {
  const struct {
    const char* line;
    bool ok;
    uint16_t secs;
  } cases[] = {
      {"sleep 1", true, 1},     {"sleep 65535", true, 65535},    {"sleep  +7 ", true, 7},
      {"sleep 0", false, 0},    {"sleep 65536", false, 0},       {"sleep -1", false, 0},
      {"sleep", false, 0},      {"sleep 5 6", false, 0},         {"sleep 1.5", false, 0},
      {"sleep 0x10", false, 0}, {"sleep 99999999999", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    gPending = Pending::none;
    gStandbySecs = 4242;
    const std::string reply = run(c.line);
    if (c.ok) {
      EXPECT_EQ(reply, "ok: sleep " + std::to_string(c.secs) + " (standby now, board will reset on wake)\r\n");
      EXPECT_EQ(gPending, Pending::standby);
      EXPECT_EQ(gStandbySecs, c.secs);
    } else {
      EXPECT_EQ(reply, "err: sleep needs <sec> in 1..65535\r\n");
      EXPECT_EQ(gPending, Pending::none);
      EXPECT_EQ(gStandbySecs, 4242);
    }
  }
}

TEST_F(StateCommandsTest, SleepWhileBusyKeepsTheArmedAction) {
  gPending = Pending::sample;
  gStandbySecs = 9;
  EXPECT_EQ(run("sleep 5"), "err: busy, a command is already pending (one at a time)\r\n");
  EXPECT_EQ(gPending, Pending::sample);
  EXPECT_EQ(gStandbySecs, 9);
}

TEST_F(StateCommandsTest, PrintDispatchesOnItsTargetName) {
  const std::string table = run("print rtc");
  EXPECT_EQ(table.rfind("RTC backup status:\r\n", 0), 0u) << table;
  EXPECT_NE(table.find("  timeSinceLastLoraRX            |          0 | 0x00000000\r\nok: print\r\n"),
            std::string::npos)
      << table;
  EXPECT_EQ(run("print rtc and more"), table);
  const std::string err = "err: print takes adc|rms|power|csv|rtc|prov|adcinfo|vref|temp|soc\r\n";
  EXPECT_EQ(run("print"), err);
  EXPECT_EQ(run("print RTC"), err);
  EXPECT_EQ(run("print rtcx"), err);
  EXPECT_EQ(run("print ;"), err);
}

TEST_F(StateCommandsTest, SaveReportsTheOutcome) {
  setGstate().config.uid.storeU24(0x0000AB);
  EXPECT_EQ(run("save"), "ok: save (config.ok now yes)\r\n");
  setGstate().config.uid.storeU24(0x0000CD);
  sim::board().flash().faults().programFailsAt = 3;
  EXPECT_EQ(run("save"), "err: save failed (flash write)\r\n");
  EXPECT_EQ(gstate().config.uid.toU24(), 0u) << "the page lost its record: defaults are live";
  EXPECT_FALSE(gstate().config.ok());
}

TEST_F(StateCommandsTest, UnprovisionResetsOnlyAfterAnErase) {
  setGstate().config.uid.storeU24(0x0000AB);
  ASSERT_TRUE(DeviceConfig::commit());
  gPending = Pending::sample;

  sim::board().flash().faults().eraseFails = true;
  EXPECT_EQ(run("unprovision"), "err: unprovision failed (flash erase)\r\n");
  EXPECT_EQ(gPending, Pending::sample);
  EXPECT_TRUE(gstate().config.ok());

  sim::board().flash().faults().eraseFails = false;
  EXPECT_EQ(run("unprovision"), "ok: unprovision (config erased, resetting)\r\n");
  EXPECT_EQ(gPending, Pending::reset) << "replaces the armed action";
  EXPECT_FALSE(gstate().config.ok());
  gPending = Pending::none;
}

}  // namespace
