// "print" through the real console path: every target is reached, the one-row targets print
// one row and store what they measured, and a wrong target prints only the error line.
#include <gtest/gtest.h>

#include <string>

#include "DemoShell.h"
#include "MCUState.h"
#include "gstate.h"
#include "measure_bench.h"
#include "test_board.h"

namespace {

using testing_support::takeOutput;
using testing_support::typeAndPoll;

const std::string kRule = "##########################\r\n";

// The command's block: rule, echo, two empty lines, `body`, rule.
std::string framed(const std::string& line, const std::string& body) {
  return kRule + "> " + line + "\r\n\r\n\r\n" + body + kRule;
}

class ShellPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::bringUpMeasurementBoard();
    takeOutput();
  }
};

TEST_F(ShellPrint, OneRowTargets) {
  setGstate().adc.VRef = 3.26f;
  setGstate().temperature = 25.0f;
  typeAndPoll("print vref\n");
  EXPECT_EQ(takeOutput(), framed("print vref", "  VRef (V)                 |         3.260\r\nok: print\r\n"));
  typeAndPoll("print soc\n");
  EXPECT_EQ(takeOutput(), framed("print soc", "  SoC                      |         0.500\r\nok: print\r\n"));
  EXPECT_FLOAT_EQ(mcustate().SoC, 0.5f);
  // "temp" measures again (the scenario's chip is at 25 C) and stores what it read.
  setGstate().adc.VRef = 3.3f;
  setGstate().temperature = -99.0f;
  typeAndPoll("print temp\n");
  const std::string out = takeOutput();
  EXPECT_NE(out.find("  temperature (C)          |        "), std::string::npos) << out;
  EXPECT_NEAR(gstate().temperature, 25.0f, 1.0f);
}

TEST_F(ShellPrint, EveryTargetIsReached) {
  for (const char* target : {"adc", "rms", "power", "csv", "rtc", "prov", "adcinfo", "vref", "temp", "soc"}) {
    typeAndPoll(std::string("print ") + target + "\n");
    const std::string out = takeOutput();
    EXPECT_NE(out.find("ok: print\r\n" + kRule), std::string::npos) << target << "\n" << out;
    EXPECT_EQ(out.find("err: "), std::string::npos) << target;
  }
}

TEST_F(ShellPrint, WrongTargets) {
  const std::string err = "err: print takes adc|rms|power|csv|rtc|prov|adcinfo|vref|temp|soc\r\n";
  for (const char* line : {"print", "print   ", "print VREF", "print vrefs", "print 5", "print \"vref"}) {
    typeAndPoll(std::string(line) + "\n");
    EXPECT_EQ(takeOutput(), framed(line, err)) << line;
  }
}

// Every command of the table is found (case-sensitively) and none of them arms anything when
// its arguments are wrong.
TEST_F(ShellPrint, CommandTableNames) {
  for (const char* line : {"info", "compileInfo", "sample x", "every x", "print x", "set", "dbg1", "sleep",
                           "provision x", "tx x", "rx x"}) {
    typeAndPoll(std::string(line) + "\n");
    const std::string out = takeOutput();
    EXPECT_EQ(out.find("unknown command"), std::string::npos) << line;
    EXPECT_EQ(gPending, Pending::none) << line;
  }
  for (const char* line : {"Info", "SAMPLE", "Every 3 2", "Provision", "TX", "Rx 100"}) {
    typeAndPoll(std::string(line) + "\n");
    EXPECT_EQ(takeOutput(), framed(line, "err: unknown command (try 'help')\r\n")) << line;
  }
}

}  // namespace
